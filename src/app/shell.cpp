#include "app/shell.h"

#include "app/ini_file.h"
#include "app/report_heading.h"
#include "app/version.h"
#include "export/export_run.h"
#include "import/import_run.h"
#include "os/date_stamp.h"
#include "os/error.h"
#include "os/file.h"
#include "text/text.h"

namespace pasarela {
namespace {

constexpr char kSettingsSection[] = "Transformadores";
constexpr char kSettingsKey[] = "Transformado";
constexpr char kReportName[] = "PASARELA-INFORME.TXT";
// Earlier reports kept beside the latest, so a second run does not wipe out the first one's.
constexpr std::size_t kEarlierReportsKept = 5;

// The completion message: for an export the file it saved; a pointer to the report when
// entries were left out or altered, so the user learns of them without a second dialog in
// Orlavi's batch runs; and, when the report could not be written, why.
std::string FinishedMessage(const RunReport& report, const std::filesystem::path& outputFile,
                            const std::filesystem::path& reportFile, const std::string& reportError)
{
    std::string message(kFinishedOutcome);
    if (!outputFile.empty())
        message += "\r\n\r\nGuardado en:\r\n" + DisplayPath(outputFile);
    if (report.HasNotices()) {
        const std::size_t count = report.Notices().size();
        message += "\r\n\r\n" + std::to_string(count) + (count == 1 ? " aviso" : " avisos") +
                   " (entradas omitidas o alteradas).";
        if (reportError.empty())
            return message + " Informe completo en:\r\n" + DisplayPath(reportFile);
        return message + " No se pudo escribir el informe:\r\n" + reportError;
    }
    if (!reportError.empty())
        message += "\r\n\r\nNo se pudo escribir el informe:\r\n" + reportError;
    return message;
}

}  // namespace

LaunchMode ParseLaunchMode(const std::vector<std::string>& parameters)
{
    std::size_t count = 0;
    while (count < parameters.size() && !parameters[count].empty())
        ++count;
    LaunchMode mode;
    if (count != 2)
        return mode;
    mode.batchMode = kBatchMode;
    const std::string word = LowerAscii(parameters[0]);
    if (word == "importar") {
        mode.startJob = Job::Export;
        mode.showImportArea = false;
    } else if (word == "exportar") {
        mode.startJob = Job::Import;
        mode.showExportArea = false;
    }
    return mode;
}

Shell::Shell(LaunchMode mode, ShellSettings settings, UserInterface& ui)
    : mode_(mode), settings_(std::move(settings)), ui_(ui)
{
}

void Shell::OnShow()
{
    if (mode_.startJob == Job::Export)
        RunExport();
    else if (mode_.startJob == Job::Import)
        RunImport();
}

void Shell::InputMissing(const std::string& message)
{
    ui_.ShowMessage(message);
    if (mode_.batchMode == kBatchMode) {
        transformResult_ = kTransformInputMissing;
        ui_.CloseWindow();
    }
}

void Shell::Finish(const std::string& message)
{
    ui_.SetBusy(false);
    transformResult_ = kTransformDone;
    ui_.ShowMessage(message);
    if (mode_.batchMode == kBatchMode)
        ui_.CloseWindow();
}

// Checked before the wait cursor, so a run that never starts does not touch it.
bool Shell::ChooseInput(const std::string& missingMessage, const std::filesystem::path& alsoNeeded)
{
    // Cancel never starts a job: a job rewrites tables, and the file chosen before is
    // offered in the dialog instead, for whoever meant to run it again.
    const auto picked = ui_.PickXmlFile(chosenFile_);
    if (!picked) {
        if (mode_.batchMode == kBatchMode)
            InputMissing(missingMessage);
        return false;
    }
    chosenFile_ = *picked;
    std::error_code ec;
    if (!chosenFile_.empty() && std::filesystem::is_regular_file(chosenFile_, ec) &&
        (alsoNeeded.empty() || std::filesystem::is_regular_file(alsoNeeded, ec)))
        return true;
    InputMissing(missingMessage);
    return false;
}

void Shell::RunImport()
{
    if (!ChooseInput("No existe archivo"))
        return;
    RunJob(std::string(kImportJobTitle), [this] {
        return JobResult{pasarela::RunImport({.xmlFile = chosenFile_,
                                              .workingDir = settings_.workingDir,
                                              .checkOnly = false,
                                              .decimalSeparator = settings_.decimalSeparator,
                                              .progress = {}}),
                         {}};
    });
}

void Shell::RunExport()
{
    ui_.ShowMessage("Deberá Abrir el fichero XML de DASTENO,\r\ndesde el cual realizó la Importación a Orlavi");
    if (!ChooseInput("No existe archivo XML o Solución.", settings_.workingDir / "SOLUC.DBF"))
        return;
    RunJob(std::string(kExportJobTitle), [this] {
        ExportResult result = pasarela::RunExport({.xmlFile = chosenFile_,
                                                   .workingDir = settings_.workingDir,
                                                   .journalFileNames = JournalFileNames(),
                                                   .now = [this] { return Now(); },
                                                   .formatDate = {},
                                                   .progress = {}});
        return JobResult{std::move(result.report), std::move(result.outputFile)};
    });
}

std::chrono::system_clock::time_point Shell::Now() const
{
    return settings_.now ? settings_.now() : std::chrono::system_clock::now();
}

std::string Shell::WriteReport(const std::string& jobTitle, std::chrono::system_clock::time_point started,
                               const std::string& outcome, const RunReport* report) const
{
    const ReportHeading heading{UserDateTimeText(started), std::string("Pasarela ") + PASARELA_VERSION, jobTitle,
                                chosenFile_, settings_.workingDir, outcome};
    try {
        SaveReportKeepingEarlier(settings_.workingDir / kReportName, ReportText(heading, report),
                                 kEarlierReportsKept);
        return {};
    } catch (const std::exception& e) {
        return e.what();
    }
}

// Every run that starts writes its report, failed ones too, so the report in Orlavi's
// folder is always the last run's and never an older one taken for it.
void Shell::RunJob(const std::string& jobTitle, const std::function<JobResult()>& job)
{
    const auto started = Now();
    ui_.SetBusy(true);
    try {
        JobResult result = job();
        const std::string outcome = result.outputFile.empty() ? std::string(kFinishedOutcome)
                                                              : ExportedOutcome(DisplayPath(result.outputFile));
        // The job is done (tables replaced, output saved) by now: a report that cannot be
        // written is told beside the completion, and the run still counts as completed.
        const std::string reportError = WriteReport(jobTitle, started, outcome, &result.report);
        Finish(FinishedMessage(result.report, result.outputFile, settings_.workingDir / kReportName, reportError));
    } catch (const std::exception& e) {
        std::string message = e.what();
        // Without Orlavi's folder there is nowhere to write, and the message says so already.
        std::error_code ec;
        if (std::filesystem::is_directory(settings_.workingDir, ec)) {
            const std::string reportError = WriteReport(jobTitle, started, FailedOutcome(e), nullptr);
            if (!reportError.empty())
                message += "\r\n\r\nNo se pudo escribir el informe:\r\n" + reportError;
        }
        ui_.SetBusy(false);
        if (dynamic_cast<const MissingInputError*>(&e) != nullptr)
            InputMissing(message);
        else
            ui_.ShowMessage(message);
    }
}

void Shell::OnClose()
{
    if (mode_.batchMode != kBatchMode)
        return;
    try {
        WriteIniValue(settings_.settingsFile, kSettingsSection, kSettingsKey, std::to_string(transformResult_));
    } catch (const std::exception& e) {
        ui_.ShowMessage(e.what());
    }
}

int Shell::ExitStatus() const
{
    if (transformResult_ == kTransformDone)
        return 0;
    if (transformResult_ == kTransformInputMissing)
        return 2;
    return 1;
}

}  // namespace pasarela
