#include "app/shell.h"

#include <memory>
#include <utility>

#include "app/ini_file.h"
#include "export/export_run.h"
#include "import/import_run.h"
#include "os/error.h"
#include "os/file.h"
#include "text/text.h"

namespace pasarela {
namespace {

constexpr char kSettingsSection[] = "Transformadores";
constexpr char kSettingsKey[] = "Transformado";
constexpr char kFinished[] = "Proceso finalizado";
constexpr char kReportName[] = "PASARELA-INFORME.TXT";
// Earlier reports kept beside the latest, so a second run does not wipe out the first one's.
constexpr std::size_t kEarlierReportsKept = 5;

// The completion message, with a pointer to the report when entries were left out or
// altered, so the user learns of them without a second dialog in Orlavi's batch runs; or,
// when the report could not be written, why.
std::string FinishedMessage(const RunReport& report, const std::filesystem::path& reportFile,
                            const std::string& reportError)
{
    if (!report.HasNotices())
        return kFinished;
    const std::size_t count = report.Notices().size();
    const std::string notices = std::string(kFinished) + "\r\n\r\n" + GroupThousands(count) +
                                (count == 1 ? " aviso" : " avisos") + " (entradas omitidas o alteradas).";
    if (!reportError.empty())
        return notices + " No se pudo escribir el informe:\r\n" + reportError;
    return notices + " Informe completo en:\r\n" + DisplayPath(reportFile);
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

void Shell::AskForFile()
{
    if (auto picked = ui_.PickXmlFile())
        chosenFile_ = *picked;
}

void Shell::InputMissing(const std::string& message)
{
    ui_.ShowMessage(message, MessageKind::Error);
    if (mode_.batchMode == kBatchMode) {
        transformResult_ = kTransformInputMissing;
        ui_.CloseWindow();
    }
}

void Shell::Finish(const std::string& message, MessageKind kind)
{
    ui_.SetBusy(false);
    transformResult_ = kTransformDone;
    ui_.ShowMessage(message, kind);
    if (mode_.batchMode == kBatchMode)
        ui_.CloseWindow();
}

// Checked before the wait cursor, so a run that never starts does not touch it.
bool Shell::ChooseInput(const std::string& missingMessage, const std::filesystem::path& alsoNeeded)
{
    AskForFile();
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
    // The job gets copies: it runs on another thread while the window's goes on.
    RunJob(Job::Import, [file = chosenFile_, settings = settings_](const ProgressFunction& progress) {
        return pasarela::RunImport({.xmlFile = file,
                                    .workingDir = settings.workingDir,
                                    .checkOnly = false,
                                    .decimalSeparator = settings.decimalSeparator,
                                    .progress = progress});
    });
}

void Shell::RunExport()
{
    ui_.ShowMessage("Deberá Abrir el fichero XML de DASTENO,\r\ndesde el cual realizó la Importación a Orlavi",
                    MessageKind::Information);
    if (!ChooseInput("No existe archivo XML o Solución.", settings_.workingDir / "SOLUC.DBF"))
        return;
    RunJob(Job::Export, [file = chosenFile_, settings = settings_](const ProgressFunction& progress) {
        return pasarela::RunExport({.xmlFile = file, .workingDir = settings.workingDir,
                                       .journalFileNames = JournalFileNames(), .now = {}, .formatDate = {},
                                       .progress = progress})
            .report;
    });
}

void Shell::RunJob(Job which, std::function<RunReport(const ProgressFunction&)> job)
{
    ui_.SetBusy(true);
    auto outcome = std::make_shared<JobOutcome>();
    try {
        ui_.RunInBackground(
            which,
            [job = std::move(job), outcome](const ProgressFunction& progress) {
                // Nothing may leave the job's thread: what it raises is shown on the window's.
                try {
                    outcome->report = job(progress);
                } catch (...) {
                    outcome->error = std::current_exception();
                }
            },
            [this, outcome] { EndJob(*outcome); });
    } catch (const std::exception& e) {
        ui_.SetBusy(false);
        ui_.ShowMessage(e.what(), MessageKind::Error);
    }
}

void Shell::EndJob(const JobOutcome& outcome)
{
    try {
        if (outcome.error)
            std::rethrow_exception(outcome.error);
        const RunReport& report = outcome.report;
        const auto reportFile = settings_.workingDir / kReportName;
        // The job is done (tables replaced, output saved) by now: a report that cannot be
        // written is told beside the completion, and the run still counts as completed.
        std::string reportError;
        if (report.HasNotices()) {
            try {
                SaveReportKeepingEarlier(reportFile, report, kEarlierReportsKept);
            } catch (const std::exception& e) {
                reportError = e.what();
            }
        }
        Finish(FinishedMessage(report, reportFile, reportError),
               report.HasNotices() || !reportError.empty() ? MessageKind::Warning : MessageKind::Information);
    } catch (const MissingInputError& e) {
        ui_.SetBusy(false);
        InputMissing(e.what());
    } catch (const std::exception& e) {
        ui_.SetBusy(false);
        ui_.ShowMessage(e.what(), MessageKind::Error);
    } catch (...) {
        ui_.SetBusy(false);
        ui_.ShowMessage("Error inesperado: el proceso no terminó.", MessageKind::Error);
    }
}

void Shell::OnClose()
{
    if (mode_.batchMode != kBatchMode)
        return;
    try {
        WriteIniValue(settings_.settingsFile, kSettingsSection, kSettingsKey, std::to_string(transformResult_));
    } catch (const std::exception& e) {
        ui_.ShowMessage(e.what(), MessageKind::Error);
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
