#include "import/import_run.h"

#include <string>
#include <string_view>

#include "import/table_changes.h"
#include "import/table_registry.h"
#include "import/table_steps.h"
#include "os/error.h"
#include "os/file.h"
#include "workfolder/file_set.h"
#include "workfolder/staging_lock.h"
#include "xml/xml_document.h"

namespace pasarela {

namespace {

// The sections of a DASTENO file that the tables are built from.
constexpr std::string_view kSchoolSections[] = {"materias", "profesores", "aulas", "grupos", "franjashorarias",
                                                 "asignaturas"};

// A file without any of them has nothing to import: taken as it is, it would empty all six
// tables. The export's own result (ResultadoOrlavis...) is such a file, and it sits beside
// the school's in the same folder, so it is the likely mistake and is named.
void RequireSchoolSections(const XmlDocument& document, const std::filesystem::path& path)
{
    for (std::string_view section : kSchoolSections)
        if (document.SelectFirst("/centro/" + std::string(section)))
            return;
    std::string message = "El archivo '" + DisplayPath(path) +
                          "' no tiene ninguna de las secciones con los datos del centro (materias, profesores, "
                          "aulas, grupos, franjashorarias, asignaturas): no hay nada que importar.";
    if (document.SelectFirst("/centro/solucion_horario"))
        message += " Tiene un horario (solucion_horario): parece el resultado de una exportación "
                   "(ResultadoOrlavis...), no el archivo exportado por DASTENO.";
    throw Error(message + " No se ha cambiado ninguna tabla");
}

// The check that the file is well-formed runs on a second core while the tables are built,
// and is waited for before they replace Orlavi's.
XmlDocument LoadSchoolFile(const std::filesystem::path& path)
{
    XmlDocument document = XmlDocument::Load(path, XmlDocument::Check::Aside);
    try {
        RequireSchoolRoot(document, path);
        RequireSchoolSections(document, path);
    } catch (const Error&) {
        document.ConfirmWellFormed();  // a file that is not XML explains the wrong root
        throw;
    }
    return document;
}

std::vector<std::string> TableFileNames(const char* extension)
{
    std::vector<std::string> names;
    for (const ImportedTable& table : kImportedTables)
        names.push_back(std::string(table.name) + extension);
    return names;
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

    StagingLock lock = StagingLock::Take(options.workingDir, StagingLock::Use::Import, JournalFileNames());
    const std::filesystem::path& staging = lock.Folder();

    RunReport report;
    if (lock.FinishedPendingCommit())
        NoteFinishedPendingCommit(report, staging);
    NoteCleanupLeft(report, lock.RecoveryWarnings());
    ImportContext context{document, staging, report, options.decimalSeparator, {}, {}, {}};
    // On any failure the lock's release clears the staging folder, unless a commit that
    // could not put the old tables back left there what the next run needs to finish it.
    std::vector<StagedFile> staged;
    try {
        for (const ImportedTable& table : kImportedTables)
            table.step(context, table);
        // Taken as the steps leave their tables: the commit publishes these very files.
        staged = RecordStagedFiles(staging, TableFileNames(".DBF"));
    } catch (...) {
        // A file that is not XML explains whatever its content made fail.
        document.ConfirmWellFormed();
        throw;
    }
    document.ConfirmWellFormed();

    // Before the commit, while the earlier tables are still there (a check compares with
    // the tables it leaves in place).
    CompareWithEarlierTables(options.workingDir, staging, report);

    if (!options.checkOnly) {
        FileSetChange change{std::move(staged), {}};
        // An index built for the old rows would not match the new ones. DIASHORAST's
        // is left, as Orlavi's own import leaves it.
        for (const ImportedTable& table : kImportedTables)
            if (table.name != "DIASHORAST")
                change.removed.push_back(std::string(table.name) + ".MDX");
        const FinishedChange end = CommitFileSet(staging, options.workingDir, change);
        NoteCleanupLeft(report, end.warnings);
        report.SetKeptSet(end.keptSet);
    }
    lock.Release();
    return report;
}

}  // namespace pasarela
