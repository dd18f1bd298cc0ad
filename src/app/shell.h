#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "workfolder/run_report.h"

namespace pasarela {

// Which job a start-up command line asks for.
enum class Job { None, Import, Export };

// The values of LaunchMode::batchMode, as Orlavi numbers its run modes.
constexpr int kInteractiveMode = 0;
constexpr int kBatchMode = 2;  // started with exactly two parameters, as Orlavi starts us

// The outcome of a run, as Orlavi reads it back from the settings file.
constexpr int kTransformNotDone = 0;        // no job finished
constexpr int kTransformDone = 1;           // a job finished, with or without notes
constexpr int kTransformInputMissing = -1;  // a batch job found its file missing

// What the command line of the Windows program says, read once at start-up.
struct LaunchMode {
    // kBatchMode or kInteractiveMode.
    int batchMode = kInteractiveMode;
    // The job that starts by itself when the window shows.
    Job startJob = Job::None;
    bool showImportArea = true;
    bool showExportArea = true;
};

// Reads the parameters after the program's path. They are counted up to the first empty
// one; only the first is examined, with A-Z lower-cased and nothing else changed:
// "exportar" starts the import, "importar" the export (the words are Orlavi's view).
LaunchMode ParseLaunchMode(const std::vector<std::string>& parameters);

// The window's side of a run: its dialogs and messages. The Win32 window, and a scripted
// stand-in in the tests, implement it.
class UserInterface {
public:
    virtual ~UserInterface() = default;
    // The file-open dialog, offering `initialSelection` (the file chosen before, or none
    // when empty), so that taking it again is one Enter away; nothing when the user cancels.
    virtual std::optional<std::filesystem::path> PickXmlFile(const std::filesystem::path& initialSelection) = 0;
    // A plain message box with one OK button, captioned with the program's title.
    virtual void ShowMessage(const std::string& text) = 0;
    // The wait cursor for the whole screen while a job works.
    virtual void SetBusy(bool busy) = 0;
    // Closes the main window (which ends the program).
    virtual void CloseWindow() = 0;
};

struct ShellSettings {
    std::filesystem::path workingDir;  // C:\VTEMP
    std::filesystem::path settingsFile;  // Orlavi.ini beside the program
    char decimalSeparator = '.';
    // The clock for the report's date and the export's fecha_exportacion; the system
    // clock when empty.
    std::function<std::chrono::system_clock::time_point()> now;
};

// The program's behaviour apart from drawing: the run modes, the two jobs with their
// sequence of dialogs and messages, the outcome and the settings file. Errors end here:
// each is shown in a message box and the window stays open.
class Shell {
public:
    Shell(LaunchMode mode, ShellSettings settings, UserInterface& ui);

    const LaunchMode& Mode() const { return mode_; }
    // The window is about to show: in batch mode the job named on the command line starts.
    void OnShow();
    // The import button (and "exportar" in batch mode).
    void RunImport();
    // The export button (and "importar" in batch mode).
    void RunExport();
    // The window is closing: in batch mode the outcome goes to the settings file. A write
    // that fails is shown and the program still ends.
    void OnClose();

    // kTransformDone, kTransformInputMissing or kTransformNotDone.
    int TransformResult() const { return transformResult_; }
    // The process exit status for scripts: 0 when done, 2 when the input was missing,
    // 1 otherwise.
    int ExitStatus() const;
    const std::filesystem::path& ChosenFile() const { return chosenFile_; }

private:
    // What a finished job hands back: its report and, for the export, the file it saved.
    struct JobResult {
        RunReport report;
        std::filesystem::path outputFile;
    };

    // Asks for the DASTENO file. False when the user cancels: nothing happens then, except
    // in batch mode, where the run ends with `missingMessage` and kTransformInputMissing.
    // Also false, with `missingMessage` shown, when the file or `alsoNeeded` (unless
    // empty) is not there.
    bool ChooseInput(const std::string& missingMessage, const std::filesystem::path& alsoNeeded = {});
    // Runs a job under the wait cursor and ends it as every job ends: the report written,
    // then the completion message, or the error shown with the window left open.
    void RunJob(const std::string& jobTitle, const std::function<JobResult()>& job);
    // Writes the report of the run that started at `started`; the reason when it could not.
    std::string WriteReport(const std::string& jobTitle, std::chrono::system_clock::time_point started,
                            const std::string& outcome, const RunReport* report) const;
    std::chrono::system_clock::time_point Now() const;
    void Finish(const std::string& message);
    void InputMissing(const std::string& message);

    LaunchMode mode_;
    ShellSettings settings_;
    UserInterface& ui_;
    int transformResult_ = kTransformNotDone;
    std::filesystem::path chosenFile_;  // the file last confirmed, offered again by the dialog
};

}  // namespace pasarela
