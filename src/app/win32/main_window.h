#pragma once

#include <windows.h>

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <type_traits>

#include "app/shell.h"
#include "app/win32/help_viewer.h"

namespace pasarela {

// The program's window: it draws, shows Windows' dialogs for the Shell and passes it every click and close.
class MainWindow final : public UserInterface {
public:
    MainWindow(HINSTANCE instance, LaunchMode mode, ShellSettings settings, std::filesystem::path helpFile);
    ~MainWindow() override;
    MainWindow(const MainWindow&) = delete;
    MainWindow& operator=(const MainWindow&) = delete;

    // Runs a batch job while still hidden, shows the window if the job left it open; returns the exit status.
    int Run(int showCommand);

    std::optional<std::filesystem::path> PickXmlFile(const std::filesystem::path& initialSelection) override;
    void ShowMessage(const std::string& text) override;
    void SetBusy(bool busy) override;
    void CloseWindow() override;

private:
    struct FontDeleter {
        void operator()(HFONT font) const { DeleteObject(font); }
    };
    struct IconDeleter {
        void operator()(HICON icon) const { DestroyIcon(icon); }
    };
    using FontHandle = std::unique_ptr<std::remove_pointer_t<HFONT>, FontDeleter>;
    using IconHandle = std::unique_ptr<std::remove_pointer_t<HICON>, IconDeleter>;

    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
    // The owner for the jobs' dialogs and messages: the window once shown, none before.
    HWND DialogOwner() const;
    void Create();
    HWND CreateButton(int id, const wchar_t* caption, bool visible);
    void ApplyDpi(UINT dpi);
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
    UINT dpi_ = USER_DEFAULT_SCREEN_DPI;
    FontHandle textFont_;     // 8-point MS Sans Serif: buttons
    FontHandle captionFont_;  // 12-point bold Arial: the two job captions
    FontHandle versionFont_;  // 8-point bold MS Sans Serif: the version line
    IconHandle checkMark_;
    IconHandle cross_;
    bool busy_ = false;
    bool closing_ = false;  // the Shell has been told; it hears of a close only once
};

}  // namespace pasarela
