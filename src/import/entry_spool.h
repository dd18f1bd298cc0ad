#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "import/entry.h"
#include "os/file.h"

namespace pasarela {

// Entries written aside in the staging folder, compactly, to be taken again in the same
// order once the file has been read: what a step can only do once the tables it needs are
// complete, without holding the entries in memory.
class EntrySpool {
public:
    explicit EntrySpool(std::filesystem::path path);
    EntrySpool(const EntrySpool&) = delete;
    EntrySpool& operator=(const EntrySpool&) = delete;
    ~EntrySpool();

    void Append(const Entry& entry);
    std::size_t Count() const { return count_; }
    // Hands every entry back, in the order appended.
    template <typename Use>
    void Replay(Use use)
    {
        Rewind();
        while (NextEntry())
            use(Entry(element_, number_, refs_));
    }

private:
    void Rewind();
    bool NextEntry();
    void FlushWrites();
    bool Fill(std::size_t need);

    std::filesystem::path path_;
    File file_;
    std::string buffer_;
    std::uint64_t written_ = 0;
    std::size_t count_ = 0;
    // Reading back.
    std::uint64_t readAt_ = 0;
    std::size_t bufferPos_ = 0;
    std::string element_;
    std::size_t number_ = 0;
    std::vector<XmlAttributeRef> refs_;
};

}  // namespace pasarela
