#include "import/restore_run.h"

#include <string>
#include <vector>

#include "dbf/dbf_table.h"
#include "import/table_registry.h"
#include "os/error.h"
#include "os/file.h"
#include "workfolder/file_set.h"
#include "workfolder/kept_set.h"
#include "workfolder/staging_lock.h"

namespace pasarela {

RunReport RunRestore(const RestoreOptions& options)
{
    std::error_code ec;
    if (!std::filesystem::is_directory(options.workingDir, ec))
        throw Error("No existe la carpeta de trabajo de Orlavi '" + DisplayPath(options.workingDir) + "'");

    StagingLock lock = StagingLock::Take(options.workingDir, StagingLock::Use::Import, JournalFileNames());
    RunReport report;
    if (lock.FinishedPendingCommit())
        NoteFinishedPendingCommit(report, lock.Folder());
    NoteCleanupLeft(report, lock.RecoveryWarnings());

    const KeptSet kept = ReadKeptSet(options.workingDir, TableFileNames(".DBF"), JournalFileNames(), options.generation);
    // Every kept table must open as one: a file that is not a table is never put in
    // Orlavi's place.
    for (const ImportedTable& table : kImportedTables) {
        const auto path = kept.folder / (std::string(table.name) + ".DBF");
        try {
            report.SetRows(std::string(table.name), DbfTable::Open(path).RecordCount());
        } catch (const Error& e) {
            RethrowWithContext("Las tablas guardadas en '" + DisplayPath(kept.folder) +
                                   "' no se pueden restaurar. No se ha cambiado ninguna tabla",
                               e);
        }
    }
    if (options.checkOnly) {
        lock.Release();
        return report;
    }

    FileSetChange change{StageKeptSet(kept, lock.Folder()), {}, {}};
    // An index the kept set lacks would describe the rows being replaced.
    for (const std::string& index : StaleIndexNames()) {
        bool restored = false;
        for (const StagedFile& file : change.replaced)
            restored = restored || file.name == index;
        if (!restored)
            change.removed.push_back(index);
    }
    const FinishedChange end = CommitFileSet(lock.Folder(), options.workingDir, change);
    NoteCleanupLeft(report, end.warnings);
    report.SetKeptSet(end.keptSet);
    lock.Release();
    return report;
}

}  // namespace pasarela
