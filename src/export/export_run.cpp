#include "export/export_run.h"

#include <chrono>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "dbf/dbf_table.h"
#include "dbf/table_lookup.h"
#include "os/date_stamp.h"
#include "os/error.h"
#include "os/file.h"
#include "text/text.h"
#include "workfolder/school_record.h"
#include "workfolder/staging_lock.h"
#include "xml/xml_reader.h"
#include "xml/xml_writer.h"

namespace pasarela {
namespace {

constexpr char kSolution[] = "SOLUC";

struct HeaderValues {
    std::string code, name, year, version;
};

// What the export needs of the chosen file's elements: the root's name and attributes.
class RootReader final : public XmlElementHandler {
public:
    void StartElement(std::string_view name, std::size_t depth, std::span<const XmlAttributeRef> attributes) override
    {
        if (depth != 1)
            return;
        rootName_ = std::string(name);
        for (const XmlAttributeRef& attribute : attributes)
            attributes_.emplace_back(attribute.name, attribute.value);
    }
    void EndElement(std::size_t) override {}

    const std::string& RootName() const { return rootName_; }
    std::optional<std::string_view> Attribute(std::string_view name) const
    {
        for (const auto& [key, value] : attributes_)
            if (key == name)
                return value;
        return std::nullopt;
    }

private:
    std::string rootName_;
    std::vector<std::pair<std::string, std::string>> attributes_;
};

// A timetable computed before the tables were last imported places rows by codes those
// tables may no longer hold: it is still exported, and the user told first.
void NoteStaleTimetable(const std::filesystem::path& solutionPath, const SchoolRecord& record, RunReport& report)
{
    std::error_code ec;
    const auto written = std::filesystem::last_write_time(solutionPath, ec);
    if (ec || record.importedAt.time_since_epoch().count() == 0)
        return;
    const auto writtenAt = std::chrono::time_point_cast<std::chrono::system_clock::duration>(
        std::chrono::file_clock::to_sys(written));
    if (writtenAt >= record.importedAt)
        return;
    report.AddHeadline("ATENCIÓN: el horario (SOLUC.DBF, del " + UserDateTimeText(writtenAt) +
                       ") es anterior a las tablas importadas el " + UserDateTimeText(record.importedAt) +
                       ": puede que algunas filas hayan perdido profesores, grupos o asignaturas. Vuelva a calcular "
                       "el horario en Orlavi y exporte de nuevo.");
}

HeaderValues ReadHeader(const RootReader& root, const std::filesystem::path& path, RunReport& report)
{
    if (root.RootName() != "centro")
        throw NotSchoolFileError(path, root.RootName());
    // A missing header attribute is written empty rather than refusing the export: the
    // timetable is what the school needs back, and DASTENO's own header is what it is.
    auto read = [&](std::string_view name) {
        auto value = root.Attribute(name);
        if (!value)
            report.Note("centro", "atributo de cabecera ausente: se escribe vacío", std::string(name));
        return value ? std::string(Trim(*value)) : std::string();
    };
    HeaderValues header;
    header.code = read("codigo_interno");
    header.name = read("nombre");
    header.year = read("curso");
    header.version = read("version");
    return header;
}

// The lookup tables the import built, searched by the short codes SOLUC holds.
struct ExportLookups {
    const HeldTableLookup& groups;    // IDGRUPO, IDCURSO
    const HeldTableLookup& teachers;  // IDPROF
    const HeldTableLookup& rooms;     // IDAULA
    const HeldTableLookup& subjects;  // IDASIG
};

// Where SOLUC keeps each value a timetable row needs.
struct SolutionColumns {
    std::size_t day, period, sessions, groupCode, subjectCode, activityCode, teacherCode, roomCode;

    static SolutionColumns Of(const DbfTable& solution)
    {
        return {solution.FieldIndex("DIA"),      solution.FieldIndex("HORA"), solution.FieldIndex("SESIONES"),
                solution.FieldIndex("CODGRUPO"), solution.FieldIndex("ASIG"), solution.FieldIndex("TAREA"),
                solution.FieldIndex("PROF"),     solution.FieldIndex("AULA")};
    }
};

// Buffers kept from row to row: a million rows would otherwise mean several million
// short-lived strings.
struct RowBuffers {
    std::string subject, group, activity, teacher, room, period, sessions;
};

// Orlavi shortens the two standard activities to four letters.
std::string_view FullActivityCode(std::string_view activity)
{
    if (activity == "LECT")
        return "LECTIVA";
    if (activity == "GUAR")
        return "GUARDIA";
    return activity;
}

// How the report names the current row of SOLUC.
std::string RecordLabel(const DbfTable& solution) { return "registro " + std::to_string(solution.RecordNumber()); }

// The row `lookup` holds for `code`; nothing, with `reason` noted unless the code is
// empty, when there is none (the value is then written empty).
std::optional<std::span<const std::string_view>> FindOrNote(const HeldTableLookup& lookup, std::string_view code,
                                                       const DbfTable& solution, const char* reason,
                                                       std::string_view field, RunReport& report)
{
    auto row = lookup.Find(code);
    if (!row && !code.empty())
        report.Note(kSolution, reason, RecordLabel(solution) + " (" + std::string(field) + "='" + std::string(code) + "')");
    return row;
}

// Writes the current row of SOLUC as a `dsolucion` element with DASTENO's identifiers.
// Returns false, with the reason in the report, for a row that cannot be placed in the
// timetable (no day or hour, a subject ASIGNOMT does not know); a group, teacher or room
// not found is written empty and reported.
bool TranslateRow(const DbfTable& solution, const SolutionColumns& column, const ExportLookups& lookups,
                  RowBuffers& buffers, RunReport& report, XmlStreamWriter& out)
{
    const auto where = [&solution] { return RecordLabel(solution); };
    if (solution.HoldsOverflow(column.day) || solution.HoldsOverflow(column.period))
        report.Note(kSolution, "DIA u HORA lleno de asteriscos (un valor que no cabía): se lee vacío", where());
    const std::int32_t dayNumber = solution.AsInteger(column.day);
    const double periodNumber = solution.AsFloat(column.period);
    if (dayNumber == 0 || periodNumber == 0) {
        report.Note(kSolution, "DIA u HORA 0 o vacío: fila omitida", where());
        return false;
    }

    const std::string_view subject = solution.Text(column.subjectCode, buffers.subject);
    const auto subjectRow = lookups.subjects.Find(subject);
    if (!subjectRow) {
        report.Note(kSolution, "asignatura desconocida en ASIGNOMT: fila omitida",
                    where() + " (ASIG='" + std::string(subject) + "')");
        return false;
    }
    const std::string_view casig = (*subjectRow)[0];

    std::string_view cgrupo, idcurso;
    if (const auto groupRow = FindOrNote(lookups.groups, solution.Text(column.groupCode, buffers.group), solution,
                                         "grupo no encontrado en GRUPOST", "CODGRUPO", report)) {
        cgrupo = (*groupRow)[0];
        idcurso = (*groupRow)[1];
    }

    const std::string_view activity = FullActivityCode(solution.Text(column.activityCode, buffers.activity));
    std::string_view cactiv;
    if (const auto activityRow = lookups.subjects.Find(activity))
        cactiv = (*activityRow)[0];
    else if (Utf8Prefix(casig, 4) == activity)
        cactiv = casig;
    else
        cactiv = activity;

    const auto teacherRow = FindOrNote(lookups.teachers, solution.Text(column.teacherCode, buffers.teacher), solution,
                                       "profesor no encontrado en PROFT", "PROF", report);
    const std::string_view cprofe = teacherRow ? (*teacherRow)[0] : std::string_view();
    const auto roomRow = FindOrNote(lookups.rooms, solution.Text(column.roomCode, buffers.room), solution,
                                    "aula no encontrada en AULAT", "AULA", report);
    const std::string_view caula = roomRow ? (*roomRow)[0] : std::string_view();

    out.StartElement("dsolucion");
    out.Attribute("casig", casig);
    out.Attribute("cgrupo", cgrupo);
    out.Attribute("cprofe", cprofe);
    out.Attribute("caula", caula);
    out.Attribute("cactiv", cactiv);
    out.Attribute("dia", static_cast<int>(dayNumber));
    out.Attribute("hora", solution.Text(column.period, buffers.period));
    out.Attribute("sesiones", solution.Text(column.sessions, buffers.sessions));
    out.Attribute("idcurso", idcurso);
    out.EndElement();
    return true;
}

}  // namespace

std::filesystem::path ExportOutputPath(const std::filesystem::path& xmlFile)
{
    auto name = std::filesystem::path(u8"ResultadoOrlavis");
    name += xmlFile.filename();
    return xmlFile.parent_path() / name;
}

ExportResult RunExport(const ExportOptions& options)
{
    std::error_code ec;
    const std::filesystem::path solutionPath = options.workingDir / (std::string(kSolution) + ".DBF");
    if (options.xmlFile.empty() || !std::filesystem::is_regular_file(options.xmlFile, ec) ||
        !std::filesystem::is_regular_file(solutionPath, ec))
        throw MissingInputError("No existe archivo XML o Solución.");

    ExportResult result;
    RunReport& report = result.report;

    // Before any table is read: an import swapping the tables meanwhile, or one that an
    // interruption left half done, would give a mix of two schools' tables.
    StagingLock lock = StagingLock::Take(options.workingDir, StagingLock::Use::Export, options.journalFileNames);
    if (lock.FinishedPendingCommit())
        NoteFinishedPendingCommit(report, lock.Folder());

    // Opened in this order, each for exclusive use, and closed again on every path out.
    DbfTable solution = DbfTable::Open(solutionPath);
    const HeldTableLookup groups(options.workingDir / "GRUPOST.DBF", "ABREV", {"IDGRUPO", "IDCURSO"});
    const HeldTableLookup teachers(options.workingDir / "PROFT.DBF", "ABREV", {"IDPROF"});
    const HeldTableLookup rooms(options.workingDir / "AULAT.DBF", "ABREV", {"IDAULA"});
    const HeldTableLookup subjects(options.workingDir / "ASIGNOMT.DBF", "COD", {"IDASIG"});
    // ASIGT is not read, only held, so Orlavi does not rewrite it under the export.
    DbfTable assignments = DbfTable::Open(options.workingDir / "ASIGT.DBF");

    const SolutionColumns column = SolutionColumns::Of(solution);
    const ExportLookups lookups{groups, teachers, rooms, subjects};

    // The chosen file is read once, whole, before anything is written: what is not
    // well-formed XML is refused, and the output keeps its prolog and header.
    RootReader root;
    const auto progress = [&options](double share) {
        if (options.progress)
            options.progress(share);
    };
    const XmlFileFacts facts = ReadXmlFile(options.xmlFile, root, {.progress = [&](double share) { progress(share * 0.2); }});
    const HeaderValues header = ReadHeader(root, options.xmlFile, report);
    // DASTENO would load the result into the school the file names: a timetable of this
    // folder's tables under another school's header would land in the wrong school.
    const std::optional<SchoolRecord> record = ReadSchoolRecord(options.workingDir);
    const SchoolIdentity fileSchool{header.code, header.name, header.year};
    if (record && !SameSchool(record->school, fileSchool))
        throw Error("El archivo '" + DisplayPath(options.xmlFile) + "' es del centro " + SchoolText(fileSchool) +
                    ", pero las tablas de Orlavi son del centro " + SchoolText(record->school) +
                    ": no se ha exportado nada. Elija el archivo de DASTENO del centro " +
                    SchoolText(record->school) + ", el que importó");
    if (record)
        NoteStaleTimetable(solutionPath, *record, report);
    const auto now = options.now ? options.now() : std::chrono::system_clock::now();
    const std::string stamp = options.formatDate ? options.formatDate(now) : UserDateTimeText(now);

    // The timetable goes straight into the file as it is translated: a school's million
    // entries are never held whole.
    std::size_t translated = 0;
    std::size_t read = 0;
    const std::size_t total = solution.RecordCount();
    result.outputFile = ExportOutputPath(options.xmlFile);
    SaveXmlFile(result.outputFile, facts, [&](XmlStreamWriter& out) {
        out.StartElement("centro");
        out.Attribute("codigo_interno", header.code);
        out.Attribute("nombre", header.name);
        out.Attribute("curso", header.year);
        out.Attribute("fecha_exportacion", stamp);
        out.Attribute("version", header.version);
        out.StartElement("solucion_horario");
        RowBuffers buffers;
        // Rows go in small blocks: first the codes of the whole block are asked of the
        // lookups, so the processor fetches them together, then the block is translated.
        // One row at a time, each of its four searches would wait for memory in turn.
        constexpr std::size_t kBlock = 32;
        std::vector<std::size_t> block;
        solution.First();
        while (!solution.Eof()) {
            block.clear();
            for (; !solution.Eof() && block.size() < kBlock; solution.Next()) {
                block.push_back(solution.RecordNumber());
                subjects.Prefetch(solution.Text(column.subjectCode, buffers.subject));
                groups.Prefetch(solution.Text(column.groupCode, buffers.group));
                teachers.Prefetch(solution.Text(column.teacherCode, buffers.teacher));
                rooms.Prefetch(solution.Text(column.roomCode, buffers.room));
            }
            const bool finished = solution.Eof();
            const std::size_t resume = finished ? 0 : solution.RecordNumber();
            for (std::size_t number : block) {
                solution.GoTo(number);
                ++read;
                if (TranslateRow(solution, column, lookups, buffers, report, out))
                    ++translated;
            }
            if (total > 0 && read % 4096 < kBlock)
                progress(0.2 + 0.8 * static_cast<double>(read) / static_cast<double>(total));
            if (finished)
                break;
            solution.GoTo(resume);
        }
        out.EndElement();
        out.EndElement();
    });
    report.SetRows(kSolution, read);
    report.SetRows("dsolucion", translated);
    return result;
}

}  // namespace pasarela
