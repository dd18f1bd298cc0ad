#include "platform/atomic_file.h"

#include <atomic>
#include <chrono>

#include "platform/error.h"

namespace pasarela {
namespace {

constexpr std::size_t kBufferSize = 1 << 16;

// A name no other writer in this folder is using: the target's name, a tag that tools
// and users recognise as temporary, and a counter mixed with the clock.
std::filesystem::path TempPathFor(const std::filesystem::path& target)
{
    static std::atomic<unsigned> counter{0};
    auto stamp = static_cast<unsigned long long>(std::chrono::steady_clock::now().time_since_epoch().count());
    auto name = target.filename();
    name += ".tmp" + std::to_string((stamp ^ (counter.fetch_add(1) * 2654435761ull)) % 100000000ull);
    return target.parent_path() / name;
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
        std::error_code ec;
        const bool existed = std::filesystem::exists(temp_, ec);
        if (existed && attempt < 10)
            continue;
        try {
            file_ = File::Open(temp_, File::Mode::Create);
        } catch (const Error& e) {
            // Opening can fail after the file was made (Windows creates it, then truncates
            // it): one that was not there before is ours to take away again.
            if (!existed) {
                std::error_code removeEc;
                std::filesystem::remove(temp_, removeEc);
            }
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
