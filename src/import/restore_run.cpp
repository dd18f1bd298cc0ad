#include "import/restore_run.h"

#include <algorithm>
#include <string>
#include <vector>

#include "import/kept_tables.h"
#include "import/table_registry.h"
#include "os/error.h"
#include "os/file.h"
#include "workfolder/file_set.h"
#include "workfolder/kept_set.h"
#include "workfolder/school_record.h"
#include "workfolder/staging_lock.h"

namespace pasarela {
namespace {

constexpr char kRestoreJob[] = "restauración";

// "del centro 123 (IES Ejemplo, 2025-2026), importadas el 10/03/2026 9:30:05 de 'centro.xml'"
std::string GenerationText(const KeptGeneration& generation)
{
    std::string text = generation.school ? "del centro " + SchoolText(generation.school)
                                         : std::string("de un centro que no consta (guardadas por una versión anterior)");
    if (!generation.dateTime.empty())
        text += (generation.file.empty() ? ", guardadas el " : ", importadas el ") + generation.dateTime;
    if (!generation.file.empty())
        text += " de '" + DisplayPath(generation.file) + "'";
    return text;
}

}  // namespace

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

    // Every file is checked before anything changes: a file that is not its table, or an
    // index that is not its table's, is never put in Orlavi's place.
    const KeptSet kept =
        ReadKeptSet(options.workingDir, TableFileNames(".DBF"), JournalFileNames(), options.generation);
    CheckKeptTables(kept, report);
    const std::vector<KeptGeneration> generations = ListKeptGenerations(options.workingDir);
    const KeptGeneration& chosen = generations.at(static_cast<std::size_t>(options.generation) - 1);
    report.SetFolderTables({chosen.school, chosen.dateTime, chosen.file});
    if (options.checkOnly) {
        report.AddHeadline("Una restauración volvería a poner las tablas guardadas número " +
                           std::to_string(chosen.number) + ", " + GenerationText(chosen) + ".");
        lock.Release();
        return report;
    }

    FileSetChange change{StageKeptSet(kept, lock.Folder()), {}, DescribeTablesReplaced(options.workingDir, kRestoreJob)};
    // An index the kept set lacks would describe the rows being replaced, and a school
    // record it lacks would name the school being replaced.
    std::vector<std::string> leaving = StaleIndexNames();
    leaving.push_back(kSchoolRecordName);
    for (const std::string& name : leaving)
        if (std::find(kept.files.begin(), kept.files.end(), name) == kept.files.end())
            change.removed.push_back(name);
    const FinishedChange end = CommitFileSet(lock.Folder(), options.workingDir, change);
    if (!end.keepFailure.empty())
        report.AddHeadline(end.keepFailure);
    report.AddHeadline("Se han vuelto a poner las tablas " + GenerationText(chosen) + ".");
    NoteCleanupLeft(report, end.warnings);
    report.SetKeptSet(end.keptSet);
    lock.Release();
    return report;
}

}  // namespace pasarela
