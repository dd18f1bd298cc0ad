#pragma once

#include <windows.h>

#include <atomic>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <type_traits>
#include <vector>

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

    // Shows the window, starts a batch job and runs the message loop; returns the exit status.
    int Run(int showCommand);

    std::optional<std::filesystem::path> PickXmlFile(const std::filesystem::path& initialSelection) override;
    void ShowMessage(const std::string& text, MessageKind kind) override;
    void SetBusy(bool busy) override;
    void RunInBackground(Job job, std::function<void(const ProgressFunction&)> work,
                         std::function<void()> finished) override;
    void CloseWindow() override;
    std::optional<int> ChooseKeptSet(const std::vector<KeptGeneration>& sets, int selected) override;
    bool Confirm(const std::string& question) override;
    void SetUndoAvailable(bool available) override;

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
    void PlaceControls();
    // On the job's thread: posts the share to the window's thread when it shows a change.
    void PostProgress(HWND window, double share);
    void ShowProgress(int permille);
    void EndJob();
    void Paint(HDC dc) const;
    void OnCommand(int id);
    void Close();
    int Scale(int designPixels) const;
    bool IsOwnButton(HWND control) const;
    // Visible and enabled: the focus can be given back to it.
    bool CanTakeFocus(HWND control) const;
    HWND FirstTabStop() const;

    HINSTANCE instance_;
    Shell shell_;
    HelpViewer help_;
    HWND window_ = nullptr;
    HWND closeButton_ = nullptr;
    HWND helpButton_ = nullptr;
    HWND undoButton_ = nullptr;  // Deshacer, outside batch mode
    HWND importButton_ = nullptr;
    HWND exportButton_ = nullptr;
    HWND progressBar_ = nullptr;  // in the running job's area, while it runs
    HWND lastFocus_ = nullptr;  // given back when the window is activated again
    UINT dpi_ = USER_DEFAULT_SCREEN_DPI;
    FontHandle textFont_;     // 8-point MS Sans Serif: buttons
    FontHandle captionFont_;  // 12-point bold Arial: the two job captions
    FontHandle versionFont_;  // 8-point bold MS Sans Serif: the version line
    IconHandle checkMark_;
    IconHandle cross_;
    bool busy_ = false;
    bool undoAvailable_ = false;  // a kept set is there to put back, as the Shell last said
    bool closing_ = false;  // the Shell has been told; it hears of a close only once
    Job runningJob_ = Job::None;
    std::thread worker_;
    std::function<void()> jobFinished_;  // the Shell's end of the running job
    std::atomic<int> postedPermille_{-1};  // the last share posted by the job's thread, in thousandths
    bool progressMeasured_ = false;  // the bar has had a share, so it no longer only runs to show work
};

}  // namespace pasarela
