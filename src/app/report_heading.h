#pragma once

#include <exception>
#include <string>
#include <string_view>

#include "os/error.h"

namespace pasarela {

// How the reports of both front ends name their jobs and outcomes, so that a report reads
// the same whichever program wrote it.
inline constexpr std::string_view kImportJobTitle = "importación (de DASTENO a Orlavi)";
inline constexpr std::string_view kCheckJobTitle = "comprobación del archivo de DASTENO (no cambia ninguna tabla)";
inline constexpr std::string_view kExportJobTitle = "exportación (de Orlavi a DASTENO)";
inline constexpr std::string_view kRestoreJobTitle = "restauración de unas tablas guardadas";
inline constexpr std::string_view kRestoreCheckJobTitle =
    "comprobación de las tablas guardadas (no cambia ninguna tabla)";
inline constexpr std::string_view kRestoreCheckedAfterPendingOutcome =
    "Comprobación terminada: no se ha restaurado ninguna tabla, pero antes se ha completado un cambio anterior "
    "que había quedado a medias";
inline constexpr std::string_view kFinishedOutcome = "Proceso finalizado";
inline constexpr std::string_view kCheckedOutcome = "Comprobación terminada: no se ha cambiado ninguna tabla";
inline constexpr std::string_view kCheckedAfterPendingOutcome =
    "Comprobación terminada: este archivo no ha cambiado ninguna tabla, pero antes se ha completado una "
    "importación anterior que había quedado a medias";

// The outcome of a run that an error stopped: a missing file is said as the user was told
// it ("No existe archivo"), anything else as an error.
inline std::string FailedOutcome(const std::exception& error)
{
    if (dynamic_cast<const MissingInputError*>(&error) != nullptr)
        return error.what();
    return "Error: " + UserMessage(error);
}

// The outcome of an export, naming the file it saved.
inline std::string ExportedOutcome(std::string_view savedAs)
{
    return std::string(kFinishedOutcome) + ". Guardado en " + std::string(savedAs);
}

}  // namespace pasarela
