#pragma once

#include <windows.h>
#include <htmlhelp.h>

#include <filesystem>

namespace pasarela {

// The program's compiled-HTML help; hhctrl.ocx is loaded on first use, so Windows without it still runs.
// Its entry point is looked up by name rather than linked through htmlhelp.lib, for the same reason.
class HelpViewer {
public:
    explicit HelpViewer(std::filesystem::path helpFile);
    ~HelpViewer();
    HelpViewer(const HelpViewer&) = delete;
    HelpViewer& operator=(const HelpViewer&) = delete;

    // Opens the help at its table of contents. Throws Error saying what is missing.
    void ShowContents(HWND owner);
    // Opens the help at the topic with this context number. Throws Error as ShowContents.
    void ShowTopic(HWND owner, unsigned long context);

private:
    using HtmlHelpFunction = decltype(&HtmlHelpW);

    void Call(HWND owner, UINT command, DWORD_PTR data);

    std::filesystem::path helpFile_;
    HMODULE library_ = nullptr;
    HtmlHelpFunction htmlHelp_ = nullptr;
};

}  // namespace pasarela
