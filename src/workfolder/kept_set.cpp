#include "workfolder/kept_set.h"

#include <algorithm>
#include <sstream>
#include <vector>

#include "os/date_stamp.h"
#include "os/error.h"
#include "os/file.h"

namespace pasarela {
namespace {

constexpr std::size_t kCopyBlock = 1 << 16;
constexpr std::string_view kKeptAt = "guardado";  // seconds since 1970, UTC
constexpr std::string_view kJob = "trabajo";
constexpr std::string_view kRowsPrefix = "filas.";
constexpr std::size_t kMaxDescription = 64 * 1024;

std::optional<KeptDescription> ReadDescription(const std::filesystem::path& folder)
{
    const std::optional<std::string> text = ReadSmallText(folder / kKeptDescriptionName, kMaxDescription);
    if (!text)
        return std::nullopt;
    KeptDescription description;
    std::istringstream lines(*text);
    std::string line;
    while (std::getline(lines, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        const std::size_t equals = line.find('=');
        if (equals == std::string::npos)
            continue;
        const std::string_view key = std::string_view(line).substr(0, equals);
        const std::string value = line.substr(equals + 1);
        try {
            if (key == kKeptAt)
                description.keptAt = std::chrono::system_clock::time_point(std::chrono::seconds(std::stoll(value)));
            else if (key == kJob)
                description.job = value;
            else if (key.starts_with(kRowsPrefix))
                description.rows.emplace_back(std::string(key.substr(kRowsPrefix.size())),
                                              static_cast<std::size_t>(std::stoull(value)));
        } catch (const std::exception&) {
            // A value we cannot read is left out; the rest still describes the set.
        }
    }
    return description;
}

}  // namespace

std::string KeptDescriptionText(const KeptDescription& description)
{
    const auto seconds =
        std::chrono::duration_cast<std::chrono::seconds>(description.keptAt.time_since_epoch()).count();
    std::string text;
    text.append(kKeptAt).append("=").append(std::to_string(seconds)).append("\n");
    text.append(kJob).append("=").append(description.job).append("\n");
    for (const auto& [table, rows] : description.rows)
        text.append(kRowsPrefix).append(table).append("=").append(std::to_string(rows)).append("\n");
    return text;
}

std::vector<KeptGeneration> ListKeptGenerations(const std::filesystem::path& workingDir)
{
    std::vector<KeptGeneration> generations;
    for (const std::filesystem::path& folder : KeptGenerationFolders(workingDir)) {
        KeptGeneration generation;
        generation.number = static_cast<int>(generations.size()) + 1;
        generation.folder = folder;
        const auto description = ReadDescription(folder);
        const auto record = ReadSchoolRecord(folder);
        if (description) {
            generation.job = description->job;
            generation.rows = description->rows;
        }
        if (record) {
            generation.school = record->school;
            generation.file = record->file;
        }
        if (record && record->importedAt.time_since_epoch().count() != 0)
            generation.dateTime = UserDateTimeText(record->importedAt);
        else if (description && description->keptAt.time_since_epoch().count() != 0)
            generation.dateTime = UserDateTimeText(description->keptAt);
        generations.push_back(std::move(generation));
    }
    return generations;
}

KeptSet ReadKeptSet(const std::filesystem::path& workingDir, const std::vector<std::string>& requiredNames,
                    const std::vector<std::string>& allowedNames, int number)
{
    const std::vector<std::filesystem::path> folders = KeptGenerationFolders(workingDir);
    if (folders.empty())
        throw MissingInputError("No hay tablas guardadas de una importación anterior en '" + DisplayPath(workingDir) +
                                "': no hay nada que restaurar");
    if (number < 1 || static_cast<std::size_t>(number) > folders.size())
        throw MissingInputError("No hay tablas guardadas con el número " + std::to_string(number) + " en '" +
                                DisplayPath(workingDir) + "': " +
                                (folders.size() == 1 ? std::string("solo hay una, la 1")
                                                     : "hay " + std::to_string(folders.size()) + ", de la 1 a la " +
                                                           std::to_string(folders.size())));
    KeptSet kept{folders[static_cast<std::size_t>(number) - 1], {}};
    const auto refused = [&](const std::string& why) {
        return Error("Las tablas guardadas en '" + DisplayPath(kept.folder) + "' no se pueden restaurar: " + why +
                     ". No se ha cambiado ninguna tabla");
    };
    if (IsLink(kept.folder))
        throw refused("la carpeta es un enlace a otro lugar");
    if (IsMountPoint(kept.folder) || IsMountPoint(KeptGenerationsFolder(workingDir)))
        throw refused("la carpeta es otro disco montado en la carpeta de trabajo");
    std::vector<std::string> found;
    for (const auto& item : std::filesystem::directory_iterator(kept.folder)) {
        const std::string name = item.path().filename().string();
        if (name == kKeptDescriptionName)
            continue;
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
