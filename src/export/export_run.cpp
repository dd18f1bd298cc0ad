#include "export/export_run.h"

#include <optional>

#include "import/import_run.h"
#include "import/staging_lock.h"
#include "platform/date_stamp.h"
#include "platform/dbf_table.h"
#include "platform/error.h"
#include "platform/file.h"
#include "platform/table_lookup.h"
#include "platform/text.h"
#include "platform/xml_document.h"

namespace pasarela {
namespace {

constexpr char kSolution[] = "SOLUC";

struct HeaderValues {
    std::string code, name, year, version;
};

HeaderValues ReadHeader(const XmlDocument& document, const std::filesystem::path& path, RunReport& report)
{
    RequireSchoolRoot(document, path);
    auto root = document.Root();
    // A missing header attribute is written empty rather than refusing the export: the
    // timetable is what the school needs back, and DASTENO's own header is what it is.
    auto read = [&](std::string_view name) {
        auto value = root->Attribute(name);
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
    const std::string solutionName = kSolution;

    // Before any table is read: an import swapping the tables meanwhile, or one that an
    // interruption left half done, would give a mix of two schools' tables.
    StagingLock lock = StagingLock::Take(options.workingDir, StagingLock::Use::Export);
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

    const std::size_t day = solution.FieldIndex("DIA"), period = solution.FieldIndex("HORA"),
                      sessions = solution.FieldIndex("SESIONES"), groupCode = solution.FieldIndex("CODGRUPO"),
                      subjectCode = solution.FieldIndex("ASIG"), activityCode = solution.FieldIndex("TAREA"),
                      teacherCode = solution.FieldIndex("PROF"), roomCode = solution.FieldIndex("AULA");

    // Whether the file is well-formed XML is checked on a second core while the timetable is
    // written, and settled before the output replaces anything.
    XmlDocument document = XmlDocument::Load(options.xmlFile, XmlDocument::Check::Aside);
    const HeaderValues header = [&] {
        try {
            return ReadHeader(document, options.xmlFile, report);
        } catch (...) {
            document.ConfirmWellFormed();  // a file that is not XML explains a missing header
            throw;
        }
    }();
    const auto now = options.now ? options.now() : std::chrono::system_clock::now();
    const std::string stamp = options.formatDate ? options.formatDate(now) : UserDateTimeText(now);

    document.RemoveRoot();
    // The timetable goes straight into the file as it is translated: a school's million
    // entries would otherwise be held twice, as a tree and as the text written from it.
    std::size_t translated = 0;
    std::size_t read = 0;
    result.outputFile = ExportOutputPath(options.xmlFile);
    document.SaveWithStreamedRoot(result.outputFile, [&](XmlStreamWriter& out) {
        out.StartElement("centro");
        out.Attribute("codigo_interno", header.code);
        out.Attribute("nombre", header.name);
        out.Attribute("curso", header.year);
        out.Attribute("fecha_exportacion", stamp);
        out.Attribute("version", header.version);
        out.StartElement("solucion_horario");
        // Read into buffers kept from row to row: a million rows would otherwise mean
        // several million short-lived strings.
        std::string subjectBuffer, groupBuffer, activityBuffer, teacherBuffer, roomBuffer, periodText, sessionsText;
        const auto translate = [&] {
            ++read;
            const auto where = [&solution] { return "registro " + std::to_string(solution.RecordNumber()); };
            if (solution.HoldsOverflow(day) || solution.HoldsOverflow(period))
                report.Note(solutionName, "DIA u HORA lleno de asteriscos (un valor que no cabía): se lee vacío",
                            where());
            const std::int32_t dayNumber = solution.AsInteger(day);
            const double periodNumber = solution.AsFloat(period);
            if (dayNumber == 0 || periodNumber == 0) {
                report.Note(solutionName, "DIA u HORA 0 o vacío: fila omitida", where());
                return;
            }

            const std::string_view subject = solution.Text(subjectCode, subjectBuffer);
            const auto subjectRow = subjects.Find(subject);
            if (!subjectRow) {
                report.Note(solutionName, "asignatura desconocida en ASIGNOMT: fila omitida",
                            where() + " (ASIG='" + std::string(subject) + "')");
                return;
            }
            const std::string_view casig = (*subjectRow)[0];

            std::string_view cgrupo, idcurso;
            const std::string_view group = solution.Text(groupCode, groupBuffer);
            if (const auto groupRow = groups.Find(group)) {
                cgrupo = (*groupRow)[0];
                idcurso = (*groupRow)[1];
            } else if (!group.empty()) {
                report.Note(solutionName, "grupo no encontrado en GRUPOST",
                            where() + " (CODGRUPO='" + std::string(group) + "')");
            }

            // Orlavi shortens the two standard activities to four letters.
            std::string_view activity = solution.Text(activityCode, activityBuffer);
            if (activity == "LECT")
                activity = "LECTIVA";
            else if (activity == "GUAR")
                activity = "GUARDIA";
            std::string_view cactiv;
            if (const auto activityRow = subjects.Find(activity))
                cactiv = (*activityRow)[0];
            else if (Utf8Prefix(casig, 4) == activity)
                cactiv = casig;
            else
                cactiv = activity;

            std::string_view cprofe;
            const std::string_view teacher = solution.Text(teacherCode, teacherBuffer);
            if (const auto teacherRow = teachers.Find(teacher))
                cprofe = (*teacherRow)[0];
            else if (!teacher.empty())
                report.Note(solutionName, "profesor no encontrado en PROFT",
                            where() + " (PROF='" + std::string(teacher) + "')");

            std::string_view caula;
            const std::string_view room = solution.Text(roomCode, roomBuffer);
            if (const auto roomRow = rooms.Find(room))
                caula = (*roomRow)[0];
            else if (!room.empty())
                report.Note(solutionName, "aula no encontrada en AULAT", where() + " (AULA='" + std::string(room) + "')");

            out.StartElement("dsolucion");
            out.Attribute("casig", casig);
            out.Attribute("cgrupo", cgrupo);
            out.Attribute("cprofe", cprofe);
            out.Attribute("caula", caula);
            out.Attribute("cactiv", cactiv);
            out.Attribute("dia", static_cast<int>(dayNumber));
            out.Attribute("hora", solution.Text(period, periodText));
            out.Attribute("sesiones", solution.Text(sessions, sessionsText));
            out.Attribute("idcurso", idcurso);
            out.EndElement();
            ++translated;
        };
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
                subjects.Prefetch(solution.Text(subjectCode, subjectBuffer));
                groups.Prefetch(solution.Text(groupCode, groupBuffer));
                teachers.Prefetch(solution.Text(teacherCode, teacherBuffer));
                rooms.Prefetch(solution.Text(roomCode, roomBuffer));
            }
            const bool finished = solution.Eof();
            const std::size_t resume = finished ? 0 : solution.RecordNumber();
            for (std::size_t number : block) {
                solution.GoTo(number);
                translate();
            }
            if (finished)
                break;
            solution.GoTo(resume);
        }
        out.EndElement();
        out.EndElement();
        document.ConfirmWellFormed();
    });
    report.SetRows(solutionName, read);
    report.SetRows("dsolucion", translated);
    return result;
}

}  // namespace pasarela
