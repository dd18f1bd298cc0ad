#include "import/import_run.h"

#include "import/table_steps.h"
#include "platform/error.h"
#include "platform/file.h"
#include "platform/file_set.h"
#include "platform/xml_document.h"

namespace pasarela {

const char* const kImportedTables[6] = {"ASIGNOMT", "PROFT", "AULAT", "GRUPOST", "DIASHORAST", "ASIGT"};

namespace {

// The folder inside Orlavi's folder where an import builds its tables; on the same
// volume, so publishing them is a rename.
constexpr char kStagingDir[] = ".pasarela-import";

// The check that the file is well-formed runs on a second core while the tables are built,
// and is waited for before they replace Orlavi's.
XmlDocument LoadSchoolFile(const std::filesystem::path& path)
{
    XmlDocument document = XmlDocument::Load(path, XmlDocument::Check::Aside);
    auto root = document.Root();
    if (!root || root->Name() != "centro")
        document.ConfirmWellFormed();
    if (!root || root->Name() != "centro")
        throw Error("El archivo '" + DisplayPath(path) + "' no es un archivo de DASTENO: su elemento raíz es '" +
                    std::string(root ? root->Name() : "") + "' y debería ser 'centro'");
    return document;
}

// Removes what an earlier run left in the staging folder, except the lock file.
void ClearStaging(const std::filesystem::path& staging, const std::filesystem::path& lock)
{
    std::error_code ec;
    for (const auto& item : std::filesystem::directory_iterator(staging, ec)) {
        if (item.path() == lock)
            continue;
        std::error_code removeEc;
        std::filesystem::remove_all(item.path(), removeEc);
    }
}

// Leaves Orlavi's folder as the import found it. Another import that starts meanwhile
// either gets the lock first (and this removal fails quietly) or makes the folder anew.
void RemoveStaging(const std::filesystem::path& staging, File& lock)
{
    lock.Close();
    std::error_code ec;
    std::filesystem::remove_all(staging, ec);
}

}  // namespace

RunReport RunImport(const ImportOptions& options)
{
    std::error_code ec;
    if (options.xmlFile.empty() || !std::filesystem::is_regular_file(options.xmlFile, ec))
        throw MissingInputError("No existe archivo");
    if (!std::filesystem::is_directory(options.workingDir, ec))
        throw Error("No existe la carpeta de trabajo de Orlavi '" + DisplayPath(options.workingDir) + "'");

    // Parse before anything is touched: a broken file must not cost the school its tables.
    XmlDocument document = LoadSchoolFile(options.xmlFile);

    const std::filesystem::path staging = options.workingDir / kStagingDir;
    std::filesystem::create_directories(staging, ec);
    if (ec == std::errc::permission_denied || ec == std::errc::operation_not_permitted ||
        ec == std::errc::read_only_file_system)
        throw Error("No hay permiso para escribir en la carpeta de trabajo de Orlavi '" +
                    DisplayPath(options.workingDir) + "'");
    if (ec)
        throw Error("No se pudo crear la carpeta '" + DisplayPath(staging) + "': " + ec.message());
    const std::filesystem::path lockPath = staging / "LOCK";
    // One import at a time in a folder: a second one would build into the same place. Any
    // other failure (a read-only folder, a full disk) keeps its own message.
    File lock;
    try {
        lock = File::Open(lockPath, File::Mode::Create);
    } catch (const FileInUseError&) {
        throw Error("Ya hay otra importación en curso en '" + DisplayPath(options.workingDir) + "'");
    }
    RecoverFileSet(staging, options.workingDir);
    ClearStaging(staging, lockPath);

    RunReport report;
    ImportContext context{document, staging, report, options.decimalSeparator, {}, {}};
    bool committing = false;
    try {
        BuildSubjectsTable(context);
        AddActivitiesToSubjectsTable(context);
        BuildTeachersTable(context);
        BuildRoomsTable(context);
        BuildGroupsTable(context);
        BuildTimeSlotsTable(context);
        BuildAssignmentsTable(context);
        document.ConfirmWellFormed();

        if (!options.checkOnly) {
            std::vector<std::string> names;
            for (const char* table : kImportedTables)
                names.push_back(std::string(table) + ".DBF");
            committing = true;
            CommitFileSet(staging, options.workingDir, names);
            // An index built for the old rows would not match the new ones. DIASHORAST's
            // is left, as Orlavi's own import leaves it.
            for (const char* table : kImportedTables) {
                if (std::string_view(table) == "DIASHORAST")
                    continue;
                try {
                    RemoveFile(options.workingDir / (std::string(table) + ".MDX"));
                } catch (const Error& e) {
                    report.Note(table, "índice antiguo que no se pudo borrar", e.what());
                }
            }
        }
    } catch (...) {
        // A commit that could not put the old tables back leaves in the staging folder
        // what the next run needs to finish it; that run clears the folder afterwards.
        // Otherwise the built tables would only take up space.
        if (!committing || !HasPendingCommit(staging))
            RemoveStaging(staging, lock);
        // A file that is not XML explains whatever its content made fail.
        document.ConfirmWellFormed();
        throw;
    }
    RemoveStaging(staging, lock);
    return report;
}

}  // namespace pasarela
