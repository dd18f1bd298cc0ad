#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "os/file.h"
#include "workfolder/school_record.h"

namespace pasarela {

// Takes a long text a piece at a time, so that it need never be held whole.
using TextSink = std::function<void(std::string_view)>;

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
        std::size_t changed = 0;  // rows whose code both hold but whose stored values differ
    };

    RunReport();
    RunReport(RunReport&&) noexcept;
    RunReport& operator=(RunReport&&) noexcept;
    ~RunReport();

    // Rows written to (or translated into) `table`; tables are listed in the order first seen.
    void SetRows(const std::string& table, std::size_t rows);
    void SetComparison(const std::string& table, Comparison comparison);
    void Note(std::string_view table, std::string_view reason, std::string_view entry);
    // Every notice of `other`, after this report's own.
    void AppendNotices(const RunReport& other);

    // Hands on every notice in the order noted; the texts are valid during the call only.
    using NoticeVisitor = std::function<void(std::string_view table, std::string_view reason, std::string_view entry)>;
    void ForEachNotice(const NoticeVisitor& visit) const;
    // Every notice, as copies: for a report known to be small.
    std::vector<Notice> Notices() const;
    std::size_t NoticeCount() const { return noticeCount_; }
    bool HasNotices() const { return noticeCount_ > 0; }
    std::size_t Rows(const std::string& table) const;
    // Nothing when the run compared no earlier table for `table`.
    const Comparison* ComparisonOf(const std::string& table) const;
    // How many notices of this table carry this reason.
    std::size_t Count(const std::string& table, const std::string& reason) const;

    // The folder where the run kept the tables it replaced (see KeptSetFolder); empty when
    // it kept none. The summary names it, so the user knows the change can be undone.
    void SetKeptSet(std::filesystem::path folder) { keptSet_ = std::move(folder); }
    const std::filesystem::path& KeptSet() const { return keptSet_; }

    // What the tables in the working folder are once the run is over: their school, when
    // they were imported and from which file (a restore names what it put back).
    struct FolderTables {
        std::optional<SchoolIdentity> school;
        std::string dateTime;  // as the user's regional settings write it; empty when unknown
        std::filesystem::path file;
    };
    void SetFolderTables(FolderTables tables) { folderTables_ = std::move(tables); }
    const std::optional<FolderTables>& TablesInFolder() const { return folderTables_; }

    // What the user must read first, before any count: another school's tables replaced,
    // a set that could not be kept, a timetable older than its tables, what a restore put
    // back. Each is one short paragraph; the summary and both end messages start with them.
    void AddHeadline(std::string text) { headlines_.push_back(std::move(text)); }
    const std::vector<std::string>& Headlines() const { return headlines_; }

    // The comparisons as the end message shows them: one short line per table with rows
    // new, gone and changed; empty when no table was compared.
    std::string ChangesBlock() const;

    // Rows per table (with how they compare with the earlier table) and, under each, the
    // count of notices per reason.
    std::string Summary() const;
    // The summary followed by every notice, one per line, handed on in pieces.
    void WriteFullText(const TextSink& out) const;
    // The same as one text.
    std::string FullText() const;

private:
    struct Kind {
        std::string table;
        std::string reason;
        std::size_t count = 0;
    };
    std::uint32_t KindOf(std::string_view table, std::string_view reason);
    void Spill();
    void VisitRecords(std::string_view records, const NoticeVisitor& visit) const;

    std::vector<std::pair<std::string, std::size_t>> rows_;
    std::map<std::string, Comparison> comparisons_;
    // The kinds of notice (table and reason) in the order first noted, found by their
    // joined texts.
    std::vector<Kind> kinds_;
    std::unordered_map<std::string, std::uint32_t> kindIndex_;
    std::string kindKey_;
    // Notices as records (kind, entry's length, entry). A large file can give hundreds of
    // thousands, more than a 32-bit program should hold: past a few hundred kilobytes they
    // go on to a scratch file, and stay here only if none can be had.
    std::size_t noticeCount_ = 0;
    std::string records_;
    File spill_;
    std::uint64_t spilled_ = 0;
    bool spillFailed_ = false;
    std::filesystem::path keptSet_;
    std::optional<FolderTables> folderTables_;
    std::vector<std::string> headlines_;
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
void WriteReportText(const ReportHeading& heading, const RunReport* report, const TextSink& out);
std::string ReportText(const ReportHeading& heading, const RunReport* report);

// Writes a report's text to a file (replaced only once written).
void SaveReport(const std::filesystem::path& path, std::string_view text);
// The same for the text WriteReportText gives, never held whole.
void SaveReport(const std::filesystem::path& path, const ReportHeading& heading, const RunReport* report);

// UTF-8 text as Notepad opens it: a byte order mark first (without one, older Notepads
// read the bytes in the ANSI code page and garble every accented letter) and CR LF lines.
std::string NotepadText(std::string_view text);

// Writes a report's text for a person to open in Notepad (NotepadText) as `path`, which always
// holds the latest one. The report it replaces is kept beside it, named after the time it
// was written (PASARELA-INFORME.TXT becomes PASARELA-INFORME-20260310-093005.TXT), and
// of those kept reports only the newest `kept` stay. Throws Error as AtomicFile does; the
// earlier report survives any failure.
void SaveReportKeepingEarlier(const std::filesystem::path& path, std::string_view text, std::size_t kept);
// The same for the text WriteReportText gives, never held whole.
void SaveReportKeepingEarlier(const std::filesystem::path& path, const ReportHeading& heading,
                              const RunReport* report, std::size_t kept);

}  // namespace pasarela
