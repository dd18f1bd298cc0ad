#include "workfolder/file_set.h"

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <optional>

#include "os/atomic_file.h"
#include "os/error.h"
#include "os/file.h"
#include "workfolder/school_record.h"

namespace pasarela {
namespace {

constexpr char kJournal[] = "COMMIT";
constexpr char kOldDir[] = "old";
constexpr char kLegacyKeptDir[] = ".pasarela-anterior";
constexpr char kGenerationsDir[] = ".pasarela-guardadas";
// A generation's folder name: its number, with as many digits as a number can have here.
constexpr std::size_t kGenerationDigits = 10;
// The description waits here, in the staging folder, until it goes with the replaced files.
constexpr char kPendingDescription[] = "DESCRIPTION";
// Where the oldest generation goes, whole, before it is removed.
constexpr char kSupersededDir[] = "superseded";
constexpr char kEnd[] = "END";
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

void RemoveQuietly(const std::filesystem::path& path)
{
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
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
    std::ifstream in(journalPath, std::ios::binary);
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

// The number a generation's folder name stands for; nothing for any other name.
std::optional<std::uint64_t> GenerationNumber(const std::filesystem::path& folder)
{
    const std::string name = folder.filename().string();
    if (name.size() != kGenerationDigits)
        return std::nullopt;
    std::uint64_t number = 0;
    for (const char c : name) {
        if (c < '0' || c > '9')
            return std::nullopt;
        number = number * 10 + static_cast<std::uint64_t>(c - '0');
    }
    return number;
}

std::filesystem::path GenerationFolder(const std::filesystem::path& targetDir, std::uint64_t number)
{
    std::string name = std::to_string(number);
    name.insert(0, kGenerationDigits - std::min(kGenerationDigits, name.size()), '0');
    return KeptGenerationsFolder(targetDir) / name;
}

// The files of a set that say what its tables are, rather than being them.
bool DescribesTheSet(const std::string& name) { return name == kKeptDescriptionName || name == kSchoolRecordName; }

// Whether two files hold the same bytes.
bool SameBytes(const std::filesystem::path& a, const std::filesystem::path& b)
{
    std::error_code ec;
    if (std::filesystem::file_size(a, ec) != std::filesystem::file_size(b, ec) || ec)
        return false;
    std::ifstream inA(a, std::ios::binary);
    std::ifstream inB(b, std::ios::binary);
    std::vector<char> blockA(1 << 16);
    std::vector<char> blockB(1 << 16);
    while (inA && inB) {
        inA.read(blockA.data(), static_cast<std::streamsize>(blockA.size()));
        inB.read(blockB.data(), static_cast<std::streamsize>(blockB.size()));
        if (inA.gcount() != inB.gcount() ||
            !std::equal(blockA.begin(), blockA.begin() + inA.gcount(), blockB.begin()))
            return false;
    }
    return !inA.bad() && !inB.bad();
}

// Whether every table and index of `set` is in `other` with the same bytes; with
// `sameNames`, `other` holds no table or index `set` lacks. When they were imported, and
// the description, do not count.
bool SameTables(const std::filesystem::path& set, const std::filesystem::path& other, bool sameNames)
{
    std::error_code ec;
    std::vector<std::string> names;
    for (const auto& item : std::filesystem::directory_iterator(set, ec))
        if (!DescribesTheSet(item.path().filename().string()))
            names.push_back(item.path().filename().string());
    if (ec)
        return false;
    if (sameNames) {
        std::size_t otherCount = 0;
        for (const auto& item : std::filesystem::directory_iterator(other, ec))
            otherCount += DescribesTheSet(item.path().filename().string()) ? 0 : 1;
        if (ec || otherCount != names.size())
            return false;
    }
    for (const std::string& name : names)
        if (IsLink(other / name) || !SameBytes(set / name, other / name))
            return false;
    return true;
}

// Lets the oldest generations go until kKeptGenerations are left. Each goes whole into the
// staging folder first, so a generation is there whole or not at all.
void DropOldestGenerations(const std::filesystem::path& stagingDir, const std::filesystem::path& targetDir,
                           CleanupWarnings& warnings)
{
    const std::vector<std::filesystem::path> folders = KeptGenerationFolders(targetDir);
    for (std::size_t i = folders.size(); i-- > kKeptGenerations;) {
        const auto superseded = stagingDir / kSupersededDir;
        try {
            RemoveQuietly(superseded);
            RenameFolder(folders[i], superseded);
        } catch (const std::exception& e) {
            warnings.push_back(UserMessage(e));
            return;
        }
        RemoveQuietly(superseded);
    }
}

// The set an older version kept goes among the generations, as the oldest; a link there
// goes as a link, never with what it leads to.
void AdoptLegacyKeptSet(const std::filesystem::path& targetDir)
{
    const auto legacy = LegacyKeptSetFolder(targetDir);
    std::error_code ec;
    if (IsLink(legacy)) {
        std::filesystem::remove(legacy, ec);
        return;
    }
    if (!std::filesystem::is_directory(legacy, ec))
        return;
    if (std::filesystem::is_empty(legacy, ec)) {
        std::filesystem::remove(legacy, ec);
        return;
    }
    RenameFolder(legacy, GenerationFolder(targetDir, 0));
}

// Makes old/ a new generation, unless the newest one holds the same tables. A set that
// cannot be kept leaves the generations as they were, and keepFailure says so.
void KeepReplacedSet(const std::filesystem::path& stagingDir, const std::filesystem::path& targetDir,
                     FinishedChange& end)
{
    const auto oldDir = stagingDir / kOldDir;
    // A change that replaced nothing keeps nothing: the generations stay as they were.
    std::error_code ec;
    if (std::filesystem::is_empty(oldDir, ec)) {
        RemoveQuietly(stagingDir / kPendingDescription);
        return;
    }
    try {
        if (Exists(stagingDir / kPendingDescription))
            RenameFile(stagingDir / kPendingDescription, oldDir / kKeptDescriptionName);
        // The same import repeated replaced its tables with the very same bytes: nothing
        // was lost, and the set kept before is still the one to go back to. Nor is a set
        // the newest generation already holds kept twice.
        const std::vector<std::filesystem::path> kept = KeptGenerationFolders(targetDir);
        if (SameTables(oldDir, targetDir, false)) {
            end.keptSet = kept.empty() ? std::filesystem::path() : kept.front();
            return;
        }
        if (!kept.empty() && SameTables(oldDir, kept.front(), true)) {
            end.keptSet = kept.front();
            return;
        }
        std::filesystem::create_directories(KeptGenerationsFolder(targetDir));
        if (IsLink(KeptGenerationsFolder(targetDir)))
            throw Error("La carpeta '" + DisplayPath(KeptGenerationsFolder(targetDir)) +
                        "' es un enlace a otro lugar");
        try {
            AdoptLegacyKeptSet(targetDir);
        } catch (const std::exception& e) {
            // It stays where it is, still listed as the oldest.
            end.warnings.push_back(UserMessage(e));
        }
        std::uint64_t next = 1;
        for (const auto& folder : KeptGenerationFolders(targetDir))
            if (const auto number = GenerationNumber(folder))
                next = std::max(next, *number + 1);
        const auto generation = GenerationFolder(targetDir, next);
        RenameFolder(oldDir, generation);
        end.keptSet = generation;
    } catch (const std::exception& e) {
        const std::size_t earlier = KeptGenerationFolders(targetDir).size();
        end.keepFailure = "Las tablas que había antes de este cambio no se han podido guardar, así que no se podrá "
                          "deshacer: " +
                          UserMessage(e) + ". " +
                          (earlier == 0 ? std::string("No había otras tablas guardadas")
                                        : "Se conservan las " + std::to_string(earlier) +
                                              (earlier == 1 ? " tablas guardadas antes" : " copias guardadas antes"));
    }
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
        KeepReplacedSet(stagingDir, targetDir, end);
    }
    DropOldestGenerations(stagingDir, targetDir, end.warnings);
    try {
        RemoveFile(stagingDir / kJournal);
    } catch (const std::exception& e) {
        end.warnings.push_back(UserMessage(e));
    }
    RemoveQuietly(oldDir);
    RemoveQuietly(stagingDir / kSupersededDir);
    RemoveQuietly(stagingDir / kPendingDescription);
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

std::filesystem::path KeptGenerationsFolder(const std::filesystem::path& targetDir)
{
    return targetDir / kGenerationsDir;
}

std::filesystem::path LegacyKeptSetFolder(const std::filesystem::path& targetDir) { return targetDir / kLegacyKeptDir; }

std::vector<std::filesystem::path> KeptGenerationFolders(const std::filesystem::path& targetDir)
{
    std::vector<std::pair<std::uint64_t, std::filesystem::path>> numbered;
    std::error_code ec;
    const auto root = KeptGenerationsFolder(targetDir);
    if (!IsLink(root))
        for (const auto& item : std::filesystem::directory_iterator(root, ec))
            if (const auto number = GenerationNumber(item.path());
                number && !IsLink(item.path()) && item.is_directory(ec))
                numbered.emplace_back(*number, item.path());
    std::sort(numbered.begin(), numbered.end(), [](const auto& a, const auto& b) { return a.first > b.first; });
    std::vector<std::filesystem::path> folders;
    for (auto& [number, folder] : numbered)
        folders.push_back(std::move(folder));
    const auto legacy = LegacyKeptSetFolder(targetDir);
    if (!IsLink(legacy) && std::filesystem::is_directory(legacy, ec) && !std::filesystem::is_empty(legacy, ec))
        folders.push_back(legacy);
    return folders;
}

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
    RemoveQuietly(stagingDir / kPendingDescription);
    if (!change.keptDescription.empty()) {
        AtomicFile description(stagingDir / kPendingDescription);
        description.Write(change.keptDescription);
        description.Commit();
    }
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
