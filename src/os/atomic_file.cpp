#include "os/atomic_file.h"

#include <atomic>
#include <chrono>
#include <string_view>

#include "os/error.h"

namespace pasarela {
namespace {

constexpr std::size_t kBufferSize = 1 << 16;

// A name no other writer in this folder is using: the head of the target's name, then "~",
// a counter mixed with the clock and ".tmp", a tag that tools and users recognise as
// temporary. From 13 characters up it is exactly as long as the target's name, so a name
// or path that the system takes for the target is never refused for its temporary twin.
std::filesystem::path TempPathFor(const std::filesystem::path& target)
{
    static std::atomic<unsigned> counter{0};
    auto stamp = static_cast<unsigned long long>(std::chrono::steady_clock::now().time_since_epoch().count());
    unsigned long long number = (stamp ^ (counter.fetch_add(1) * 2654435761ull)) % 100000000ull;
    // Filled in place: GCC 12 at -O3 takes a chain of string concatenations here for an
    // overlapping copy and stops the build.
    char digits[] = "~00000000.tmp";
    for (std::size_t at = 8; at >= 1 && number > 0; --at, number /= 10)
        digits[at] = static_cast<char>('0' + number % 10);
    const std::string_view tag(digits, sizeof digits - 1);

    using Native = std::filesystem::path::string_type;
    const Native name = target.filename().native();
    std::size_t keep = name.size() > tag.size() ? name.size() - tag.size() : 0;
    // Never half a character: a UTF-8 continuation byte, or the low half of a UTF-16 pair.
    const auto continues = [&](std::size_t at) {
        const auto unit = static_cast<std::uint32_t>(name[at]);
        if constexpr (sizeof(Native::value_type) == 1)
            return (unit & 0xC0u) == 0x80u;
        else
            return unit >= 0xDC00u && unit <= 0xDFFFu;
    };
    while (keep > 0 && continues(keep))
        --keep;
    Native temp = name.substr(0, keep);
    temp.append(tag.begin(), tag.end());
    return target.parent_path() / temp;
}

// Runs a step on the temporary file. Its failure leads with the file being saved: the user
// knows that one, not the temporary name the reason gives.
template <typename Step>
void SavingStep(const std::filesystem::path& target, Step step)
{
    try {
        step();
    } catch (const Error& e) {
        RethrowWithContext("No se puede guardar el archivo '" + DisplayPath(target) + "'", e);
    }
}

}  // namespace

AtomicFile::AtomicFile(std::filesystem::path target) : target_(std::move(target))
{
    for (int attempt = 0;; ++attempt) {
        temp_ = TempPathFor(target_);
        const auto taken = [this] {
            std::error_code ec;
            return std::filesystem::exists(temp_, ec) || IsLink(temp_);
        };
        if (taken() && attempt < 10)
            continue;
        try {
            // Made new, never opened through a name that another path may share: a file or
            // link planted under this name is neither cut nor written through.
            file_ = File::Open(temp_, File::Mode::CreateNew, File::Links::Refuse);
        } catch (const Error& e) {
            if (taken() && attempt < 10)
                continue;  // another writer took the name in that instant
            std::error_code dirEc;
            if (!std::filesystem::is_directory(target_.parent_path().empty() ? "." : target_.parent_path(), dirEc))
                throw Error("No existe la carpeta '" + DisplayPath(target_.parent_path()) + "'");
            RethrowWithContext("No se puede guardar el archivo '" + DisplayPath(target_) + "'", e);
        }
        break;
    }
    buffer_.reserve(kBufferSize);
}

AtomicFile::~AtomicFile()
{
    if (!committed_) {
        file_.Close();
        std::error_code ec;
        std::filesystem::remove(temp_, ec);
    }
}

void AtomicFile::Write(std::string_view bytes)
{
    if (buffer_.size() + bytes.size() > kBufferSize) {
        Flush();
        if (bytes.size() >= kBufferSize) {
            SavingStep(target_, [&] { file_.WriteAt(written_, bytes.data(), bytes.size()); });
            written_ += bytes.size();
            return;
        }
    }
    buffer_.insert(buffer_.end(), bytes.begin(), bytes.end());
}

void AtomicFile::Flush()
{
    if (buffer_.empty())
        return;
    SavingStep(target_, [this] { file_.WriteAt(written_, buffer_.data(), buffer_.size()); });
    written_ += buffer_.size();
    buffer_.clear();
}

void AtomicFile::Commit(Durability durability)
{
    Flush();
    if (durability == Durability::Synced)
        SavingStep(target_, [this] { file_.Sync(); });
    file_.Close();
    ReplaceFileChecked(temp_, target_);
    committed_ = true;
}

}  // namespace pasarela
