#include "workfolder/kept_set.h"

#include <algorithm>
#include <vector>

#include "os/error.h"
#include "os/file.h"

namespace pasarela {
namespace {

constexpr std::size_t kCopyBlock = 1 << 16;

}  // namespace

KeptSet ReadKeptSet(const std::filesystem::path& workingDir, const std::vector<std::string>& requiredNames,
                    const std::vector<std::string>& allowedNames)
{
    KeptSet kept{KeptSetFolder(workingDir), {}};
    const auto refused = [&](const std::string& why) {
        return Error("Las tablas guardadas en '" + DisplayPath(kept.folder) + "' no se pueden restaurar: " + why +
                     ". No se ha cambiado ninguna tabla");
    };
    if (IsLink(kept.folder))
        throw refused("la carpeta es un enlace a otro lugar");
    if (IsMountPoint(kept.folder))
        throw refused("la carpeta es otro disco montado en la carpeta de trabajo");
    std::error_code ec;
    const bool isFolder = std::filesystem::is_directory(kept.folder, ec);
    if (isFolder ? std::filesystem::is_empty(kept.folder, ec) : !std::filesystem::exists(kept.folder, ec))
        throw MissingInputError("No hay tablas guardadas de una importación anterior en '" + DisplayPath(workingDir) +
                                "': no hay nada que restaurar");
    if (!isFolder)
        throw refused("no es una carpeta");
    std::vector<std::string> found;
    for (const auto& item : std::filesystem::directory_iterator(kept.folder)) {
        const std::string name = item.path().filename().string();
        if (std::find(allowedNames.begin(), allowedNames.end(), name) == allowedNames.end())
            throw refused("contiene '" + name + "', que no es ninguna de las tablas");
        if (!PlainFileIdentity(item.path()))
            throw refused("'" + name + "' no es un archivo corriente (es un enlace o una carpeta)");
        found.push_back(name);
    }
    for (const std::string& name : requiredNames)
        if (std::find(found.begin(), found.end(), name) == found.end())
            throw refused("falta la tabla '" + name + "'");
    for (const std::string& name : allowedNames)
        if (std::find(found.begin(), found.end(), name) != found.end())
            kept.files.push_back(name);
    return kept;
}

std::vector<StagedFile> StageKeptSet(const KeptSet& kept, const std::filesystem::path& stagingDir)
{
    std::vector<StagedFile> staged;
    std::vector<char> block(kCopyBlock);
    for (const std::string& name : kept.files) {
        // Neither side through a link: what is copied is the kept file, and the copy is new.
        File from = File::Open(kept.folder / name, File::Mode::Read, File::Links::Refuse);
        File to = File::Open(stagingDir / name, File::Mode::CreateNew, File::Links::Refuse);
        std::uint64_t at = 0;
        for (;;) {
            const std::size_t read = from.ReadAt(at, block.data(), block.size());
            if (read == 0)
                break;
            to.WriteAt(at, block.data(), read);
            at += read;
        }
        to.Sync();
        const auto identity = to.PlainIdentity();
        if (!identity)
            throw Error("El archivo '" + DisplayPath(stagingDir / name) + "' no es un archivo corriente");
        staged.push_back({name, *identity});
    }
    return staged;
}

}  // namespace pasarela
