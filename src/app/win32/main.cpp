#include <windows.h>
#include <commctrl.h>
#include <objbase.h>
#include <shellapi.h>

#include <filesystem>
#include <string>
#include <vector>

#include "app/shell.h"
#include "app/win32/main_window.h"
#include "app/win32/wide_text.h"
#include "os/environment.h"
#include "os/error.h"
#include "os/locale_settings.h"

namespace {

// The parameters after the program's path, as UTF-8.
std::vector<std::string> CommandLineParameters()
{
    std::vector<std::string> parameters;
    int count = 0;
    wchar_t** arguments = CommandLineToArgvW(GetCommandLineW(), &count);
    if (arguments == nullptr)
        return parameters;
    for (int i = 1; i < count; ++i)
        parameters.push_back(pasarela::Narrow(arguments[i]));
    LocalFree(arguments);
    return parameters;
}

// The folder of Pasarela.exe: Orlavi looks for the settings file there.
std::filesystem::path ProgramFolder()
{
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0)
            throw pasarela::Error("No se pudo averiguar la carpeta del programa.");
        if (length < path.size()) {
            path.resize(length);
            return std::filesystem::path(path).parent_path();
        }
        path.resize(path.size() * 2);
    }
}

int RunProgram(HINSTANCE instance, int showCommand)
{
    const std::filesystem::path folder = ProgramFolder();
    pasarela::ShellSettings settings;
    settings.workingDir = pasarela::DefaultWorkingDirectory();
    settings.settingsFile = folder / L"Orlavi.ini";
    settings.decimalSeparator = pasarela::UserDecimalSeparator();
    pasarela::MainWindow window(instance, pasarela::ParseLaunchMode(CommandLineParameters()), settings,
                                folder / L"DASTENO.chm");
    return window.Run(showCommand);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int showCommand)
{
    // A single-threaded apartment for the user-interface thread, as the common dialogs want.
    const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES | ICC_PROGRESS_CLASS | ICC_LISTVIEW_CLASSES};
    InitCommonControlsEx(&controls);
    int status = 1;
    try {
        status = RunProgram(instance, showCommand);
    } catch (const std::exception& e) {
        MessageBoxW(nullptr, pasarela::Widen(pasarela::UserMessage(e)).c_str(), L"Pasarela", MB_OK | MB_ICONERROR);
    }
    if (SUCCEEDED(com))
        CoUninitialize();
    return status;
}
