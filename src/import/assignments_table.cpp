#include <charconv>
#include <cmath>
#include <vector>

#include "dbf/table_lookup.h"
#include "import/code_list.h"
#include "import/table_steps.h"
#include "text/text.h"

namespace pasarela {
namespace {

constexpr std::string_view kPath = "/centro/asignaturas/dasignatura";

enum Field : std::size_t {
    kCAsig, kCProf, kCGrup, kCAula, kTurno, kNivel, kCurso, kGrupo, kHoras, kSesiones, kCTarea, kNConex, kIdCurso,
    kIdGrup, kIdAsig, kIdProf,
};

// DASTENO is Spanish and writes "2,5" whatever the machine's settings, so a comma is
// taken as well as the user's own mark and the point.
double ParseHours(std::string_view text, char decimalSeparator)
{
    try {
        return ParseNumber(text, decimalSeparator);
    } catch (const Error&) {
        if (decimalSeparator == ',')
            throw;
        return ParseNumber(text, ',');
    }
}

}  // namespace

// Orlavi reads a subject's weekly sessions as one "1" per hour; past thirteen hours the
// hours beyond thirteen lead the text as a number (15 hours: "2" then thirteen "1").
// A fraction of an hour adds the half-session mark "½", the only one Orlavi knows.
std::string SessionsText(double hours)
{
    const double whole = std::floor(hours);
    std::string text;
    double ones = whole;
    if (ones > 13) {
        // Written from the double itself: a count of hours need not fit any integer type.
        char digits[400];
        const auto written = std::to_chars(digits, digits + sizeof digits, whole - 13, std::chars_format::fixed, 0);
        text.assign(digits, written.ptr);
        ones = 13;
    }
    if (ones >= 1)
        text.append(static_cast<std::size_t>(ones), '1');
    if (hours > 0 && hours != whole)
        text += "½";
    return text;
}

namespace {

// The tables this run built, searched by DASTENO identifier.
struct AssignmentLookups {
    explicit AssignmentLookups(const std::filesystem::path& tableDir)
        : groups(tableDir / "GRUPOST.DBF", "IDGRUPO", {"ABREV", "TURNO", "NIVEL", "CURSO", "GRUPO", "IDCURSO"}),
          subjects(tableDir / "ASIGNOMT.DBF", "IDASIG", {"COD", "CODTAREA"}),
          teachers(tableDir / "PROFT.DBF", "IDPROF", {"ABREV"})
    {
    }

    HeldTableLookup groups;
    HeldTableLookup subjects;
    HeldTableLookup teachers;
};

// The row of one assignment, its codes found in the tables the earlier steps built.
void WriteRow(ImportContext& context, const std::string& tableName, DbfTable& table, const AssignmentLookups& lookups,
              const Entry& entry)
{
    const auto keys = {std::string_view("cgrupo"), std::string_view("casig"), std::string_view("cprofe")};
    const std::string_view groupId = entry.Read("cgrupo");
    const std::string_view subjectId = entry.Read("casig");
    const std::string_view teacherId = entry.Read("cprofe");
    const std::string_view connection = entry.Read("conexion");
    const std::string_view hoursText = entry.Read("nhoras");

    double hours = 0;
    try {
        hours = ParseHours(hoursText, context.decimalSeparator);
    } catch (const Error& e) {
        RethrowWithContext(entry.Label(keys), e);
    }
    if (hours == 0)
        hours = 1;

    // A cut text would give Orlavi a wrong count; more than ten million weekly hours
    // is a fault in the file, not something to report and carry on with.
    const std::string sessions = SessionsText(hours);
    if (Utf8Length(sessions) > std::size_t{kSessionsWidth})
        throw Error(entry.Label(keys) + ": '" + std::string(hoursText) + "' horas no caben en el campo SESIONES");

    const auto subject = lookups.subjects.Find(subjectId);
    if (!subject || (*subject)[0].empty()) {
        context.report.Note(tableName, "materia sin fila en ASIGNOMT: entrada sin fila", entry.Label(keys));
        return;
    }
    const std::string& subjectCode = (*subject)[0];
    const std::string& activityCode = (*subject)[1];

    const auto group = lookups.groups.Find(groupId);
    if (!group && !groupId.empty())
        context.report.Note(tableName, "grupo no encontrado en GRUPOST: CGRUP vacío", entry.Label(keys));
    const auto teacher = lookups.teachers.Find(teacherId);
    if (!teacher && !teacherId.empty())
        context.report.Note(tableName, "profesor no encontrado en PROFT: CPROF vacío", entry.Label(keys));

    table.Append();
    table.SetString(kCAsig, subjectCode);
    if (teacher)
        table.SetString(kCProf, (*teacher)[0]);
    if (group) {
        table.SetString(kCGrup, (*group)[0]);
        table.SetString(kTurno, (*group)[1]);
        table.SetString(kNivel, (*group)[2]);
        table.SetString(kCurso, (*group)[3]);
        table.SetString(kGrupo, (*group)[4]);
        table.SetString(kIdCurso, (*group)[5]);
    }
    table.SetFloat(kHoras, hours);
    table.SetString(kSesiones, sessions);
    table.SetString(kCTarea, activityCode);
    StoreText(context, table, kNConex, connection, entry, keys);
    StoreText(context, table, kIdGrup, groupId, entry, keys, Cut::Identifier);
    StoreText(context, table, kIdAsig, subjectId, entry, keys, Cut::Identifier);
    StoreText(context, table, kIdProf, teacherId, entry, keys, Cut::Identifier);
    table.Post();
}

// ASIGT. An assignment names its subject, group and teacher by DASTENO identifier, and
// any of those may still come later in the file (a file of several schools repeats every
// section per school): the assignments wait aside, in the order read, until the tables
// they are looked up in are complete, and are written then.
class AssignmentsStep final : public SectionStep {
public:
    AssignmentsStep(ImportContext& context, const ImportedTable& spec)
        : context_(context), spec_(spec), table_(CreateStepTable(context, spec)),
          waiting_(context.tableDir / (std::string(spec.name) + "-espera.tmp"))
    {
    }

    std::string_view Path() const override { return kPath; }

    void Add(const Entry& entry) override { waiting_.Append(entry); }

    void Finish(std::size_t count) override
    {
        NoteSingleEntry(context_, spec_.name, "dasignatura", count);
        const std::string tableName(spec_.name);
        AssignmentLookups lookups(context_.tableDir);
        waiting_.Replay([&](const Entry& entry) { WriteRow(context_, tableName, table_, lookups, entry); });
        context_.report.SetRows(tableName, table_.RecordCount());
        lookups.groups.Close();
        lookups.subjects.Close();
        lookups.teachers.Close();
        table_.Close();
    }

private:
    ImportContext& context_;
    const ImportedTable& spec_;
    DbfTable table_;
    EntrySpool waiting_;
};

}  // namespace

std::unique_ptr<SectionStep> BuildAssignmentsTable(ImportContext& context, const ImportedTable& spec)
{
    return std::make_unique<AssignmentsStep>(context, spec);
}

}  // namespace pasarela
