#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#ifdef __linux__
#include <sys/mount.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#endif

#include "app/cli_runner.h"
#include "dbf/dbf_table.h"
#include "import/import_run.h"
#include "import/import_test_support.h"
#include "os/file.h"
#include "workfolder/school_record.h"

// Helpers of the fault and hostile-input tests: schools of any size, a picture of a working
// folder to show a failed run changed nothing, the command line as a child program, and
// the small file systems (full, read-only) that only Linux with root can mount.
namespace pasarela::test {

// A school with `entries` teachers, rooms, groups and assignments; `tag` goes into every
// name, so two schools of the same size give tables of different bytes.
inline std::string GeneratedSchool(int entries, std::string_view tag)
{
    const std::string t(tag);
    std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<centro codigo_interno=\"1\" nombre=\"Centro " + t +
                      "\" curso=\"2026/2027\" version=\"1\">\n<materias>\n";
    const int subjects = std::max(2, entries / 10);
    for (int i = 0; i < subjects; ++i)
        xml += EntryXml("dmateria", {{"codigo", "M" + std::to_string(i)}, {"nombre", "Materia " + t + std::to_string(i)},
                                     {"codigo_actividad", "LEC"}, {"idmateria", std::to_string(900 + i)}});
    xml += "</materias>\n<profesores>\n";
    for (int i = 0; i < entries; ++i)
        xml += EntryXml("profesor", {{"codigo", "P" + std::to_string(i)}, {"nombre", "Nombre " + t},
                                     {"apellido1", "Apellido" + std::to_string(i)}, {"apellido2", "Pérez"},
                                     {"idprofesor", std::to_string(5000 + i)}});
    xml += "</profesores>\n<aulas>\n";
    for (int i = 0; i < entries; ++i)
        xml += EntryXml("daula", {{"codigo", "A" + std::to_string(i)}, {"nombre", "Aula " + t + std::to_string(i)},
                                  {"capacidad_alumnos", "30"}, {"idaula", std::to_string(9000 + i)}});
    xml += "</aulas>\n<grupos>\n";
    for (int i = 0; i < entries; ++i)
        xml += EntryXml("dgrupo", {{"codigo", "G" + std::to_string(i)}, {"nombre", "Grupo " + t},
                                   {"codigo_nivel", "ESO"}, {"curso", "1"}, {"cgrupo", "A"},
                                   {"idgrupo", std::to_string(7000 + i)}, {"idcurso", "301"}});
    xml += "</grupos>\n<franjashorarias>\n";
    for (int day = 1; day <= 5; ++day) {
        for (int slot = 1; slot <= 6; ++slot) {
            const std::string hour = (slot < 3 ? "0" : "") + std::to_string(7 + slot);
            xml += EntryXml("franjahoraria", {{"dia_semana", std::to_string(day)}, {"posicion", std::to_string(slot)},
                                              {"hora_inicio", hour + ":00"}, {"hora_final", hour + ":55"}});
        }
    }
    xml += "</franjashorarias>\n<asignaturas>\n";
    for (int i = 0; i < entries * 4; ++i)
        xml += EntryXml("dasignatura", {{"cgrupo", std::to_string(7000 + i % entries)},
                                        {"casig", std::to_string(900 + i % subjects)},
                                        {"cprofe", std::to_string(5000 + i % entries)}, {"conexion", ""},
                                        {"nhoras", i % 3 ? "2" : "2,5"}});
    return xml + "</asignaturas>\n</centro>\n";
}

// Orlavi's timetable for a school made by GeneratedSchool(entries, ...): `rows` sessions
// that name its groups, subjects, teachers and rooms, in the layout Orlavi writes.
inline void WriteSolution(const std::filesystem::path& path, int rows, int entries)
{
    const FieldSpec fields[] = {
        {"DIA", FieldKind::Integer, 0},        {"HORA", FieldKind::Float, 0},     {"SESIONES", FieldKind::Character, 5},
        {"CODGRUPO", FieldKind::Character, 10}, {"ASIG", FieldKind::Character, 10}, {"TAREA", FieldKind::Character, 10},
        {"PROF", FieldKind::Character, 10},     {"AULA", FieldKind::Character, 10}};
    DbfTable::Create(path, fields);
    DbfTable::OpenOptions options;
    options.access = DbfTable::Access::ReadWrite;
    DbfTable solution = DbfTable::Open(path, options);
    for (int row = 0; row < rows; ++row) {
        solution.Append();
        solution.SetInteger(0, 1 + row % 5);
        solution.SetFloat(1, 1 + row % 6);
        solution.SetString(2, "1");
        solution.SetString(3, "G" + std::to_string(row % entries));
        solution.SetString(4, "M0");
        solution.SetString(5, "LECT");
        solution.SetString(6, "P" + std::to_string(row % entries));
        solution.SetString(7, "A" + std::to_string(row % entries));
        solution.Post();
    }
    solution.Close();
}

// Every file and folder under `root`, as relative paths with '/', sorted: what a failed run
// must not have added to.
inline std::vector<std::string> TreeListing(const std::filesystem::path& root)
{
    std::vector<std::string> names;
    for (const auto& item : std::filesystem::recursive_directory_iterator(root))
        names.push_back(item.path().lexically_relative(root).generic_string());
    std::sort(names.begin(), names.end());
    return names;
}

// The bytes of the six tables an import writes, "<none>" for a table that is not there.
inline std::map<std::string, std::string> ImportedTableBytes(const std::filesystem::path& workDir)
{
    std::map<std::string, std::string> tables;
    for (const std::string& table : ImportedTableNames()) {
        const auto path = workDir / (std::string(table) + ".DBF");
        std::error_code ec;
        tables[table] = std::filesystem::exists(path, ec) ? ReadBytes(path) : "<none>";
    }
    return tables;
}

using Tables = std::map<std::string, std::string>;

// The six tables with the date each header carries blanked, so tables written on either
// side of midnight still compare.
inline Tables WithoutDates(Tables tables)
{
    for (auto& [name, bytes] : tables)
        if (bytes.size() >= 4 && bytes != "<none>")
            bytes.replace(1, 3, 3, '\0');
    return tables;
}

// Which whole import the folder holds, or which tables are from which: never a mix.
inline std::string Describe(const Tables& tables, const Tables& old, const Tables& fresh)
{
    std::string text;
    for (const auto& [name, bytes] : tables)
        text += name + (bytes == old.at(name) ? ": old " : bytes == fresh.at(name) ? ": new " : ": neither ");
    return text;
}

// What a run left in the working folder besides the six tables, Orlavi's timetable, the
// import's lock file (its staging folder and LOCK) and the tables the last import replaced
// (kept for a restore) and the record of their school: temporary files, half-built tables, journals.
inline std::vector<std::string> Leftovers(const std::filesystem::path& workDir)
{
    std::vector<std::string> expected = {".pasarela-import", ".pasarela-import/LOCK", "SOLUC.DBF", kSchoolRecordName};
    for (const std::string& table : ImportedTableNames())
        expected.push_back(std::string(table) + ".DBF");
    std::vector<std::string> leftovers;
    for (const std::string& name : TreeListing(workDir))
        if (std::find(expected.begin(), expected.end(), name) == expected.end() &&
            !name.starts_with(".pasarela-guardadas"))  // the sets the imports replaced, kept
            leftovers.push_back(name);
    return leftovers;
}

// A file system mounted on a folder for one test and taken away at its end. Mounting needs
// Linux and root (root ignores permission bits, so a read-only folder must be a read-only
// mount); elsewhere `Mount` gives the reason it cannot, for GTEST_SKIP.
class ScopedMount {
public:
    enum class Kind {
        SmallTmpfs,    // an empty tmpfs of `sizeKiB`, to fill the disk
        ReadOnlyBind,  // the folder itself again, read only, with what it holds
    };

    static std::optional<ScopedMount> Mount(const std::filesystem::path& folder, Kind kind, int sizeKiB,
                                            std::string& whyNot)
    {
#ifdef __linux__
        if (::geteuid() != 0) {
            // A folder without write permission would do for a user, but not for root, who
            // ignores permission bits; one kind of test for both: the mount.
            whyNot = "mounting a file system needs root";
            return std::nullopt;
        }
        int result = 0;
        if (kind == Kind::SmallTmpfs) {
            const std::string options = "size=" + std::to_string(sizeKiB) + "k";
            result = ::mount("tmpfs", folder.c_str(), "tmpfs", 0, options.c_str());
        } else {
            result = ::mount(folder.c_str(), folder.c_str(), nullptr, MS_BIND, nullptr);
            if (result == 0 &&
                ::mount(nullptr, folder.c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) != 0) {
                const int error = errno;
                ::umount2(folder.c_str(), MNT_DETACH);
                errno = error;
                result = -1;
            }
        }
        if (result != 0) {
            whyNot = "cannot mount on " + folder.string() + ": " + std::strerror(errno);
            return std::nullopt;
        }
        return ScopedMount(folder);
#else
        (void)folder;
        (void)kind;
        (void)sizeKiB;
        whyNot = "mounting a small or read-only file system is only done on Linux";
        return std::nullopt;
#endif
    }

    ScopedMount(ScopedMount&& other) noexcept : folder_(std::move(other.folder_)) { other.folder_.clear(); }
    ScopedMount& operator=(ScopedMount&&) = delete;
    ScopedMount(const ScopedMount&) = delete;
    ScopedMount& operator=(const ScopedMount&) = delete;
    ~ScopedMount()
    {
#ifdef __linux__
        if (!folder_.empty())
            ::umount2(folder_.c_str(), MNT_DETACH);
#endif
    }

private:
    explicit ScopedMount(std::filesystem::path folder) : folder_(std::move(folder)) {}

    std::filesystem::path folder_;
};

}  // namespace pasarela::test
