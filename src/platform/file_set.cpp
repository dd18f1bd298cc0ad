#include "platform/file_set.h"

#include <fstream>
#include <sstream>

#include "platform/atomic_file.h"
#include "platform/error.h"
#include "platform/file.h"

namespace pasarela {
namespace {

constexpr char kJournal[] = "COMMIT";
constexpr char kOldDir[] = "old";

std::vector<std::string> ReadJournal(const std::filesystem::path& journal)
{
    std::ifstream in(journal, std::ios::binary);
    std::vector<std::string> names;
    std::string line;
    bool complete = false;
    while (std::getline(in, line)) {
        if (line == "END") {
            complete = true;
            break;
        }
        names.push_back(line);
    }
    // The journal is written aside and renamed, so a partial one cannot exist; an
    // unreadable one means somebody else's file.
    if (!complete)
        throw Error("El registro de cambios '" + DisplayPath(journal) + "' está dañado");
    return names;
}

void RemoveQuietly(const std::filesystem::path& path)
{
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
}

// Moves every staged file into place, keeping what it replaces under old/.
void RollForward(const std::filesystem::path& stagingDir, const std::filesystem::path& targetDir,
                 const std::vector<std::string>& names)
{
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
    return std::filesystem::exists(stagingDir / kJournal, ec);
}

void RecoverFileSet(const std::filesystem::path& stagingDir, const std::filesystem::path& targetDir)
{
    const auto journal = stagingDir / kJournal;
    std::error_code ec;
    if (!std::filesystem::exists(journal, ec))
        return;
    try {
        RollForward(stagingDir, targetDir, ReadJournal(journal));
    } catch (const Error& e) {
        RethrowWithContext("Una importación anterior quedó a medias y no se pudo completar", e);
    }
    RemoveFile(journal);
    RemoveQuietly(stagingDir / kOldDir);
}

}  // namespace pasarela
