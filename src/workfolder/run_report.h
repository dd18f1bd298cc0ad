#pragma once

#include <cstddef>
#include <filesystem>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace pasarela {

// What a run did beyond the rows it wrote: entries it left out or altered, codes it
// could not find. Nothing the import or export tolerates may vanish without a trace,
// so every such case is noted here and the front end shows it.
class RunReport {
public:
    struct Notice {
        std::string table;   // table the notice concerns ("ASIGT")
        std::string reason;  // short Spanish phrase, the same for every notice of a kind
        std::string entry;   // which entry, as the user can find it in the file
    };

    // How a table the run built compares, by its code, with the one that was there before.
    struct Comparison {
        enum class Earlier { Compared, Missing, Unreadable };
        Earlier earlier = Earlier::Compared;
        std::size_t added = 0;  // rows whose code the earlier table did not hold
        std::size_t gone = 0;   // rows of the earlier table whose code is no longer there
        std::string problem;    // why the tables could not be compared (Unreadable)
    };

    // Rows written to (or translated into) `table`; tables are listed in the order first seen.
    void SetRows(const std::string& table, std::size_t rows);
    void SetComparison(const std::string& table, Comparison comparison);
    void Note(std::string table, std::string reason, std::string entry);

    const std::vector<Notice>& Notices() const { return notices_; }
    std::size_t Rows(const std::string& table) const;
    // Nothing when the run compared no earlier table for `table`.
    const Comparison* ComparisonOf(const std::string& table) const;
    // How many notices of this table carry this reason.
    std::size_t Count(const std::string& table, const std::string& reason) const;
    bool HasNotices() const { return !notices_.empty(); }

    // Rows per table (with how they compare with the earlier table) and, under each, the
    // count of notices per reason.
    std::string Summary() const;
    // The summary followed by every notice, one per line.
    std::string FullText() const;

private:
    std::vector<std::pair<std::string, std::size_t>> rows_;
    std::map<std::string, Comparison> comparisons_;
    std::vector<Notice> notices_;
    std::map<std::pair<std::string, std::string>, std::size_t> counts_;
    std::vector<std::pair<std::string, std::string>> reasonOrder_;
};

// What heads a report, so that it is never taken for the report of another run: when it
// ran, which program, which job on which file and folder, and how it ended.
struct ReportHeading {
    std::string dateTime;              // as the user's regional settings write it
    std::string program;               // name and version ("Pasarela 1.4.0")
    std::string job;                   // "importación (de DASTENO a Orlavi)"
    std::filesystem::path file;        // the DASTENO file chosen
    std::filesystem::path workingDir;  // Orlavi's folder
    std::string outcome;               // "Proceso finalizado", or what stopped the run
};

// The heading, then, when the run got as far as a report, its summary and every notice.
std::string ReportText(const ReportHeading& heading, const RunReport* report);

// Writes a report's text to a file (replaced only once written).
void SaveReport(const std::filesystem::path& path, std::string_view text);

// UTF-8 text as Notepad opens it: a byte order mark first (without one, older Notepads
// read the bytes in the ANSI code page and garble every accented letter) and CR LF lines.
std::string NotepadText(std::string_view text);

// Writes a report's text for a person to open in Notepad (NotepadText) as `path`, which always
// holds the latest one. The report it replaces is kept beside it, named after the time it
// was written (PASARELA-INFORME.TXT becomes PASARELA-INFORME-20260310-093005.TXT), and
// of those kept reports only the newest `kept` stay. Throws Error as AtomicFile does; the
// earlier report survives any failure.
void SaveReportKeepingEarlier(const std::filesystem::path& path, std::string_view text, std::size_t kept);

}  // namespace pasarela
