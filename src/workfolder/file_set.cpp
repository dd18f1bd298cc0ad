#include "workfolder/file_set.h"

#include <algorithm>
#include <fstream>
#include <sstream>

#include "os/atomic_file.h"
#include "os/error.h"
#include "os/file.h"

namespace pasarela {
namespace {

constexpr char kJournal[] = "COMMIT";
constexpr char kOldDir[] = "old";

// The journal is ours, written aside and renamed, so it is complete and names only the
// files of the set; anything else was not written by a commit (or was tampered with), and
// following it could move files from or to anywhere.
std::vector<std::string> ReadJournal(const std::filesystem::path& stagingDir,
                                     const std::vector<std::string>& allowedNames)
{
    const auto journal = stagingDir / kJournal;
    const auto damaged = [&](const std::string& why) {
        return Error("El registro de cambios '" + DisplayPath(journal) + "' está dañado (" + why +
                     "): no se ha movido ningún archivo. Compruebe las tablas, borre la carpeta '" +
                     DisplayPath(stagingDir) + "' y vuelva a intentarlo");
    };
    if (IsLink(journal))
        throw damaged("es un enlace a otro lugar");
    std::ifstream in(journal, std::ios::binary);
    std::vector<std::string> names;
    std::string line;
    bool complete = false;
    while (std::getline(in, line)) {
        if (line == "END") {
            complete = true;
            break;
        }
        if (std::find(allowedNames.begin(), allowedNames.end(), line) == allowedNames.end())
            throw damaged("nombra '" + line + "', que no es ninguna de las tablas");
        if (std::find(names.begin(), names.end(), line) != names.end())
            throw damaged("nombra '" + line + "' dos veces");
        names.push_back(line);
    }
    if (!complete)
        throw damaged("está incompleto");
    std::error_code ec;
    const auto oldDir = stagingDir / kOldDir;
    if (IsLink(oldDir) || (std::filesystem::exists(oldDir, ec) && !std::filesystem::is_directory(oldDir, ec)))
        throw damaged("'" + std::string(kOldDir) + "' no es una carpeta");
    for (const std::string& name : names) {
        const auto staged = stagingDir / name;
        if (IsLink(staged) || (std::filesystem::exists(staged, ec) && !std::filesystem::is_regular_file(staged, ec)))
            throw damaged("'" + name + "' no es un archivo");
    }
    return names;
}

void RemoveQuietly(const std::filesystem::path& path)
{
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
}

// Moves every staged file into place, keeping what it replaces under old/. The targets are
// held first, as a commit holds them: a table that Orlavi has open stops the recovery
// before anything moves.
void RollForward(const std::filesystem::path& stagingDir, const std::filesystem::path& targetDir,
                 const std::vector<std::string>& names)
{
    std::vector<File> held;
    for (const std::string& name : names) {
        std::error_code ec;
        if (std::filesystem::exists(stagingDir / name, ec) && std::filesystem::exists(targetDir / name, ec))
            held.push_back(File::Open(targetDir / name, File::Mode::Read));
    }
    if (!CanRenameWhileHeld())
        held.clear();  // on Windows the rename itself refuses a file in use

    const std::filesystem::path oldDir = stagingDir / kOldDir;
    std::filesystem::create_directories(oldDir);
    for (const std::string& name : names) {
        const auto staged = stagingDir / name;
        const auto target = targetDir / name;
        std::error_code ec;
        if (!std::filesystem::exists(staged, ec))
            continue;  // already moved before the interruption
        if (std::filesystem::exists(target, ec))
            RenameFile(target, oldDir / name);
        RenameFile(staged, target);
    }
}

}  // namespace

void CommitFileSet(const std::filesystem::path& stagingDir, const std::filesystem::path& targetDir,
                   const std::vector<std::string>& names)
{
    // Refuse before touching anything when Orlavi (or anyone) holds one of the tables.
    std::vector<File> held;
    for (const std::string& name : names) {
        std::error_code ec;
        if (std::filesystem::exists(targetDir / name, ec))
            held.push_back(File::Open(targetDir / name, File::Mode::Read));
    }
    if (!CanRenameWhileHeld())
        held.clear();  // on Windows the rename itself refuses a file in use

    const std::filesystem::path oldDir = stagingDir / kOldDir;
    RemoveQuietly(oldDir);
    std::filesystem::create_directories(oldDir);
    {
        AtomicFile journal(stagingDir / kJournal);
        std::string text;
        for (const std::string& name : names)
            text += name + "\n";
        journal.Write(text + "END\n");
        journal.Commit();
    }

    std::vector<std::string> done;
    std::vector<bool> hadOld;
    try {
        for (const std::string& name : names) {
            const auto target = targetDir / name;
            std::error_code ec;
            const bool exists = std::filesystem::exists(target, ec);
            if (exists)
                RenameFile(target, oldDir / name);
            try {
                RenameFile(stagingDir / name, target);
            } catch (...) {
                if (exists)
                    RenameFile(oldDir / name, target);
                throw;
            }
            done.push_back(name);
            hadOld.push_back(exists);
        }
    } catch (const std::exception&) {
        // Put back what was already swapped, newest first, so the folder is as before.
        for (std::size_t i = done.size(); i-- > 0;) {
            try {
                RenameFile(targetDir / done[i], stagingDir / done[i]);
                if (hadOld[i])
                    RenameFile(oldDir / done[i], targetDir / done[i]);
            } catch (...) {
                // Leave the journal: RecoverFileSet completes the change on the next run.
                throw;
            }
        }
        RemoveFile(stagingDir / kJournal);
        throw;
    }
    held.clear();
    RemoveFile(stagingDir / kJournal);
    RemoveQuietly(oldDir);
}

bool HasPendingCommit(const std::filesystem::path& stagingDir)
{
    std::error_code ec;
    return std::filesystem::exists(stagingDir / kJournal, ec) || IsLink(stagingDir / kJournal);
}

bool RecoverFileSet(const std::filesystem::path& stagingDir, const std::filesystem::path& targetDir,
                    const std::vector<std::string>& allowedNames)
{
    const auto journal = stagingDir / kJournal;
    std::error_code ec;
    if (!std::filesystem::exists(journal, ec) && !IsLink(journal))
        return false;
    try {
        RollForward(stagingDir, targetDir, ReadJournal(stagingDir, allowedNames));
    } catch (const Error& e) {
        RethrowWithContext("Una importación anterior quedó a medias y no se pudo completar", e);
    }
    RemoveFile(journal);
    RemoveQuietly(stagingDir / kOldDir);
    return true;
}

}  // namespace pasarela
