#include <charconv>
#include <cmath>
#include <string>
#include <unordered_map>
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

// The hours are read a second time as a whole number, which takes signed decimal digits
// and no more. A fraction after the decimal mark is taken as well (DASTENO writes "2,5"),
// but an exponent ("1e1"), or a whole part beyond 32 bits, ends the run with that
// reading's error, as Orlavi's own import did. `text` is already known to be a number.
void CheckWholeHours(std::string_view text)
{
    const std::string_view whole = text.substr(0, text.find_first_not_of("+-0123456789"));
    bool fits = true;
    if (whole.find_first_of("0123456789") != std::string_view::npos) {  // ".5" has no whole part
        try {
            ParseInteger(whole);
        } catch (const Error&) {
            fits = false;
        }
    }
    if (!fits || text.find_first_of("eE") != std::string_view::npos)
        throw Error("'" + std::string(text) + "' is not a valid integer value");  // the conversion's own words
}

// What an assignment links: a subject, group or teacher, as notices name it.
struct Link {
    std::string_view kind;   // "materia"
    std::string_view table;  // "ASIGNOMT"
    std::string_view field;  // "IDASIG", the field searched
    std::size_t width;       // that field's width
    const NamesById& names;
};

// "materia MAT «Matemáticas» (identificador 901)": what the file calls the thing an
// assignment links, by its identifier; "materia con identificador 999 (no está en el
// archivo)" when the file has none by that identifier, "sin materia" when the attribute is empty.
std::string Describe(const Link& link, std::string_view id)
{
    if (id.empty())
        return "sin " + std::string(link.kind);
    const std::optional<NamedInFile> found = link.names.Find(id);
    if (!found)
        return std::string(link.kind) + " con identificador " + std::string(id) + " (no está en el archivo)";
    std::string text(link.kind);
    if (!found->code.empty())
        text.append(" ").append(found->code);
    if (!found->name.empty())
        text.append(" «").append(found->name).append("»");
    return text.append(" (identificador ").append(id).append(")");
}

// Why the table built from the file has no row for `id`, worded for the report as the
// first half of a reason ("materia sin fila en ASIGNOMT"). The search matches the stored
// field against the text, as Orlavi's does; an identifier the field cannot hold as it is
// was stored as another text, so no assignment can be linked to it.
std::string WhyNotFound(const Link& link, std::string_view id)
{
    if (!link.names.Contains(id))
        return std::string(link.kind) + " que el archivo no tiene";
    if (Utf8Length(id) > link.width)
        return "identificador de " + std::string(link.kind) + " más largo que el campo " + std::string(link.field);
    if (!IsAsciiText(id) && StoredForm(id) != id)
        return "identificador de " + std::string(link.kind) + " con caracteres que Windows-1252 no admite (" +
               std::string(link.table) + " no puede guardarlo)";
    return std::string(link.kind) + " sin fila en " + std::string(link.table);
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

// The tables this run built, searched by DASTENO identifier, and how a notice names what
// an assignment links.
struct AssignmentLookups {
    explicit AssignmentLookups(const ImportContext& context)
        : groups(context.tableDir / "GRUPOST.DBF", "IDGRUPO", {"ABREV", "TURNO", "NIVEL", "CURSO", "GRUPO", "IDCURSO"}),
          subjects(context.tableDir / "ASIGNOMT.DBF", "IDASIG", {"COD", "CODTAREA"}),
          teachers(context.tableDir / "PROFT.DBF", "IDPROF", {"ABREV"}),
          subjectLink{"materia", "ASIGNOMT", "IDASIG", 10, context.names.subjects},
          groupLink{"grupo", "GRUPOST", "IDGRUPO", 10, context.names.groups},
          teacherLink{"profesor", "PROFT", "IDPROF", 10, context.names.teachers}
    {
    }

    HeldTableLookup groups;
    HeldTableLookup subjects;
    HeldTableLookup teachers;
    const Link subjectLink;
    const Link groupLink;
    const Link teacherLink;
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
    const auto label = [&] {
        return "asignación nº " + std::to_string(entry.Number()) + ": " + Describe(lookups.groupLink, groupId) + ", " +
               Describe(lookups.subjectLink, subjectId) + ", " + Describe(lookups.teacherLink, teacherId);
    };

    double hours = 0;
    try {
        hours = ParseHours(hoursText, context.decimalSeparator);
        CheckWholeHours(hoursText);
    } catch (const Error& e) {
        RethrowWithContext(entry.Label(keys), e);
    }
    if (hours == 0)
        hours = 1;

    const auto subject = lookups.subjects.Find(subjectId);
    if (!subject) {
        context.report.Note(tableName,
                            subjectId.empty() ? "asignación sin materia: omitida"
                                              : WhyNotFound(lookups.subjectLink, subjectId) + ": asignación omitida",
                            label());
        return;
    }
    if ((*subject)[0].empty()) {
        context.report.Note(tableName, "materia con código vacío en ASIGNOMT: asignación omitida", label());
        return;
    }
    const std::string_view subjectCode = (*subject)[0];
    const std::string_view activityCode = (*subject)[1];

    const auto group = lookups.groups.Find(groupId);
    if (!group && !groupId.empty())
        context.report.Note(tableName, WhyNotFound(lookups.groupLink, groupId) + ": asignación sin grupo (CGRUP vacío)",
                            label());
    const auto teacher = lookups.teachers.Find(teacherId);
    if (!teacher && !teacherId.empty())
        context.report.Note(tableName,
                            WhyNotFound(lookups.teacherLink, teacherId) + ": asignación sin profesor (CPROF vacío)",
                            label());

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
    // More hours than SESIONES can spell out are cut to its width like any text, and noted.
    StoreText(context, table, kSesiones, SessionsText(hours), label);
    table.SetString(kCTarea, activityCode);
    StoreText(context, table, kNConex, connection, label);
    StoreText(context, table, kIdGrup, groupId, label, Cut::Identifier);
    StoreText(context, table, kIdAsig, subjectId, label, Cut::Identifier);
    StoreText(context, table, kIdProf, teacherId, label, Cut::Identifier);
    table.Post();
}

// ASIGT. An assignment names its subject, group and teacher by DASTENO identifier, and
// any of those may still come later in the file (a file of several schools repeats every
// section per school): the assignments wait aside, in the order read, until the tables
// they are looked up in are complete, and are written then.
class AssignmentsStep final : public TableBuildingStep {
public:
    AssignmentsStep(ImportContext& context, const ImportedTable& imported)
        : TableBuildingStep(context, imported),
          waiting_(context.tableDir / (std::string(imported.name) + "-espera.tmp"))
    {
    }

    std::string_view Path() const override { return kPath; }

    void Add(const Entry& entry) override { waiting_.Append(entry); }

    void Finish(std::size_t count) override
    {
        NoteSingleEntry(context_, imported_.name, "asignación", count);
        const std::string tableName(imported_.name);
        AssignmentLookups lookups(context_);
        waiting_.Replay([&](const Entry& entry) { WriteRow(context_, tableName, table_, lookups, entry); });
        context_.report.SetRows(tableName, table_.RecordCount());
        lookups.groups.Close();
        lookups.subjects.Close();
        lookups.teachers.Close();
        table_.Close();
    }

private:
    EntrySpool waiting_;
};

}  // namespace

std::unique_ptr<SectionStep> BuildAssignmentsTable(ImportContext& context, const ImportedTable& imported)
{
    return std::make_unique<AssignmentsStep>(context, imported);
}

}  // namespace pasarela
