#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <optional>
#include <string>
#include <vector>

#include "dbf/dbf_table.h"
#include "os/error.h"
#include "os/error_message.h"

// Helpers shared by the table-store tests: a temporary folder per test and a builder that
// lays out a .DBF byte by byte, so files in layouts we never write stay readable in the test.
namespace pasarela::test {

// Bytes written as numbers, for binary field values and header parts.
inline std::string Bytes(std::initializer_list<int> values)
{
    std::string bytes;
    for (int value : values)
        bytes += static_cast<char>(value);
    return bytes;
}

// Open options for writing, the way the import steps open the tables they build.
inline DbfTable::OpenOptions ReadWrite()
{
    DbfTable::OpenOptions options;
    options.access = DbfTable::Access::ReadWrite;
    return options;
}

inline std::string Zeros(std::size_t count) { return std::string(count, '\0'); }

inline std::string ReadFileBytes(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        ADD_FAILURE() << "cannot read " << path.string();
    std::string bytes;
    char chunk[4096];
    while (in.read(chunk, sizeof chunk) || in.gcount() > 0)
        bytes.append(chunk, static_cast<std::size_t>(in.gcount()));
    return bytes;
}

inline void WriteFileBytes(const std::filesystem::path& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    ASSERT_TRUE(out.good()) << "cannot write " << path.string();
}

// A folder of its own for each test, removed afterwards even when the test fails.
class TempFolderTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        static std::atomic<unsigned> counter{0};
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
        for (int attempt = 0; attempt < 100; ++attempt) {
            folder_ = std::filesystem::temp_directory_path() /
                      ("pasarela-" + std::string(info->name()) + "-" + std::to_string(stamp % 1000000007) + "-" +
                       std::to_string(counter.fetch_add(1)));
            if (std::filesystem::create_directory(folder_))
                return;
        }
        FAIL() << "cannot create a temporary folder";
    }

    void TearDown() override
    {
        std::error_code ec;
        std::filesystem::remove_all(folder_, ec);
    }

    // File names in the folder, sorted, to show that nothing was left behind.
    std::vector<std::string> FolderContents() const
    {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(folder_))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    std::filesystem::path folder_;
};

// One field as it goes into a header. `width` is the bytes it takes in a record; the length
// byte gets its low byte, so FoxPro's 300-byte text field is {"LARGO", 'C', 300, 1}.
struct FieldBytes {
    std::string name{};
    char type = 'C';
    int width = 0;
    int decimals = 0;
    int flags = 0;  // Visual FoxPro's descriptor byte 18: 0x02 nullable, 0x01 hidden
};

// One record: the deletion flag and a cell per field, blank-filled on the right to the
// field's width (binary values must be given whole).
struct RowBytes {
    char flag = ' ';
    std::vector<std::string> cells{};
};

// A .DBF of any dialect, laid out from the format's description. Level 7 is chosen by the
// version byte as readers do ((version & 7) == 4); Visual FoxPro versions get the 263-byte
// backlink inside the header length. The quirk members reproduce damage met in the wild.
struct DbfBuilder {
    std::uint8_t version = 0x03;
    std::uint8_t languageId = 0x57;   // byte 29, classic layouts only
    std::string driver = "DBWINUS0";  // bytes 32-63, level 7 only
    std::vector<FieldBytes> fields{};
    std::vector<RowBytes> rows{};

    std::optional<std::uint32_t> count{};             // record count in the header (default: rows)
    std::optional<std::uint16_t> headerLength{};      // default: what the descriptors take
    std::optional<std::uint16_t> recordLength{};      // default: 1 + the field widths
    std::optional<unsigned char> terminator = 0x0D;   // nullopt: the descriptors just end
    std::size_t headerPadding = 0;                    // zeros after the terminator, inside the header
    std::size_t recordPadding = 0;                    // bytes after the last field of each record
    bool endMark = true;                              // the 0x1A after the last record
    std::string tail{};                               // bytes after everything else

    bool Level7() const { return (version & 0x07) == 0x04; }
    bool VisualFoxPro() const { return version >= 0x30 && version <= 0x32; }

    std::string Build() const
    {
        const std::size_t start = Level7() ? 68 : 32;
        const std::size_t descriptorSize = Level7() ? 48 : 32;
        std::string head(start, '\0');
        head[0] = static_cast<char>(version);
        head[1] = 124;  // 2024-05-06
        head[2] = 5;
        head[3] = 6;
        PutLe(head, 4, count.value_or(static_cast<std::uint32_t>(rows.size())), 4);
        std::uint32_t sum = 1;
        for (const FieldBytes& f : fields)
            sum += static_cast<std::uint32_t>(f.width);
        PutLe(head, 10, recordLength.value_or(static_cast<std::uint16_t>(sum)), 2);
        if (Level7())
            head.replace(32, driver.size(), driver);
        else
            head[29] = static_cast<char>(languageId);

        std::uint32_t offset = 1;
        for (const FieldBytes& f : fields) {
            std::string descriptor(descriptorSize, '\0');
            const std::size_t typeAt = Level7() ? 32 : 11;
            const std::size_t lengthAt = Level7() ? 33 : 16;
            descriptor.replace(0, f.name.size(), f.name);
            descriptor[typeAt] = f.type;
            descriptor[lengthAt] = static_cast<char>(f.width & 0xFF);
            descriptor[lengthAt + 1] = static_cast<char>(f.decimals);
            if (VisualFoxPro()) {
                PutLe(descriptor, 12, offset, 4);
                descriptor[18] = static_cast<char>(f.flags);
            }
            offset += static_cast<std::uint32_t>(f.width);
            head += descriptor;
        }
        if (terminator)
            head += static_cast<char>(*terminator);
        if (VisualFoxPro())
            head += Zeros(263);
        head += Zeros(headerPadding);
        PutLe(head, 8, headerLength.value_or(static_cast<std::uint16_t>(head.size())), 2);

        std::string file = head;
        for (const RowBytes& row : rows) {
            file += row.flag;
            for (std::size_t i = 0; i < fields.size(); ++i) {
                std::string cell = i < row.cells.size() ? row.cells[i] : "";
                const auto width = static_cast<std::size_t>(fields[i].width);
                if (cell.size() > width)
                    ADD_FAILURE() << "cell '" << cell << "' is wider than field " << fields[i].name;
                cell.resize(width, ' ');
                file += cell;
            }
            file += std::string(recordPadding, '.');
        }
        if (endMark)
            file += '\x1A';
        return file + tail;
    }

private:
    static void PutLe(std::string& bytes, std::size_t at, std::uint32_t value, int size)
    {
        for (int i = 0; i < size; ++i)
            bytes[at + static_cast<std::size_t>(i)] = static_cast<char>((value >> (8 * i)) & 0xFF);
    }
};

}  // namespace pasarela::test
