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

RunReport::RunReport() = default;
RunReport::RunReport(RunReport&&) noexcept = default;
RunReport& RunReport::operator=(RunReport&&) noexcept = default;
RunReport::~RunReport() = default;

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

namespace {

// Once the notices held in memory reach this size they go on to the scratch file.
constexpr std::size_t kHeldRecords = std::size_t{256} << 10;

void PutNumber(std::string& out, std::uint32_t value)
{
    const char bytes[4] = {static_cast<char>(value), static_cast<char>(value >> 8), static_cast<char>(value >> 16),
                           static_cast<char>(value >> 24)};
    out.append(bytes, 4);
}

std::uint32_t GetNumber(const char* at)
{
    const auto byte = [at](int i) { return static_cast<std::uint32_t>(static_cast<unsigned char>(at[i])); };
    return byte(0) | byte(1) << 8 | byte(2) << 16 | byte(3) << 24;
}

}  // namespace

std::uint32_t RunReport::KindOf(std::string_view table, std::string_view reason)
{
    kindKey_.assign(table).append(1, '\0').append(reason);
    const auto [found, added] = kindIndex_.try_emplace(kindKey_, static_cast<std::uint32_t>(kinds_.size()));
    if (added)
        kinds_.push_back({std::string(table), std::string(reason), 0});
    return found->second;
}

void RunReport::Note(std::string_view table, std::string_view reason, std::string_view entry)
{
    if (entry.size() > 0xFFFFFFFFu)
        entry = entry.substr(0, 0xFFFFFFFFu);
    const std::uint32_t kind = KindOf(table, reason);
    ++kinds_[kind].count;
    PutNumber(records_, kind);
    PutNumber(records_, static_cast<std::uint32_t>(entry.size()));
    records_.append(entry);
    ++noticeCount_;
    if (records_.size() >= kHeldRecords && !spillFailed_)
        Spill();
}

void RunReport::Spill()
{
    // Without a scratch file the notices stay in memory: a report that costs memory is
    // better than one that loses notices, or a run stopped for want of somewhere to note them.
    try {
        if (!spill_.IsOpen())
            spill_ = File::CreateTemporary();
        spill_.WriteAt(spilled_, records_.data(), records_.size());
    } catch (const Error&) {
        spillFailed_ = true;
        return;
    }
    spilled_ += records_.size();
    records_.clear();
}

void RunReport::VisitRecords(std::string_view records, const NoticeVisitor& visit) const
{
    for (std::size_t at = 0; at < records.size();) {
        const Kind& kind = kinds_[GetNumber(records.data() + at)];
        const std::uint32_t length = GetNumber(records.data() + at + 4);
        visit(kind.table, kind.reason, records.substr(at + 8, length));
        at += 8 + length;
    }
}

void RunReport::ForEachNotice(const NoticeVisitor& visit) const
{
    // The scratch file's records are read back a block at a time; a record that runs past
    // a block is completed from the next.
    std::string block;
    std::uint64_t readAt = 0;
    std::size_t start = 0;
    while (readAt < spilled_) {
        const std::size_t kept = block.size() - start;
        block.erase(0, start);
        start = 0;
        const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(kHeldRecords, spilled_ - readAt));
        block.resize(kept + want);
        const std::size_t got = spill_.ReadAt(readAt, block.data() + kept, want);
        if (got != want)
            throw Error("No se pudieron leer los avisos guardados del informe: el archivo temporal se ha acortado");
        readAt += got;
        // The whole records in the block.
        std::size_t end = 0;
        while (end + 8 <= block.size() && end + 8 + GetNumber(block.data() + end + 4) <= block.size())
            end += 8 + GetNumber(block.data() + end + 4);
        VisitRecords(std::string_view(block).substr(0, end), visit);
        start = end;
    }
    VisitRecords(records_, visit);
}

std::vector<RunReport::Notice> RunReport::Notices() const
{
    std::vector<Notice> notices;
    notices.reserve(noticeCount_);
    ForEachNotice([&notices](std::string_view table, std::string_view reason, std::string_view entry) {
        notices.push_back({std::string(table), std::string(reason), std::string(entry)});
    });
    return notices;
}

void RunReport::AppendNotices(const RunReport& other)
{
    other.ForEachNotice(
        [this](std::string_view table, std::string_view reason, std::string_view entry) { Note(table, reason, entry); });
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
    const auto found = kindIndex_.find(table + '\0' + reason);
    return found == kindIndex_.end() ? 0 : kinds_[found->second].count;
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
           Counted(comparison.gone, "que falta", "que faltan") + ", " +
           Counted(comparison.changed, "cambiada", "cambiadas") + ")";
}

}  // namespace

std::string RunReport::ChangesBlock() const
{
    // In the order the tables were first listed, as the summary lists them; the tables
    // that did not change on one line, so the block stays a few lines long.
    std::vector<std::string> tables;
    for (const auto& [name, count] : rows_)
        tables.push_back(name);
    for (const auto& [name, comparison] : comparisons_)
        if (std::find(tables.begin(), tables.end(), name) == tables.end())
            tables.push_back(name);
    std::string text;
    std::string unchanged;
    bool compared = false;
    for (const std::string& table : tables) {
        const Comparison* comparison = ComparisonOf(table);
        if (comparison == nullptr || comparison->earlier == Comparison::Earlier::Missing)
            continue;
        compared = true;
        if (comparison->earlier == Comparison::Earlier::Unreadable) {
            text += table + ": no se pudo comparar\n";
            continue;
        }
        std::vector<std::string> parts;
        if (comparison->added > 0)
            parts.push_back(Counted(comparison->added, "nueva", "nuevas"));
        if (comparison->gone > 0)
            parts.push_back(Counted(comparison->gone, "que falta", "que faltan"));
        if (comparison->changed > 0)
            parts.push_back(Counted(comparison->changed, "cambiada", "cambiadas"));
        if (parts.empty()) {
            unchanged.append(unchanged.empty() ? "" : ", ").append(table);
            continue;
        }
        text += table + ":";
        for (std::size_t i = 0; i < parts.size(); ++i)
            text += (i == 0 ? " " : ", ") + parts[i];
        text += "\n";
    }
    // A first import compares with nothing: no block.
    if (!compared)
        return {};
    if (!unchanged.empty())
        text += (text.empty() ? "Sin cambios: " : "Sin cambios en: ") + unchanged + "\n";
    return text;
}

std::string RunReport::Summary() const
{
    std::string text;
    for (const std::string& headline : headlines_)
        text += headline + "\n\n";
    std::vector<std::string> tables;
    const auto list = [&tables](const std::string& table) {
        if (std::find(tables.begin(), tables.end(), table) == tables.end())
            tables.push_back(table);
    };
    for (const auto& [name, count] : rows_)
        list(name);
    for (const auto& [name, comparison] : comparisons_)
        list(name);
    for (const Kind& kind : kinds_)
        list(kind.table);
    for (const std::string& table : tables) {
        text += table + ": " + Counted(Rows(table), "fila", "filas");
        if (const Comparison* comparison = ComparisonOf(table))
            text += ComparisonText(*comparison);
        text += "\n";
        for (const Kind& kind : kinds_)
            if (kind.table == table)
                text += "  " + kind.reason + ": " + std::to_string(kind.count) + "\n";
    }
    if (!keptSet_.empty())
        text += "Las tablas reemplazadas se guardan en '" + DisplayPath(keptSet_) +
                "' (pasarela-cli restore las vuelve a poner)\n";
    return text;
}

void RunReport::WriteFullText(const TextSink& out) const
{
    out("Resumen\n");
    out(Summary());
    if (noticeCount_ == 0) {
        out("\nNo se ha omitido ni alterado ninguna entrada.\n");
        return;
    }
    out("\nDetalle\n");
    // Lines are gathered into pieces of some size: a sink call per notice would cost more
    // than the notice.
    std::string piece;
    ForEachNotice([&](std::string_view table, std::string_view reason, std::string_view entry) {
        piece.append(table).append(" | ").append(reason).append(" | ").append(entry).append(1, '\n');
        if (piece.size() >= 64 * 1024) {
            out(piece);
            piece.clear();
        }
    });
    out(piece);
}

std::string RunReport::FullText() const
{
    std::string text;
    WriteFullText([&text](std::string_view piece) { text.append(piece); });
    return text;
}

void WriteReportText(const ReportHeading& heading, const RunReport* report, const TextSink& out)
{
    std::string head = "Informe de Pasarela\n";
    for (const auto& [label, value] : {std::pair<std::string_view, std::string>{"Fecha y hora: ", heading.dateTime},
                                       {"Programa: ", heading.program},
                                       {"Trabajo: ", heading.job},
                                       {"Archivo: ", DisplayPath(heading.file)},
                                       {"Carpeta de trabajo: ", DisplayPath(heading.workingDir)},
                                       {"Resultado: ", heading.outcome}})
        head.append(label).append(value).append(1, '\n');
    out(head);
    if (report != nullptr) {
        out("\n");
        report->WriteFullText(out);
    }
}

std::string ReportText(const ReportHeading& heading, const RunReport* report)
{
    std::string text;
    WriteReportText(heading, report, [&text](std::string_view piece) { text.append(piece); });
    return text;
}

void SaveReport(const std::filesystem::path& path, std::string_view text)
{
    AtomicFile out(path);
    out.Write(text);
    out.Commit();
}

void SaveReport(const std::filesystem::path& path, const ReportHeading& heading, const RunReport* report)
{
    AtomicFile out(path);
    WriteReportText(heading, report, [&out](std::string_view piece) { out.Write(piece); });
    out.Commit();
}

namespace {

// Turns UTF-8 text, handed on in pieces, into what Notepad opens (see NotepadText).
class NotepadSink {
public:
    explicit NotepadSink(const TextSink& out) : out_(out) { out_("\xEF\xBB\xBF"); }

    void operator()(std::string_view text)
    {
        converted_.clear();
        for (const char c : text) {
            if (c == '\n' && last_ != '\r')
                converted_ += '\r';
            converted_ += c;
            last_ = c;
        }
        out_(converted_);
    }

private:
    TextSink out_;
    std::string converted_;
    char last_ = '\0';
};

}  // namespace

std::string NotepadText(std::string_view text)
{
    std::string out;
    out.reserve(text.size() + text.size() / 16 + 3);
    NotepadSink notepad([&out](std::string_view piece) { out.append(piece); });
    notepad(text);
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

namespace {

void KeepEarlierAndSave(const std::filesystem::path& path, const std::function<void(const TextSink&)>& write,
                        std::size_t kept)
{
    // Written aside first: should the rest fail, the latest report is still the earlier one.
    AtomicFile out(path);
    {
        const TextSink file = [&out](std::string_view piece) { out.Write(piece); };
        NotepadSink notepad(file);
        write([&notepad](std::string_view piece) { notepad(piece); });
    }

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

}  // namespace

void SaveReportKeepingEarlier(const std::filesystem::path& path, std::string_view text, std::size_t kept)
{
    KeepEarlierAndSave(path, [text](const TextSink& out) { out(text); }, kept);
}

void SaveReportKeepingEarlier(const std::filesystem::path& path, const ReportHeading& heading,
                              const RunReport* report, std::size_t kept)
{
    KeepEarlierAndSave(path, [&](const TextSink& out) { WriteReportText(heading, report, out); }, kept);
}

}  // namespace pasarela
