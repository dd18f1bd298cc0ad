#include "workfolder/run_report.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <system_error>

#include "os/atomic_file.h"
#include "os/date_stamp.h"
#include "os/environment.h"
#include "os/error.h"
#include "os/file.h"

namespace pasarela {

void RunReport::SetRows(const std::string& table, std::size_t rows)
{
    for (auto& [name, count] : rows_)
        if (name == table) {
            count = rows;
            return;
        }
    rows_.emplace_back(table, rows);
}

void RunReport::SetComparison(const std::string& table, Comparison comparison)
{
    comparisons_[table] = std::move(comparison);
}

void RunReport::Note(std::string table, std::string reason, std::string entry)
{
    auto key = std::make_pair(table, reason);
    if (counts_[key]++ == 0)
        reasonOrder_.push_back(key);
    notices_.push_back({std::move(table), std::move(reason), std::move(entry)});
}

std::size_t RunReport::Rows(const std::string& table) const
{
    for (const auto& [name, count] : rows_)
        if (name == table)
            return count;
    return 0;
}

const RunReport::Comparison* RunReport::ComparisonOf(const std::string& table) const
{
    auto found = comparisons_.find(table);
    return found == comparisons_.end() ? nullptr : &found->second;
}

std::size_t RunReport::Count(const std::string& table, const std::string& reason) const
{
    auto found = counts_.find({table, reason});
    return found == counts_.end() ? 0 : found->second;
}

namespace {

std::string Counted(std::size_t count, const char* one, const char* many)
{
    return std::to_string(count) + " " + (count == 1 ? one : many);
}

// " (frente a la tabla que había: 3 nuevas, 1 que falta)": a file that is wrong, or cut
// short, shows as many rows gone. Worded for a check too, which replaces nothing.
std::string ComparisonText(const RunReport::Comparison& comparison)
{
    switch (comparison.earlier) {
    case RunReport::Comparison::Earlier::Missing:
        return " (no había tabla antes)";
    case RunReport::Comparison::Earlier::Unreadable:
        return " (no se pudo comparar con la tabla que había: " + comparison.problem + ")";
    case RunReport::Comparison::Earlier::Compared:
        break;
    }
    return " (frente a la tabla que había: " + Counted(comparison.added, "nueva", "nuevas") + ", " +
           Counted(comparison.gone, "que falta", "que faltan") + ")";
}

}  // namespace

std::string RunReport::Summary() const
{
    std::string text;
    std::vector<std::string> tables;
    const auto list = [&tables](const std::string& table) {
        if (std::find(tables.begin(), tables.end(), table) == tables.end())
            tables.push_back(table);
    };
    for (const auto& [name, count] : rows_)
        list(name);
    for (const auto& [name, comparison] : comparisons_)
        list(name);
    for (const auto& [table, reason] : reasonOrder_)
        list(table);
    for (const std::string& table : tables) {
        text += table + ": " + Counted(Rows(table), "fila", "filas");
        if (const Comparison* comparison = ComparisonOf(table))
            text += ComparisonText(*comparison);
        text += "\n";
        for (const auto& key : reasonOrder_)
            if (key.first == table)
                text += "  " + key.second + ": " + std::to_string(counts_.at(key)) + "\n";
    }
    if (!keptSet_.empty())
        text += "Las tablas reemplazadas se guardan en '" + DisplayPath(keptSet_) +
                "' (pasarela-cli restore las vuelve a poner)\n";
    return text;
}

std::string RunReport::FullText() const
{
    std::string text = "Resumen\n" + Summary();
    if (notices_.empty())
        return text + "\nNo se ha omitido ni alterado ninguna entrada.\n";
    text += "\nDetalle\n";
    for (const Notice& notice : notices_)
        text += notice.table + " | " + notice.reason + " | " + notice.entry + "\n";
    return text;
}

std::string ReportText(const ReportHeading& heading, const RunReport* report)
{
    std::string text = "Informe de Pasarela\n"
                       "Fecha y hora: " + heading.dateTime + "\n"
                       "Programa: " + heading.program + "\n"
                       "Trabajo: " + heading.job + "\n"
                       "Archivo: " + DisplayPath(heading.file) + "\n"
                       "Carpeta de trabajo: " + DisplayPath(heading.workingDir) + "\n"
                       "Resultado: " + heading.outcome + "\n";
    // Appended in two steps: GCC 12 at -O3 takes a literal joined to a temporary for an
    // overlapping copy and stops the release build.
    if (report != nullptr) {
        text += '\n';
        text += report->FullText();
    }
    return text;
}

void SaveReport(const std::filesystem::path& path, std::string_view text)
{
    AtomicFile out(path);
    out.Write(text);
    out.Commit();
}

std::string NotepadText(std::string_view text)
{
    std::string out = "\xEF\xBB\xBF";
    out.reserve(text.size() + text.size() / 16 + 3);
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r'))
            out += '\r';
        out += text[i];
    }
    return out;
}

namespace {

// "-YYYYMMDD-HHMMSS" for the local time at which a file was last written.
std::string WrittenStamp(const std::filesystem::path& path)
{
    std::error_code ec;
    const auto written = std::filesystem::last_write_time(path, ec);
    const auto when = ec ? std::chrono::system_clock::now()
                         : std::chrono::time_point_cast<std::chrono::system_clock::duration>(
                               std::chrono::file_clock::to_sys(written));
    const std::tm local = LocalTime(when);
    char stamp[80];
    std::snprintf(stamp, sizeof stamp, "-%04d%02d%02d-%02d%02d%02d", local.tm_year + 1900, local.tm_mon + 1,
                  local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
    return stamp;
}

// Whether `name` is `stem`, a stamp made by WrittenStamp (perhaps with a counter) and `extension`.
bool IsKeptName(std::u8string_view name, std::u8string_view stem, std::u8string_view extension)
{
    if (name.size() < stem.size() + 16 + extension.size() || !name.starts_with(stem) || !name.ends_with(extension))
        return false;
    const std::u8string_view stamp = name.substr(stem.size(), 16);
    for (std::size_t i = 0; i < stamp.size(); ++i) {
        const bool dash = i == 0 || i == 9;
        if (dash ? stamp[i] != u8'-' : (stamp[i] < u8'0' || stamp[i] > u8'9'))
            return false;
    }
    return true;
}

}  // namespace

void SaveReportKeepingEarlier(const std::filesystem::path& path, std::string_view text, std::size_t kept)
{
    // Written aside first: should the rest fail, the latest report is still the earlier one.
    AtomicFile out(path);
    out.Write(NotepadText(text));

    const std::filesystem::path folder = path.parent_path();
    const std::u8string stem = path.stem().u8string();
    const std::u8string extension = path.extension().u8string();
    std::error_code ec;
    if (std::filesystem::is_regular_file(path, ec)) {
        // A report another program holds open stays where it is, as Windows would insist:
        // moving it aside would pull it from under that program.
        File::Open(path, File::Mode::Read).Close();
        const std::string stamp = WrittenStamp(path);
        const auto keptName = [&](int counter) {
            std::string tail = stamp;
            if (counter > 1)
                tail.append(1, '-').append(std::to_string(counter));
            std::filesystem::path name = folder / path.stem();
            name += PathFromUtf8(tail);
            name += path.extension();
            return name;
        };
        // Two reports within one second: the later keeps a counter rather than replace the other.
        std::filesystem::path keptPath = keptName(1);
        for (int counter = 2; std::filesystem::exists(keptPath, ec); ++counter)
            keptPath = keptName(counter);
        ReplaceFileChecked(path, keptPath);
    }
    out.Commit();

    // The kept names sort by their time, oldest first.
    std::vector<std::filesystem::path> earlier;
    for (const auto& item : std::filesystem::directory_iterator(folder, ec))
        if (IsKeptName(item.path().filename().u8string(), stem, extension) && item.is_regular_file(ec))
            earlier.push_back(item.path());
    std::sort(earlier.begin(), earlier.end());
    for (std::size_t i = 0; i + kept < earlier.size(); ++i)
        RemoveFile(earlier[i]);
}

}  // namespace pasarela
