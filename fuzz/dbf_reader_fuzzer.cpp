// Arbitrary bytes as a table someone hands us: opening, scanning, reading every field in
// every way and searching must end in a value or a pasarela::Error, never in a crash.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "dbf/dbf_table.h"
#include "dbf/table_lookup.h"
#include "fuzz/fuzz_support.h"
#include "os/error.h"

namespace {

const std::filesystem::path& TablePath()
{
    static const pasarela::fuzz::ScratchCleanup scratch{pasarela::fuzz::ScratchFolder("dbf")};
    static const std::filesystem::path path = scratch.folder / "SOLUC.DBF";
    return path;
}

template <typename Read>
void Try(Read read)
{
    try {
        read();
    } catch (const pasarela::Error&) {
    }
}

// Past this many records only Value and AsString are asked: the conversions of a text
// field throw on nearly every value, and thousands of exceptions per input would slow the
// search tenfold while the bytes of the first records already reach every parser.
constexpr std::size_t kRecordsReadEveryWay = 32;

void ReadEverything(pasarela::DbfTable& table)
{
    const std::size_t fieldCount = table.Fields().size();
    std::vector<std::string> firstValues(fieldCount);
    std::size_t seen = 0;
    for (table.First(); !table.Eof(); table.Next(), ++seen) {
        for (std::size_t field = 0; field < fieldCount; ++field) {
            Try([&] { table.Value(field); });
            Try([&] {
                std::string text = table.AsString(field);
                if (seen == 0)
                    firstValues[field] = std::move(text);
            });
            if (seen >= kRecordsReadEveryWay)
                continue;
            Try([&] { table.AsInteger(field); });
            Try([&] { table.AsFloat(field); });
            Try([&] { table.AsLogical(field); });
        }
    }
    for (std::size_t field = 0; field < fieldCount; ++field) {
        Try([&] {
            const pasarela::TableLookup lookup(table, field, std::vector<std::size_t>{field});
            lookup.Find(firstValues[field]);
            lookup.Find("MAT");
        });
    }
    // A field number past the end must be refused like any other bad request.
    Try([&] { table.AsString(fieldCount); });
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    pasarela::fuzz::WriteBytes(TablePath(), data, size);
    try {
        pasarela::DbfTable table = pasarela::DbfTable::Open(TablePath());
        ReadEverything(table);
        table.Close();
    } catch (const pasarela::Error&) {
    }
    return 0;
}
