#include "import/kept_tables.h"

#include <algorithm>
#include <chrono>
#include <fstream>

#include "dbf/dbf_table.h"
#include "import/table_registry.h"
#include "os/error.h"
#include "os/file.h"
#include "text/text.h"

namespace pasarela {
namespace {

// dBase IV's multiple index file: its version byte, and where it names its table.
constexpr unsigned char kIndexVersion = 0x02;
constexpr std::size_t kIndexTableNameAt = 4;
constexpr std::size_t kIndexTableNameLength = 16;

char TypeFamily(char type)
{
    switch (type) {
    case 'N': case 'F': case 'I': case 'O': case 'B': case 'Y':
        return 'N';
    default:
        return type;
    }
}

char TypeOf(const FieldSpec& spec)
{
    switch (spec.kind) {
    case FieldKind::Character: return 'C';
    case FieldKind::Logical: return 'L';
    case FieldKind::Integer:
    case FieldKind::Float: return 'N';
    }
    return '?';
}

// Why the table's fields are not those the import gives `imported`; empty when they are.
// Orlavi may store a number in another numeric type, so the numeric types are one.
std::string FieldsProblem(const DbfTable& table, const ImportedTable& imported)
{
    const auto& fields = table.Fields();
    for (std::size_t i = 0; i < imported.fields.size(); ++i) {
        const FieldSpec& spec = imported.fields[i];
        if (i >= fields.size())
            return "le falta el campo " + spec.name;
        const DbfField& field = fields[i];
        if (!EqualsIgnoreCase(field.name, spec.name))
            return "su campo " + std::to_string(i + 1) + " es " + field.name + " y debería ser " + spec.name;
        if (TypeFamily(field.type) != TypeOf(spec))
            return "el campo " + spec.name + " es de tipo " + std::string(1, field.type) + " y debería ser de tipo " +
                   std::string(1, TypeOf(spec));
        if (spec.kind == FieldKind::Character && field.length != spec.width)
            return "el campo " + spec.name + " tiene " + std::to_string(field.length) + " caracteres y debería tener " +
                   std::to_string(spec.width);
    }
    if (fields.size() > imported.fields.size())
        return "tiene el campo " + fields[imported.fields.size()].name + ", que no es de esta tabla";
    return {};
}

// Why `path` is not the index of `table`; empty when it is.
std::string IndexProblem(const std::filesystem::path& path, std::string_view table)
{
    std::ifstream in(path, std::ios::binary);
    char head[kIndexTableNameAt + kIndexTableNameLength] = {};
    in.read(head, sizeof head);
    if (in.gcount() != static_cast<std::streamsize>(sizeof head) ||
        static_cast<unsigned char>(head[0]) != kIndexVersion)
        return "no es un índice de dBase";
    std::string named(head + kIndexTableNameAt, kIndexTableNameLength);
    named.erase(std::find(named.begin(), named.end(), '\0'), named.end());
    if (!EqualsIgnoreCase(Trim(named), table))
        return "es el índice de " + std::string(Trim(named)) + ", no de " + std::string(table);
    return {};
}

}  // namespace

std::string DescribeTablesReplaced(const std::filesystem::path& workingDir, std::string_view job)
{
    KeptDescription description{std::chrono::system_clock::now(), std::string(job), {}};
    for (const ImportedTable& table : kImportedTables) {
        try {
            description.rows.emplace_back(std::string(table.name),
                                          DbfTable::Open(workingDir / (std::string(table.name) + ".DBF")).RecordCount());
        } catch (const Error&) {
            // A table that is not there, or not one, has no rows to tell.
        }
    }
    return KeptDescriptionText(description);
}

void CheckKeptTables(const KeptSet& kept, RunReport& report)
{
    const auto refused = [&](const std::string& file, const std::string& why) {
        return Error("Las tablas guardadas en '" + DisplayPath(kept.folder) + "' no se pueden restaurar: '" + file +
                     "' " + why + ". No se ha cambiado ninguna tabla");
    };
    for (const ImportedTable& table : kImportedTables) {
        const std::string file = std::string(table.name) + ".DBF";
        const DbfTable opened = [&] {
            try {
                return DbfTable::Open(kept.folder / file);
            } catch (const Error& e) {
                RethrowWithContext("Las tablas guardadas en '" + DisplayPath(kept.folder) +
                                       "' no se pueden restaurar. No se ha cambiado ninguna tabla",
                                   e);
            }
        }();
        if (const std::string problem = FieldsProblem(opened, table); !problem.empty())
            throw refused(file, "no tiene los campos de la tabla " + std::string(table.name) + ": " + problem);
        report.SetRows(std::string(table.name), opened.RecordCount());
        const std::string index = std::string(table.name) + ".MDX";
        if (std::find(kept.files.begin(), kept.files.end(), index) == kept.files.end())
            continue;
        if (const std::string problem = IndexProblem(kept.folder / index, table.name); !problem.empty())
            throw refused(index, problem);
    }
}

std::string SchoolChangeHeadline(const std::optional<SchoolIdentity>& before, const SchoolIdentity& after,
                                 bool checkOnly)
{
    if (!before || SameSchool(*before, after))
        return {};
    if (checkOnly)
        return "ATENCIÓN: las tablas de la carpeta de trabajo son del centro " + SchoolText(before) +
               ", y este archivo es del centro " + SchoolText(after) +
               ". Importarlo pondría las tablas de otro centro en su lugar.";
    return "ATENCIÓN: las tablas que había eran del centro " + SchoolText(before) + " y ahora son del centro " +
           SchoolText(after) + ". Si no era lo que quería, «Deshacer» (o pasarela-cli restore) vuelve a poner las "
           "del centro " + SchoolText(before) + ".";
}

}  // namespace pasarela
