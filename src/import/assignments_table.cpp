#include <charconv>
#include <cmath>
#include <optional>
#include <span>
#include <string>
#include <unordered_map>
#include <vector>

#include "import/code_list.h"
#include "import/entry_spool.h"
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

// The rows this run has posted, searched by DASTENO identifier, and how a notice names
// what an assignment links.
struct AssignmentLookups {
    explicit AssignmentLookups(const ImportContext& context)
        : groups(context.rows.groups),
          subjects(context.rows.subjects),
          teachers(context.rows.teachers),
          subjectLink{"materia", "ASIGNOMT", "IDASIG", 10, context.names.subjects},
          groupLink{"grupo", "GRUPOST", "IDGRUPO", 10, context.names.groups},
          teacherLink{"profesor", "PROFT", "IDPROF", 10, context.names.teachers}
    {
    }

    const PostedRows& groups;
    const PostedRows& subjects;
    const PostedRows& teachers;
    const Link subjectLink;
    const Link groupLink;
    const Link teacherLink;
};

// The rows an assignment links to, as far as they have been posted.
struct Linked {
    explicit Linked(const AssignmentLookups& lookups, const Entry& entry)
        : groupId(entry.Read("cgrupo")), subjectId(entry.Read("casig")), teacherId(entry.Read("cprofe")),
          group(lookups.groups.Find(groupId)), subject(lookups.subjects.Find(subjectId)),
          teacher(lookups.teachers.Find(teacherId))
    {
    }

    // Whether the row of the assignment is what it will be once the file is read: a row
    // found now stays the first with its key whatever comes later, while one not found yet
    // (even by an empty identifier, which a row may hold) may still come.
    bool Settled() const { return group && subject && teacher; }

    std::string_view groupId;
    std::string_view subjectId;
    std::string_view teacherId;
    std::optional<std::span<const std::string_view>> group;
    std::optional<std::span<const std::string_view>> subject;
    std::optional<std::span<const std::string_view>> teacher;
};

// The row of one assignment, its codes found in the tables the earlier steps built.
void WriteRow(ImportContext& context, const std::string& tableName, DbfTable& table, const AssignmentLookups& lookups,
              const Entry& entry, const Linked& linked)
{
    const auto keys = {std::string_view("cgrupo"), std::string_view("casig"), std::string_view("cprofe")};
    const std::string_view groupId = linked.groupId;
    const std::string_view subjectId = linked.subjectId;
    const std::string_view teacherId = linked.teacherId;
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

    const auto& subject = linked.subject;
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

    const auto& group = linked.group;
    if (!group && !groupId.empty())
        context.report.Note(tableName, WhyNotFound(lookups.groupLink, groupId) + ": asignación sin grupo (CGRUP vacío)",
                            label());
    const auto& teacher = linked.teacher;
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
// section per school; an activity gets its row only once every subject has one). An
// assignment whose links are all settled is written as it is read; from the first that is
// not, the assignments wait aside, in the order read, until the tables they are looked up
// in are complete, and are written then. Rows stay in the order of the file either way.
class AssignmentsStep final : public TableBuildingStep {
public:
    AssignmentsStep(ImportContext& context, const ImportedTable& imported)
        : TableBuildingStep(context, imported), tableName_(imported.name), lookups_(context),
          waiting_(context.tableDir / (std::string(imported.name) + "-espera.tmp"))
    {
    }

    std::string_view Path() const override { return kPath; }

    void Add(const Entry& entry) override
    {
        if (waiting_.Count() == 0) {
            if (const Linked linked(lookups_, entry); linked.Settled()) {
                WriteRow(context_, tableName_, table_, lookups_, entry, linked);
                return;
            }
        }
        waiting_.Append(entry);
    }

    void Finish(std::size_t count) override
    {
        NoteSingleEntry(context_, imported_.name, "asignación", count);
        waiting_.Replay(
            [&](const Entry& entry) { WriteRow(context_, tableName_, table_, lookups_, entry, Linked(lookups_, entry)); });
        context_.report.SetRows(tableName_, table_.RecordCount());
        table_.Close();
    }

private:
    const std::string tableName_;
    const AssignmentLookups lookups_;
    EntrySpool waiting_;
};

}  // namespace

std::unique_ptr<SectionStep> BuildAssignmentsTable(ImportContext& context, const ImportedTable& imported)
{
    return std::make_unique<AssignmentsStep>(context, imported);
}

}  // namespace pasarela
