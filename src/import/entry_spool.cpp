#include "import/entry_spool.h"

#include <algorithm>
#include <cstring>
#include <system_error>

#include "os/error.h"

namespace pasarela {

namespace {

constexpr std::size_t kSpoolBlock = std::size_t{1} << 20;

void PutNumber(std::string& out, std::size_t value)
{
    const auto number = static_cast<std::uint32_t>(value);
    char bytes[4];
    std::memcpy(bytes, &number, sizeof bytes);
    out.append(bytes, sizeof bytes);
}

void PutText(std::string& out, std::string_view text)
{
    PutNumber(out, text.size());
    out.append(text);
    out.push_back('\0');
}

}  // namespace

EntrySpool::EntrySpool(std::filesystem::path path)
    : path_(std::move(path)), file_(File::Open(path_, File::Mode::Create, File::Links::Refuse))
{
}

EntrySpool::~EntrySpool()
{
    file_.Close();
    std::error_code ec;
    std::filesystem::remove(path_, ec);
}

void EntrySpool::Append(const Entry& entry)
{
    PutNumber(buffer_, entry.Number());
    PutNumber(buffer_, entry.Attributes().size());
    PutText(buffer_, entry.Element());
    for (const XmlAttributeRef& attribute : entry.Attributes()) {
        PutText(buffer_, attribute.name);
        PutText(buffer_, attribute.value);
    }
    ++count_;
    if (buffer_.size() >= kSpoolBlock)
        FlushWrites();
}

void EntrySpool::FlushWrites()
{
    if (buffer_.empty())
        return;
    file_.WriteAt(written_, buffer_.data(), buffer_.size());
    written_ += buffer_.size();
    buffer_.clear();
}

void EntrySpool::Rewind()
{
    FlushWrites();
    readAt_ = 0;
    bufferPos_ = 0;
    buffer_.clear();
}

// Makes sure `need` bytes from the read position are in the buffer; false at the end.
bool EntrySpool::Fill(std::size_t need)
{
    if (buffer_.size() - bufferPos_ >= need)
        return true;
    buffer_.erase(0, bufferPos_);
    bufferPos_ = 0;
    while (buffer_.size() < need && readAt_ < written_) {
        const std::size_t want = static_cast<std::size_t>(
            std::min<std::uint64_t>(std::max(kSpoolBlock, need - buffer_.size()), written_ - readAt_));
        const std::size_t before = buffer_.size();
        buffer_.resize(before + want);
        const std::size_t got = file_.ReadAt(readAt_, buffer_.data() + before, want);
        buffer_.resize(before + got);
        readAt_ += got;
        if (got == 0)
            break;
    }
    return buffer_.size() >= need;
}

bool EntrySpool::NextEntry()
{
    // The whole record is read before any pointer into the buffer is taken.
    const auto number = [this](std::size_t at) {
        std::uint32_t value = 0;
        std::memcpy(&value, buffer_.data() + bufferPos_ + at, sizeof value);
        return static_cast<std::size_t>(value);
    };
    if (!Fill(8))
        return false;
    const std::size_t attributes = number(4);
    std::size_t size = 8;
    for (std::size_t text = 0; text < 1 + 2 * attributes; ++text) {
        if (!Fill(size + 4))
            throw Error("No se pudo leer de nuevo el archivo auxiliar " + QuotedPath(path_));
        size += 4 + number(size) + 1;
    }
    if (!Fill(size))
        throw Error("No se pudo leer de nuevo el archivo auxiliar " + QuotedPath(path_));
    number_ = number(0);
    std::size_t at = bufferPos_ + 8;
    const auto take = [&] {
        std::uint32_t length = 0;
        std::memcpy(&length, buffer_.data() + at, sizeof length);
        const char* text = buffer_.data() + at + 4;
        at += 4 + length + 1;
        return text;
    };
    element_ = take();
    refs_.clear();
    for (std::size_t i = 0; i < attributes; ++i) {
        const char* name = take();
        const char* value = take();
        refs_.push_back({name, value});
    }
    bufferPos_ += size;
    return true;
}

}  // namespace pasarela
