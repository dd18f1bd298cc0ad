#include "workfolder/file_set.h"

#include <algorithm>
#include <optional>
#include <sstream>

#include "os/atomic_file.h"
#include "os/error.h"
#include "os/file.h"

namespace pasarela {
namespace {

constexpr char kJournal[] = "COMMIT";
constexpr char kOldDir[] = "old";
constexpr char kKeptDir[] = ".pasarela-anterior";
// Where the set kept before goes while this one takes its place.
constexpr char kSupersededDir[] = "superseded";
constexpr char kEnd[] = "END";
// Far more than a journal of every table and index takes.
constexpr std::uint64_t kLongestJournal = 64 * 1024;
// Marks a journal line that names a target to take away rather than one to replace.
constexpr char kRemovedMark = '-';

constexpr char kLeftHalfDone[] =
    "Las tablas quedaron a medio cambiar: la próxima importación o exportación completará el cambio antes de "
    "empezar";

struct Journal {
    std::vector<std::string> replaced;
    std::vector<std::string> removed;
};

bool Exists(const std::filesystem::path& path)
{
    std::error_code ec;
    return std::filesystem::exists(path, ec) || IsLink(path);
}

// Never into a disk mounted inside (whose files are not ours) nor through a link.
void RemoveQuietly(const std::filesystem::path& path)
{
    RemoveTree(path);
}

void WriteJournal(const std::filesystem::path& stagingDir, const FileSetChange& change)
{
    std::string text;
    for (const StagedFile& file : change.replaced)
        text += file.name + "\n";
    for (const std::string& name : change.removed)
        text += kRemovedMark + name + "\n";
    AtomicFile journal(stagingDir / kJournal);
    journal.Write(text + kEnd + "\n");
    journal.Commit();
}

// The journal is ours, written aside and renamed, so it is complete and names only the
// files of the set; anything else was not written by a commit (or was tampered with), and
// following it could move files from or to anywhere.
Journal ReadJournal(const std::filesystem::path& stagingDir, const std::vector<std::string>& allowedNames)
{
    const auto journalPath = stagingDir / kJournal;
    const auto damaged = [&](const std::string& why) {
        return Error("El registro de cambios '" + DisplayPath(journalPath) + "' está dañado (" + why +
                     "): no se ha movido ningún archivo. Compruebe las tablas, borre la carpeta '" +
                     DisplayPath(stagingDir) + "' y vuelva a intentarlo");
    };
    if (IsLink(journalPath))
        throw damaged("es un enlace a otro lugar");
    // Opened as our files are: a FIFO or a folder in its place is refused at once.
    const File file = File::Open(journalPath, File::Mode::Read, File::Links::Refuse);
    if (file.Size() > kLongestJournal)
        throw damaged("es demasiado grande");
    std::string text(static_cast<std::size_t>(file.Size()), '\0');
    text.resize(file.ReadAt(0, text.data(), text.size()));
    std::istringstream in(text);
    Journal journal;
    std::vector<std::string> seen;
    std::string line;
    bool complete = false;
    while (std::getline(in, line)) {
        if (line == kEnd) {
            complete = true;
            break;
        }
        const bool removed = !line.empty() && line[0] == kRemovedMark;
        const std::string name = removed ? line.substr(1) : line;
        if (std::find(allowedNames.begin(), allowedNames.end(), name) == allowedNames.end())
            throw damaged("nombra '" + name + "', que no es ninguna de las tablas");
        if (std::find(seen.begin(), seen.end(), name) != seen.end())
            throw damaged("nombra '" + name + "' dos veces");
        seen.push_back(name);
        (removed ? journal.removed : journal.replaced).push_back(name);
    }
    if (!complete)
        throw damaged("está incompleto");
    std::error_code ec;
    const auto oldDir = stagingDir / kOldDir;
    if (IsLink(oldDir) || (std::filesystem::exists(oldDir, ec) && !std::filesystem::is_directory(oldDir, ec)))
        throw damaged("'" + std::string(kOldDir) + "' no es una carpeta");
    for (const std::string& name : journal.replaced)
        if (Exists(stagingDir / name) && !PlainFileIdentity(stagingDir / name))
            throw damaged("'" + name + "' no es un archivo");
    return journal;
}

// Holds every target that is there, as Orlavi would: a table another program has open
// stops the change before anything moves. Windows' renames refuse a file in use by
// themselves, and would refuse ours too.
std::vector<File> HoldTargets(const std::filesystem::path& targetDir, const std::vector<std::string>& names)
{
    std::vector<File> held;
    if (!CanRenameWhileHeld())
        return held;
    for (const std::string& name : names)
        if (Exists(targetDir / name))
            held.push_back(File::Open(targetDir / name, File::Mode::Read));
    return held;
}

// Moves `target` to `aside` unless another program holds it.
void MoveAside(const std::filesystem::path& target, const std::filesystem::path& aside)
{
    if (!Exists(target))
        return;
    File held;
    if (CanRenameWhileHeld())
        held = File::Open(target, File::Mode::Read);
    RenameFile(target, aside);
}

// Makes old/ the kept set, in place of the one kept before. A set that cannot be kept is
// not left as the last one kept either: it would be taken for this change's.
std::filesystem::path KeepReplacedSet(const std::filesystem::path& stagingDir, const std::filesystem::path& targetDir,
                                      CleanupWarnings& warnings)
{
    const auto oldDir = stagingDir / kOldDir;
    const auto kept = KeptSetFolder(targetDir);
    const auto superseded = stagingDir / kSupersededDir;
    // A change that replaced nothing leaves the set kept before: it is still the last one
    // replaced, and a restore of it keeps what it replaces in turn.
    std::error_code ec;
    if (std::filesystem::is_empty(oldDir, ec))
        return {};
    if (IsMountPoint(kept)) {
        warnings.push_back("No se han guardado las tablas reemplazadas: la carpeta '" + DisplayPath(kept) +
                           "' es otro disco montado en la carpeta de trabajo, y Pasarela no borra ni cambia nada en "
                           "ella");
        return {};
    }
    try {
        RemoveQuietly(superseded);
        if (IsLink(kept))
            std::filesystem::remove(kept);  // the link alone, never what it leads to
        else if (Exists(kept))
            RenameFolder(kept, superseded);
        RenameFolder(oldDir, kept);
    } catch (const std::exception& e) {
        if (Exists(oldDir))
            RemoveQuietly(kept);
        warnings.push_back("No se han podido guardar las tablas reemplazadas en '" + DisplayPath(kept) +
                           "': " + UserMessage(e));
        return {};
    }
    RemoveQuietly(superseded);
    return kept;
}

// Everything after the last file is in place: the change is made, so a failure here is
// told, not thrown. An index that stays is moved aside by the next import; a journal that
// stays is cleared by the next run, which finds nothing left to move. Once old/ has become
// the kept set, only the journal is left.
FinishedChange FinishChange(const std::filesystem::path& stagingDir, const std::filesystem::path& targetDir,
                            const std::vector<std::string>& removed)
{
    FinishedChange end;
    const auto oldDir = stagingDir / kOldDir;
    if (Exists(oldDir)) {
        for (const std::string& name : removed) {
            try {
                MoveAside(targetDir / name, oldDir / name);
            } catch (const std::exception& e) {
                end.warnings.push_back(UserMessage(e));
            }
        }
        end.keptSet = KeepReplacedSet(stagingDir, targetDir, end.warnings);
    }
    try {
        RemoveFile(stagingDir / kJournal);
    } catch (const std::exception& e) {
        end.warnings.push_back(UserMessage(e));
    }
    RemoveQuietly(oldDir);
    RemoveQuietly(stagingDir / kSupersededDir);
    return end;
}

// Moves every staged file into place, keeping what it replaces under old/, from whatever
// point a commit reached: a file already moved is no longer staged. Returns whether any
// file moved.
bool RollForward(const std::filesystem::path& stagingDir, const std::filesystem::path& targetDir,
                 const std::vector<std::string>& names)
{
    std::vector<std::string> pending;
    for (const std::string& name : names)
        if (Exists(stagingDir / name))
            pending.push_back(name);
    std::vector<File> held = HoldTargets(targetDir, pending);

    // No old/ with nothing to move: the change had already made it the kept set.
    const std::filesystem::path oldDir = stagingDir / kOldDir;
    if (!pending.empty())
        std::filesystem::create_directories(oldDir);
    for (const std::string& name : pending) {
        if (Exists(targetDir / name))
            RenameFile(targetDir / name, oldDir / name);
        RenameFile(stagingDir / name, targetDir / name);
    }
    return !pending.empty();
}

[[noreturn]] void ThrowLeftHalfDone(const std::exception& cause)
{
    throw Error(UserMessage(cause) + ". " + kLeftHalfDone);
}

// Puts back what a failed commit moved, newest first: `swapped` files are in place with
// their old ones under old/ when `hadOld` says so; `half` is a file whose old one went under
// old/ while the new one stayed staged. What cannot be put back leaves the journal and
// old/ for the next run, which then finishes the change: the error says so.
void Undo(const std::filesystem::path& stagingDir, const std::filesystem::path& targetDir,
          const std::vector<std::string>& swapped, const std::vector<bool>& hadOld,
          const std::optional<std::string>& half, const std::exception& cause)
{
    const auto oldDir = stagingDir / kOldDir;
    try {
        if (half)
            RenameFile(oldDir / *half, targetDir / *half);
        for (std::size_t i = swapped.size(); i-- > 0;) {
            RenameFile(targetDir / swapped[i], stagingDir / swapped[i]);
            if (hadOld[i])
                RenameFile(oldDir / swapped[i], targetDir / swapped[i]);
        }
    } catch (const std::exception&) {
        ThrowLeftHalfDone(cause);
    }
    try {
        RemoveFile(stagingDir / kJournal);
    } catch (const std::exception&) {
        // The old set is back, but the journal would take the new one in.
        ThrowLeftHalfDone(cause);
    }
}

}  // namespace

std::vector<StagedFile> RecordStagedFiles(const std::filesystem::path& stagingDir,
                                          const std::vector<std::string>& names)
{
    std::vector<StagedFile> files;
    for (const std::string& name : names) {
        const auto identity = PlainFileIdentity(stagingDir / name);
        if (!identity)
            throw Error("El archivo '" + DisplayPath(stagingDir / name) +
                        "' no es un archivo corriente (es un enlace o falta): no se ha cambiado ninguna tabla");
        files.push_back({name, *identity});
    }
    return files;
}

std::filesystem::path KeptSetFolder(const std::filesystem::path& targetDir) { return targetDir / kKeptDir; }

FinishedChange CommitFileSet(const std::filesystem::path& stagingDir, const std::filesystem::path& targetDir,
                              const FileSetChange& change)
{
    std::vector<std::string> names;
    for (const StagedFile& file : change.replaced)
        names.push_back(file.name);
    // Refuse before touching anything when Orlavi (or anyone) holds one of the tables.
    std::vector<File> held = HoldTargets(targetDir, names);

    const std::filesystem::path oldDir = stagingDir / kOldDir;
    RemoveQuietly(oldDir);
    std::filesystem::create_directories(oldDir);
    if (!std::filesystem::is_empty(oldDir))
        throw Error("No se pudo vaciar la carpeta '" + DisplayPath(oldDir) + "'");
    WriteJournal(stagingDir, change);

    std::vector<std::string> swapped;
    std::vector<bool> hadOld;
    for (const StagedFile& file : change.replaced) {
        const auto staged = stagingDir / file.name;
        const auto target = targetDir / file.name;
        std::optional<std::string> half;
        try {
            // A file swapped for a link (or any other) since its writer closed it would
            // take Orlavi's writes somewhere else.
            if (PlainFileIdentity(staged) != file.identity)
                throw Error("El archivo '" + DisplayPath(staged) +
                            "' ya no es el que escribió Pasarela (otro programa lo ha cambiado o lo ha sustituido "
                            "por un enlace): se mantienen las tablas anteriores");
            const bool exists = Exists(target);
            if (exists) {
                RenameFile(target, oldDir / file.name);
                half = file.name;
            }
            RenameFile(staged, target);
            swapped.push_back(file.name);
            hadOld.push_back(exists);
            half.reset();
            // Checked again once published: a file put in its place in the instant between
            // the check and the rename is moved back out with the rest.
            if (PlainFileIdentity(target) != file.identity)
                throw Error("El archivo '" + DisplayPath(target) +
                            "' no es el que escribió Pasarela (otro programa lo ha sustituido al publicarlo): se "
                            "mantienen las tablas anteriores");
        } catch (const std::exception& e) {
            held.clear();
            Undo(stagingDir, targetDir, swapped, hadOld, half, e);
            throw;
        }
    }
    held.clear();
    return FinishChange(stagingDir, targetDir, change.removed);
}

bool HasPendingCommit(const std::filesystem::path& stagingDir) { return Exists(stagingDir / kJournal); }

Recovery RecoverFileSet(const std::filesystem::path& stagingDir, const std::filesystem::path& targetDir,
                        const std::vector<std::string>& allowedNames)
{
    Recovery recovery;
    if (!HasPendingCommit(stagingDir))
        return recovery;
    Journal journal;
    try {
        journal = ReadJournal(stagingDir, allowedNames);
        recovery.changedFiles = RollForward(stagingDir, targetDir, journal.replaced);
    } catch (const Error& e) {
        RethrowWithContext("Una importación anterior quedó a medias y no se pudo completar", e);
    }
    recovery.end = FinishChange(stagingDir, targetDir, journal.removed);
    return recovery;
}

}  // namespace pasarela
