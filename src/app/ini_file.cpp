#include "app/ini_file.h"

#include <fstream>
#include <iterator>
#include <optional>
#include <vector>

#include "os/atomic_file.h"
#include "os/error.h"
#include "os/file.h"
#include "text/text.h"

namespace pasarela {
namespace {

struct Line {
    std::string_view content;  // without its line ending
    std::string_view ending;   // "\r\n", "\n", "\r" or "" for a last line without one
};

std::vector<Line> SplitLines(std::string_view text)
{
    std::vector<Line> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find_first_of("\r\n", start);
        if (end == std::string_view::npos) {
            lines.push_back({text.substr(start), {}});
            break;
        }
        std::size_t next = end + 1;
        if (text[end] == '\r' && next < text.size() && text[next] == '\n')
            ++next;
        lines.push_back({text.substr(start, end - start), text.substr(end, next - end)});
        start = next;
    }
    return lines;
}

bool SameName(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (LowerAscii(a[i]) != LowerAscii(b[i]))
            return false;
    }
    return true;
}

// The section a line opens, if it is a section header.
std::optional<std::string_view> SectionName(std::string_view content)
{
    std::string_view trimmed = Trim(content, Blanks::SpaceAndTab);
    if (trimmed.size() < 2 || trimmed.front() != '[')
        return std::nullopt;
    std::size_t close = trimmed.find(']');
    if (close == std::string_view::npos)
        return std::nullopt;
    return Trim(trimmed.substr(1, close - 1), Blanks::SpaceAndTab);
}

}  // namespace

std::string UpdateIniText(std::string_view text, std::string_view section, std::string_view key,
                          std::string_view value)
{
    const std::vector<Line> lines = SplitLines(text);
    std::string_view eol = "\r\n";  // Windows' own, unless the file already uses another
    for (const Line& line : lines)
        if (!line.ending.empty()) {
            eol = line.ending;
            break;
        }

    bool inSection = false;
    std::optional<std::size_t> sectionStart;
    std::optional<std::size_t> lastInSection;  // last non-blank line of the section
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (auto name = SectionName(lines[i].content)) {
            if (inSection)
                break;  // the key is only looked for in the first section of that name
            inSection = SameName(*name, section);
            if (inSection) {
                sectionStart = i;
                lastInSection = i;
            }
            continue;
        }
        if (!inSection)
            continue;
        std::string_view content = lines[i].content;
        if (!Trim(content, Blanks::SpaceAndTab).empty())
            lastInSection = i;
        std::size_t equals = content.find('=');
        if (equals == std::string_view::npos || !SameName(Trim(content.substr(0, equals), Blanks::SpaceAndTab), key))
            continue;
        // Keep the line up to its '=' and its line ending; only the value changes.
        std::string result(text.substr(0, static_cast<std::size_t>(content.data() - text.data()) + equals + 1));
        result += value;
        result += text.substr(static_cast<std::size_t>(content.data() + content.size() - text.data()));
        return result;
    }

    if (sectionStart) {
        const Line& after = lines[*lastInSection];
        std::size_t insertAt = static_cast<std::size_t>(after.content.data() - text.data()) + after.content.size() +
                               after.ending.size();
        std::string result(text.substr(0, insertAt));
        if (after.ending.empty())
            result += eol;
        result += std::string(key) + "=" + std::string(value) + std::string(eol);
        result += text.substr(insertAt);
        return result;
    }

    std::string result(text);
    if (!result.empty() && result.back() != '\n' && result.back() != '\r')
        result += eol;
    result += "[" + std::string(section) + "]" + std::string(eol) + std::string(key) + "=" + std::string(value) +
              std::string(eol);
    return result;
}

void WriteIniValue(const std::filesystem::path& path, std::string_view section, std::string_view key,
                   std::string_view value)
{
    try {
        std::string text;
        std::error_code ec;
        if (std::filesystem::exists(path, ec)) {
            std::ifstream in(path, std::ios::binary);
            if (!in)
                throw Error("No se puede leer el archivo");
            text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
            if (in.bad())
                throw Error("No se puede leer el archivo");
        }
        AtomicFile out(path);
        out.Write(UpdateIniText(text, section, key, value));
        out.Commit();
    } catch (const std::exception& e) {
        throw Error("No se pudo guardar el resultado en '" + DisplayPath(path) + "': " + UserMessage(e));
    }
}

}  // namespace pasarela
