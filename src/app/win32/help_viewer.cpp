#include "app/win32/help_viewer.h"

#include <system_error>
#include <utility>

#include "os/error.h"
#include "os/file.h"

namespace pasarela {

HelpViewer::HelpViewer(std::filesystem::path helpFile) : helpFile_(std::move(helpFile)) {}

HelpViewer::~HelpViewer()
{
    if (htmlHelp_ != nullptr)
        htmlHelp_(nullptr, nullptr, HH_CLOSE_ALL, 0);
    // The library stays loaded: unloading it while its windows wind down would crash.
}

void HelpViewer::ShowContents(HWND owner) { Call(owner, HH_DISPLAY_TOC, 0); }

void HelpViewer::ShowTopic(HWND owner, unsigned long context) { Call(owner, HH_HELP_CONTEXT, context); }

void HelpViewer::Call(HWND owner, UINT command, DWORD_PTR data)
{
    std::error_code ec;
    if (!std::filesystem::is_regular_file(helpFile_, ec))
        throw Error("No se encuentra la ayuda '" + DisplayPath(helpFile_.filename()) +
                    "' en la carpeta del programa (" + DisplayPath(helpFile_.parent_path()) + ").");
    if (htmlHelp_ == nullptr) {
        if (library_ == nullptr)
            library_ = LoadLibraryW(L"hhctrl.ocx");
        if (library_ != nullptr) {
            // GetProcAddress hands back a generic pointer; void(*)() converts to any type.
            auto entry = reinterpret_cast<void (*)()>(GetProcAddress(library_, "HtmlHelpW"));
            htmlHelp_ = reinterpret_cast<HtmlHelpFunction>(entry);
        }
        if (htmlHelp_ == nullptr)
            throw Error("No se puede mostrar la ayuda: falta el visor de ayuda HTML de Windows (hhctrl.ocx).");
    }
    if (htmlHelp_(owner, helpFile_.c_str(), command, data) == nullptr)
        throw Error("No se pudo abrir la ayuda '" + DisplayPath(helpFile_) + "'.");
}

}  // namespace pasarela
