#include "workfolder/staging_lock.h"

#include <chrono>
#include <thread>

#include "os/error.h"
#include "workfolder/file_set.h"

namespace pasarela {
namespace {

constexpr char kStagingDir[] = ".pasarela-import";
constexpr char kLockFile[] = "LOCK";
constexpr char kPendingCommitTable[] = "tablas";
constexpr char kPendingCommitReason[] = "importación anterior que había quedado a medias, completada antes de empezar";
constexpr char kCleanupReason[] = "limpieza pendiente tras completar el cambio (la hará la próxima ejecución)";

// A run that finishes removes the staging folder and its lock; one that starts at that
// very moment makes them anew. Ten rounds of that in a row do not happen by chance.
constexpr int kAttempts = 10;

// Windows refuses to open a file or folder that is being deleted ("access denied") until
// the run deleting it lets go of it, an instant later: worth a short wait before taking
// the refusal for a folder we may not write.
void WaitForPendingDelete(int attempt) { std::this_thread::sleep_for(std::chrono::milliseconds(2 * attempt)); }

bool IsPermissionError(const std::error_code& ec)
{
    return ec == std::errc::permission_denied || ec == std::errc::operation_not_permitted ||
           ec == std::errc::read_only_file_system;
}

[[noreturn]] void ThrowLinkedFolder(const std::filesystem::path& staging)
{
    throw Error("La carpeta '" + DisplayPath(staging) +
                "' es un enlace a otro lugar: Pasarela no la sigue ni cambia nada en ella. Borre el enlace y vuelva a "
                "intentarlo");
}

// Removes what an earlier run left in the staging folder, except the lock file. A link
// among it goes as a link, never with what it leads to: a Windows junction may look like a
// plain folder to remove_all. False when the folder cannot be listed.
bool ClearExceptLock(const std::filesystem::path& staging)
{
    std::error_code ec;
    std::filesystem::directory_iterator items(staging, ec);
    // Under Wine a run that has just let go may have marked the folder for removal before
    // our lock went into it: its removal then fails, but until it lets go of the folder
    // nobody may list it.
    for (int attempt = 1; ec && IsPermissionError(ec) && attempt < 100; ++attempt) {
        WaitForPendingDelete(1);
        items = std::filesystem::directory_iterator(staging, ec);
    }
    if (ec)
        return false;
    for (const auto& item : items) {
        if (item.path().filename() == kLockFile)
            continue;
        std::error_code removeEc;
        if (IsLink(item.path()))
            std::filesystem::remove(item.path(), removeEc);
        else
            std::filesystem::remove_all(item.path(), removeEc);
    }
    return true;
}

}  // namespace

std::filesystem::path StagingFolder(const std::filesystem::path& workingDir) { return workingDir / kStagingDir; }

void NoteFinishedPendingCommit(RunReport& report, const std::filesystem::path& staging)
{
    report.Note(kPendingCommitTable, kPendingCommitReason, DisplayPath(staging));
}

bool FinishedPendingCommit(const RunReport& report)
{
    return report.Count(kPendingCommitTable, kPendingCommitReason) > 0;
}

void NoteCleanupLeft(RunReport& report, const CleanupWarnings& warnings)
{
    for (const std::string& warning : warnings)
        report.Note(kPendingCommitTable, kCleanupReason, warning);
}

StagingLock StagingLock::Take(const std::filesystem::path& workingDir, Use use,
                              const std::vector<std::string>& journalFileNames)
{
    StagingLock held(workingDir, StagingFolder(workingDir));
    const std::filesystem::path& staging = held.staging_;
    const std::filesystem::path lockPath = staging / kLockFile;
    const bool exporting = use == Use::Export;
    for (int attempt = 1;; ++attempt) {
        if (IsLink(staging))
            ThrowLinkedFolder(staging);
        std::error_code ec;
        const bool made = std::filesystem::create_directory(staging, ec);
        if (ec && IsPermissionError(ec) && attempt < kAttempts) {
            WaitForPendingDelete(attempt);
            continue;
        }
        if (ec && IsPermissionError(ec)) {
            // The export only reads; with no staging folder there, no import is under way.
            if (exporting)
                return held;
            throw Error("No hay permiso para escribir en la carpeta de trabajo de Orlavi '" + DisplayPath(workingDir) +
                        "'");
        }
        // Found as something else than a folder: unless a run removed the folder in that
        // instant, it is a file of that name.
        if (ec == std::errc::file_exists && attempt < kAttempts)
            continue;
        if (ec)
            throw Error("No se pudo crear la carpeta '" + DisplayPath(staging) + "': " + ErrorCodeWords(ec));
        if (IsLink(staging))
            ThrowLinkedFolder(staging);
        try {
            held.lock_ = File::Open(lockPath, File::Mode::Keep, File::Links::Refuse);
        } catch (const FileInUseError&) {
            if (exporting)
                throw Error("Hay una importación en curso en '" + DisplayPath(workingDir) +
                            "': espere a que termine y vuelva a exportar");
            throw Error("Ya hay otra importación en curso en '" + DisplayPath(workingDir) + "'");
        } catch (const NoPermissionError& e) {
            if (attempt < kAttempts) {
                WaitForPendingDelete(attempt);
                continue;
            }
            // A folder the export may not write (an import killed there earlier left its
            // staging folder) is read as it is, unless a commit waits there to be finished.
            if (!exporting)
                throw;
            if (HasPendingCommit(staging))
                RethrowWithContext("Una importación anterior quedó a medias en '" + DisplayPath(workingDir) +
                                       "' y no se puede completar",
                                   e);
            return held;
        } catch (const FileNotFoundError&) {
            if (attempt < kAttempts)
                continue;  // the folder was removed by a run that finished meanwhile
            throw;
        } catch (const Error&) {
            // A folder made just now is ours to take away again, with the lock file that
            // Windows creates before it can fail to truncate it.
            if (made) {
                std::error_code removeEc;
                std::filesystem::remove(lockPath, removeEc);
                std::filesystem::remove(staging, removeEc);
            }
            throw;
        }
        if (held.lock_.IsStillAtItsPath())
            break;
        // Its last holder removed it after we opened it: that file locks nothing any more.
        held.lock_.Close();
        if (attempt == kAttempts)
            throw Error("Ya hay otra importación en curso en '" + DisplayPath(workingDir) + "'");
    }
    Recovery recovery = RecoverFileSet(staging, workingDir, journalFileNames);
    held.finishedPendingCommit_ = recovery.changedFiles;
    held.recoveryWarnings_ = std::move(recovery.end.warnings);
    if (!recovery.end.keepFailure.empty())
        held.recoveryWarnings_.push_back(recovery.end.keepFailure);
    if (!ClearExceptLock(staging))
        throw Error("No se pudo leer la carpeta '" + DisplayPath(staging) + "'");
    return held;
}

StagingLock::~StagingLock() { Release(); }

void StagingLock::Release() noexcept
{
    if (!lock_.IsOpen())
        return;
    if (HasPendingCommit(staging_)) {
        lock_.Close();
        return;
    }
    ClearExceptLock(staging_);
    RemoveLockAndFolder(lock_, staging_);
}

}  // namespace pasarela
