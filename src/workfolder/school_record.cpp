#include "workfolder/school_record.h"

#include <sstream>
#include <string_view>

#include "os/environment.h"
#include "os/error.h"
#include "os/file.h"

namespace pasarela {
namespace {

constexpr std::string_view kCode = "codigo_interno";
constexpr std::string_view kName = "nombre";
constexpr std::string_view kYear = "curso";
constexpr std::string_view kImportedAt = "importado";  // seconds since 1970, UTC
constexpr std::string_view kFile = "archivo";
// A record larger than this was not written by us.
constexpr std::size_t kMaxRecord = 64 * 1024;

// A value on one line: a line break inside an attribute (&#10;) would end it early.
std::string OneLine(std::string_view value)
{
    std::string line(value);
    for (char& c : line)
        if (c == '\n' || c == '\r')
            c = ' ';
    return line;
}

std::string Trimmed(std::string_view text)
{
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
    while (!text.empty() && blank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && blank(text.back()))
        text.remove_suffix(1);
    return std::string(text);
}

}  // namespace

std::string SchoolRecordText(const SchoolRecord& record)
{
    const auto seconds =
        std::chrono::duration_cast<std::chrono::seconds>(record.importedAt.time_since_epoch()).count();
    std::string text;
    for (const auto& [key, value] : {std::pair<std::string_view, std::string>{kCode, OneLine(record.school.code)},
                                     {kName, OneLine(record.school.name)},
                                     {kYear, OneLine(record.school.year)},
                                     {kImportedAt, std::to_string(seconds)},
                                     {kFile, OneLine(DisplayPath(record.file))}})
        text.append(key).append(1, '=').append(value).append(1, '\n');
    return text;
}

std::optional<std::string> ReadSmallText(const std::filesystem::path& path, std::size_t limit)
{
    // Through File, which refuses a link, a FIFO or a device before reading a byte.
    try {
        const File file = File::Open(path, File::Mode::Read, File::Links::Refuse);
        std::string text(limit, '\0');
        std::size_t got = 0;
        while (got < limit) {
            const std::size_t read = file.ReadAt(got, text.data() + got, limit - got);
            if (read == 0)
                break;
            got += read;
        }
        text.resize(got);
        return text;
    } catch (const Error&) {
        return std::nullopt;
    }
}

std::optional<SchoolRecord> ReadSchoolRecord(const std::filesystem::path& folder)
{
    const std::optional<std::string> text = ReadSmallText(folder / kSchoolRecordName, kMaxRecord);
    if (!text)
        return std::nullopt;
    SchoolRecord record;
    bool hasSchool = false;
    std::istringstream lines(*text);
    std::string line;
    while (std::getline(lines, line)) {
        const std::size_t equals = line.find('=');
        if (equals == std::string::npos)
            continue;
        const std::string_view key = std::string_view(line).substr(0, equals);
        const std::string value = Trimmed(std::string_view(line).substr(equals + 1));
        if (key == kCode || key == kName || key == kYear) {
            (key == kCode ? record.school.code : key == kName ? record.school.name : record.school.year) = value;
            hasSchool = true;
        } else if (key == kImportedAt) {
            try {
                record.importedAt = std::chrono::system_clock::time_point(std::chrono::seconds(std::stoll(value)));
            } catch (const std::exception&) {
                // A date we cannot read leaves the record's school as good as it was.
            }
        } else if (key == kFile) {
            record.file = PathFromUtf8(value);
        }
    }
    if (!hasSchool)
        return std::nullopt;
    return record;
}

std::optional<SchoolIdentity> RecordedSchool(const std::filesystem::path& folder)
{
    if (auto record = ReadSchoolRecord(folder))
        return record->school;
    return std::nullopt;
}

std::string SchoolText(const std::optional<SchoolIdentity>& school)
{
    if (!school)
        return "desconocido";
    std::string text = school->code.empty() ? std::string("sin código") : school->code;
    std::string details = school->name;
    if (!school->year.empty())
        details += (details.empty() ? "" : ", ") + school->year;
    if (!details.empty())
        text += " (" + details + ")";
    return text;
}

bool SameSchool(const SchoolIdentity& a, const SchoolIdentity& b)
{
    // The name may be written differently from one year to the next; the code and year
    // are what DASTENO's identifiers belong to.
    if (!a.code.empty() && !b.code.empty())
        return a.code == b.code && a.year == b.year;
    return a == b;
}

}  // namespace pasarela
