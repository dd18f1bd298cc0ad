#include "app/shell.h"

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
    std::string finished = kFinished;
    // An import can be undone: the user learns how while the tables it replaced are kept.
    if (!report.KeptSet().empty())
        finished += "\r\n\r\nLas tablas que había antes se han guardado en " + DisplayPath(report.KeptSet()) +
                    "; para volver a ellas, ejecute: pasarela-cli restore";
    if (!report.HasNotices())
        return finished;
    const std::size_t count = report.Notices().size();
    const std::string notices = finished + "\r\n\r\n" + std::to_string(count) +
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
    RunJob([this] {
        return pasarela::RunImport({.xmlFile = chosenFile_,
                                    .workingDir = settings_.workingDir,
                                    .checkOnly = false,
                                    .decimalSeparator = settings_.decimalSeparator,
                                    .progress = {}});
    });
}

void Shell::RunExport()
{
    ui_.ShowMessage("Deberá Abrir el fichero XML de DASTENO,\r\ndesde el cual realizó la Importación a Orlavi");
    if (!ChooseInput("No existe archivo XML o Solución.", settings_.workingDir / "SOLUC.DBF"))
        return;
    RunJob([this] {
        return pasarela::RunExport({.xmlFile = chosenFile_, .workingDir = settings_.workingDir,
                                       .journalFileNames = JournalFileNames(), .now = {}, .formatDate = {},
                                       .progress = {}})
            .report;
    });
}

void Shell::RunJob(const std::function<RunReport()>& job)
{
    ui_.SetBusy(true);
    try {
        RunReport report = job();
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
        Finish(FinishedMessage(report, reportFile, reportError));
    } catch (const MissingInputError& e) {
        ui_.SetBusy(false);
        InputMissing(e.what());
    } catch (const std::exception& e) {
        ui_.SetBusy(false);
        ui_.ShowMessage(e.what());
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
