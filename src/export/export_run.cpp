#include "export/export_run.h"

#include <optional>

#include "platform/date_stamp.h"
#include "platform/dbf_table.h"
#include "platform/error.h"
#include "platform/file.h"
#include "platform/text.h"
#include "platform/xml_document.h"

namespace pasarela {
namespace {

constexpr char kSolution[] = "SOLUC";

// A table of Orlavi's folder searched by its short code.
class CodeLookup {
public:
    CodeLookup(const std::filesystem::path& dir, const char* name, std::string_view keyField)
        : table_(DbfTable::Open(dir / (std::string(name) + ".DBF"))), key_(table_.FieldIndex(keyField))
    {
    }

    bool Find(const std::string& code) { return table_.Locate(key_, code); }
    std::size_t Field(std::string_view name) const { return table_.FieldIndex(name); }
    std::string Get(std::size_t field) const { return table_.AsString(field); }
    void Close() { table_.Close(); }

private:
    DbfTable table_;
    std::size_t key_;
};

struct HeaderValues {
    std::string code, name, year, version;
};

HeaderValues ReadHeader(const XmlDocument& document, const std::filesystem::path& path, RunReport& report)
{
    auto root = document.Root();
    if (!root || root->Name() != "centro")
        throw Error("El archivo '" + DisplayPath(path) + "' no es un archivo de DASTENO: su elemento raíz es '" +
                    std::string(root ? root->Name() : "") + "' y debería ser 'centro'");
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

    // Opened in this order, each for exclusive use, and closed again on every path out.
    DbfTable solution = DbfTable::Open(solutionPath);
    CodeLookup groups(options.workingDir, "GRUPOST", "ABREV");
    CodeLookup teachers(options.workingDir, "PROFT", "ABREV");
    CodeLookup rooms(options.workingDir, "AULAT", "ABREV");
    CodeLookup subjects(options.workingDir, "ASIGNOMT", "COD");
    // ASIGT is not read, only held, so Orlavi does not rewrite it under the export.
    DbfTable assignments = DbfTable::Open(options.workingDir / "ASIGT.DBF");

    const std::size_t day = solution.FieldIndex("DIA"), period = solution.FieldIndex("HORA"),
                      sessions = solution.FieldIndex("SESIONES"), groupCode = solution.FieldIndex("CODGRUPO"),
                      subjectCode = solution.FieldIndex("ASIG"), activityCode = solution.FieldIndex("TAREA"),
                      teacherCode = solution.FieldIndex("PROF"), roomCode = solution.FieldIndex("AULA");
    const std::size_t groupId = groups.Field("IDGRUPO"), groupCourse = groups.Field("IDCURSO"),
                      subjectId = subjects.Field("IDASIG"), teacherId = teachers.Field("IDPROF"),
                      roomId = rooms.Field("IDAULA");

    XmlDocument document = XmlDocument::Load(options.xmlFile);
    const HeaderValues header = ReadHeader(document, options.xmlFile, report);
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
        for (solution.First(); !solution.Eof(); solution.Next()) {
            ++read;
            const std::string where = "registro " + std::to_string(solution.RecordNumber());
            const std::int32_t dayNumber = solution.AsInteger(day);
            const double periodNumber = solution.AsFloat(period);
            if (dayNumber == 0 || periodNumber == 0) {
                report.Note(solutionName, "DIA u HORA 0 o vacío: fila omitida", where);
                continue;
            }

            const std::string subject = solution.AsString(subjectCode);
            if (!subjects.Find(subject)) {
                report.Note(solutionName, "asignatura desconocida en ASIGNOMT: fila omitida",
                            where + " (ASIG='" + subject + "')");
                continue;
            }
            const std::string casig = subjects.Get(subjectId);

            std::string cgrupo, idcurso;
            const std::string group = solution.AsString(groupCode);
            if (groups.Find(group)) {
                cgrupo = groups.Get(groupId);
                idcurso = groups.Get(groupCourse);
            } else if (!group.empty()) {
                report.Note(solutionName, "grupo no encontrado en GRUPOST", where + " (CODGRUPO='" + group + "')");
            }

            // Orlavi shortens the two standard activities to four letters.
            std::string activity = solution.AsString(activityCode);
            if (activity == "LECT")
                activity = "LECTIVA";
            else if (activity == "GUAR")
                activity = "GUARDIA";
            std::string cactiv;
            if (subjects.Find(activity))
                cactiv = subjects.Get(subjectId);
            else if (Utf8Prefix(casig, 4) == activity)
                cactiv = casig;
            else
                cactiv = activity;

            std::string cprofe;
            const std::string teacher = solution.AsString(teacherCode);
            if (teachers.Find(teacher))
                cprofe = teachers.Get(teacherId);
            else if (!teacher.empty())
                report.Note(solutionName, "profesor no encontrado en PROFT", where + " (PROF='" + teacher + "')");

            std::string caula;
            const std::string room = solution.AsString(roomCode);
            if (rooms.Find(room))
                caula = rooms.Get(roomId);
            else if (!room.empty())
                report.Note(solutionName, "aula no encontrada en AULAT", where + " (AULA='" + room + "')");

            out.StartElement("dsolucion");
            out.Attribute("casig", casig);
            out.Attribute("cgrupo", cgrupo);
            out.Attribute("cprofe", cprofe);
            out.Attribute("caula", caula);
            out.Attribute("cactiv", cactiv);
            out.Attribute("dia", static_cast<int>(dayNumber));
            out.Attribute("hora", solution.AsString(period));
            out.Attribute("sesiones", solution.AsString(sessions));
            out.Attribute("idcurso", idcurso);
            out.EndElement();
            ++translated;
        }
        out.EndElement();
        out.EndElement();
    });
    report.SetRows(solutionName, read);
    report.SetRows("dsolucion", translated);
    return result;
}

}  // namespace pasarela
