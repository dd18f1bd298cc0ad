#pragma once

#include <windows.h>

#include <filesystem>
#include <optional>
#include <string>

#include "app/shell.h"
#include "app/win32/help_viewer.h"

namespace pasarela {

// The program's one window: two job areas side by side and a bottom strip with the close
// and help buttons. It only draws, shows Windows' dialogs for the Shell and hands every
// button and close to it; what a job does is the Shell's business.
class MainWindow final : public UserInterface {
public:
    MainWindow(HINSTANCE instance, LaunchMode mode, ShellSettings settings, std::filesystem::path helpFile);
    ~MainWindow() override;
    MainWindow(const MainWindow&) = delete;
    MainWindow& operator=(const MainWindow&) = delete;

    // Creates the window hidden, lets a batch job run before it shows (and shows it only if
    // the job left it open), then dispatches input until it closes. Returns the exit status.
    int Run(int showCommand);

    std::optional<std::filesystem::path> PickXmlFile() override;
    void ShowMessage(const std::string& text) override;
    void SetBusy(bool busy) override;
    void CloseWindow() override;

private:
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
    void Create();
    HWND CreateButton(int id, const wchar_t* caption);
    void ApplyDpi(UINT dpi);
    void ReleaseDpiResources();
    void PlaceButtons();
    void Paint(HDC dc) const;
    void OnCommand(int id);
    void Close();
    int Scale(int designPixels) const;
    bool IsOwnButton(HWND control) const;
    HWND FirstTabStop() const;

    HINSTANCE instance_;
    Shell shell_;
    HelpViewer help_;
    HWND window_ = nullptr;
    HWND closeButton_ = nullptr;
    HWND helpButton_ = nullptr;
    HWND importButton_ = nullptr;
    HWND exportButton_ = nullptr;
    HWND lastFocus_ = nullptr;  // given back when the window is activated again
    HACCEL accelerators_ = nullptr;
    UINT dpi_ = USER_DEFAULT_SCREEN_DPI;
    HFONT textFont_ = nullptr;     // 8-point MS Sans Serif: buttons
    HFONT captionFont_ = nullptr;  // 12-point bold Arial: the two job captions
    HFONT versionFont_ = nullptr;  // 8-point bold MS Sans Serif: the version line
    HICON checkMark_ = nullptr;
    HICON cross_ = nullptr;
    bool busy_ = false;
    bool closing_ = false;  // the Shell has been told; it hears of a close only once
};

}  // namespace pasarela
