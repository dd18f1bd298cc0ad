#pragma once

#include <chrono>
#include <exception>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "workfolder/kept_set.h"
#include "workfolder/run_report.h"

namespace pasarela {

// Which job a start-up command line asks for, or the window's Deshacer starts.
enum class Job { None, Import, Export, Restore };

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

// What a message tells, shown by its icon: a run that finished, one that finished with
// notices or cannot be fully trusted, or one that failed.
enum class MessageKind { Information, Warning, Error };

// Told, on the thread that runs a job, the share of the job done (0 to 1).
using ProgressFunction = std::function<void(double share)>;

// The window's side of a run: its dialogs and messages. The Win32 window, and a scripted
// stand-in in the tests, implement it. Every call comes from the window's thread.
class UserInterface {
public:
    virtual ~UserInterface() = default;
    // The file-open dialog, offering `initialSelection` (the file chosen before, or none
    // when empty), so that taking it again is one Enter away; nothing when the user cancels.
    virtual std::optional<std::filesystem::path> PickXmlFile(const std::filesystem::path& initialSelection) = 0;
    // A message box with one OK button and the icon of its kind, captioned with the
    // program's title.
    virtual void ShowMessage(const std::string& text, MessageKind kind) = 0;
    // The window's look while a job works: its buttons disabled, the wait cursor over it.
    virtual void SetBusy(bool busy) = 0;
    // Runs `work` off the window's thread, so the window stays painted and answers while
    // a long file is read, then `finished` on the window's thread. `work` catches its own
    // errors; it may call its argument with the share done, from its own thread. Throws
    // Error when no thread can be started (nothing has run then).
    virtual void RunInBackground(Job job, std::function<void(const ProgressFunction&)> work,
                                 std::function<void()> finished) = 0;
    // Closes the main window (which ends the program).
    virtual void CloseWindow() = 0;
    // The list of kept sets (newest first), with the one numbered `selected` chosen as it
    // opens; the number of the set chosen, or nothing when the user cancels.
    virtual std::optional<int> ChooseKeptSet(const std::vector<KeptGeneration>& sets, int selected) = 0;
    // A question with Yes (the default) and No; true for Yes.
    virtual bool Confirm(const std::string& question) = 0;
    // Whether Deshacer has anything to offer; told at start and after every run.
    virtual void SetUndoAvailable(bool available) = 0;
};

// One kept set as the list of Deshacer shows it, in the user's words.
struct KeptSetColumns {
    std::string date;    // when its tables were imported
    std::string file;    // the DASTENO file's name
    std::string school;  // SchoolText
    std::string rows;    // all its tables' rows together, thousands set apart
};

// The columns of `set`; "desconocido" for what its description does not say.
KeptSetColumns DescribeKeptSet(const KeptGeneration& set);

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
    // Deshacer: the list of kept sets, a confirmation, then the chosen set put back.
    // Outside batch mode only: Orlavi's batch run asked for one job and reads its outcome.
    void RunUndo();
    // Whether a set is kept that Deshacer could put back.
    bool CanUndo() const;
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
    // What a job left on its thread for the window's: its result, or the error it raised.
    struct JobOutcome {
        JobResult result;
        std::exception_ptr error;
    };

    // What the report's heading names: the job and the file it read.
    struct JobHeading {
        std::string title;
        std::filesystem::path file;
    };

    // Starts a job off the window's thread; EndJob ends it on the window's thread.
    void RunJob(Job which, const JobHeading& heading, std::function<JobResult(const ProgressFunction&)> job);
    // Ends every job the same way: the report written, then the completion message, or
    // the error shown with the window left open.
    void EndJob(const JobHeading& heading, std::chrono::system_clock::time_point started, const JobOutcome& outcome);
    // Writes the report of the run that started at `started`; the reason when it could not.
    std::string WriteReport(const JobHeading& heading, std::chrono::system_clock::time_point started,
                            const std::string& outcome, const RunReport* report) const;
    // The window's look once a job is over: the buttons back, Deshacer as the folder now is.
    void EndBusy();
    std::chrono::system_clock::time_point Now() const;
    void Finish(const std::string& message, MessageKind kind);
    void InputMissing(const std::string& message);

    LaunchMode mode_;
    ShellSettings settings_;
    UserInterface& ui_;
    int transformResult_ = kTransformNotDone;
    std::filesystem::path chosenFile_;  // the file last confirmed, offered again by the dialog
};

}  // namespace pasarela
