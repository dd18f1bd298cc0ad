#include "app/shell.h"

#include <algorithm>
#include <memory>
#include <utility>

#include "app/ini_file.h"
#include "app/report_heading.h"
#include "app/version.h"
#include "export/export_run.h"
#include "import/import_run.h"
#include "import/restore_run.h"
#include "orlavi/orlavi_tables.h"
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

// The completion message: for an export the file it saved; how to undo a run that replaced
// tables; a pointer to the report when entries were left out or altered, so the user learns
// of them without a second dialog in Orlavi's batch runs; and, when the report could not be
// written, why.
std::string FinishedMessage(const RunReport& report, const std::filesystem::path& outputFile,
                            const std::filesystem::path& reportFile, const std::string& reportError)
{
    // What must not be missed comes before everything else: another school's tables
    // replaced, a set that could not be kept, a timetable older than its tables.
    std::string message;
    for (const std::string& headline : report.Headlines())
        message += headline + "\r\n\r\n";
    message += kFinishedOutcome;
    if (const std::string changes = report.ChangesBlock(); !changes.empty()) {
        message += "\r\n\r\nFilas frente a las tablas que había:";
        for (std::size_t at = 0; at < changes.size();) {
            const std::size_t end = changes.find('\n', at);
            message += "\r\n" + changes.substr(at, end - at);
            at = end == std::string::npos ? changes.size() : end + 1;
        }
    }
    if (!outputFile.empty())
        message += "\r\n\r\nGuardado en:\r\n" + DisplayPath(outputFile);
    // A run that replaced tables can be undone: the user learns how while they are kept.
    if (!report.KeptSet().empty())
        message += "\r\n\r\nLas tablas que había antes se han guardado: para volver a ellas, pulse «Deshacer…».";
    if (report.HasNotices()) {
        const std::size_t count = report.NoticeCount();
        message += "\r\n\r\n" + GroupThousands(count) + (count == 1 ? " aviso" : " avisos") +
                   " (entradas omitidas o alteradas).";
        if (reportError.empty())
            return message + " Informe completo en:\r\n" + DisplayPath(reportFile);
        return message + " No se pudo escribir el informe:\r\n" + reportError;
    }
    if (!reportError.empty())
        message += "\r\n\r\nNo se pudo escribir el informe:\r\n" + reportError;
    return message;
}

// Rows per table of a kept set, as the confirmation lists them.
std::string RowsPerTable(const KeptGeneration& set)
{
    std::string text;
    for (const auto& [table, rows] : set.rows)
        text += (text.empty() ? "" : ", ") + table + " " + GroupThousands(rows);
    return text.empty() ? "desconocidas" : text;
}

// Names the set that Restaurar would put back and what becomes of the tables it replaces,
// so that a slip on the list is caught before anything changes.
std::string RestoreQuestion(const KeptGeneration& set, const std::filesystem::path& workingDir)
{
    const KeptSetColumns columns = DescribeKeptSet(set);
    return "¿Volver a poner en " + DisplayPath(workingDir) + " estas tablas guardadas?\r\n\r\n"
           "Importadas: " + columns.date + "\r\n"
           "Archivo: " + columns.file + "\r\n"
           "Centro: " + columns.school + "\r\n"
           "Filas: " + RowsPerTable(set) + "\r\n\r\n"
           "Las tablas que hay ahora se guardarán antes, así que también esto se podrá deshacer.";
}

}  // namespace

KeptSetColumns DescribeKeptSet(const KeptGeneration& set)
{
    std::size_t rows = 0;
    for (const auto& table : set.rows)
        rows += table.second;
    return {set.dateTime.empty() ? "desconocida" : set.dateTime,
            set.file.empty() ? "desconocido" : DisplayPath(set.file.filename()), SchoolText(set.school),
            set.rows.empty() ? "desconocidas" : GroupThousands(rows)};
}

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
    ui_.SetUndoAvailable(CanUndo());
    if (mode_.startJob == Job::Export)
        RunExport();
    else if (mode_.startJob == Job::Import)
        RunImport();
}

void Shell::InputMissing(const std::string& message)
{
    ui_.ShowMessage(message, MessageKind::Error);
    if (mode_.batchMode == kBatchMode) {
        transformResult_ = kTransformInputMissing;
        ui_.CloseWindow();
    }
}

void Shell::EndBusy()
{
    ui_.SetBusy(false);
    ui_.SetUndoAvailable(CanUndo());
}

void Shell::Finish(const std::string& message, MessageKind kind)
{
    EndBusy();
    transformResult_ = kTransformDone;
    ui_.ShowMessage(message, kind);
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
    // The job gets copies: it runs on another thread while the window's goes on.
    RunJob(Job::Import, {std::string(kImportJobTitle), chosenFile_},
           [file = chosenFile_, settings = settings_](const ProgressFunction& progress) {
               return JobResult{pasarela::RunImport({.xmlFile = file,
                                                     .workingDir = settings.workingDir,
                                                     .checkOnly = false,
                                                     .decimalSeparator = settings.decimalSeparator,
                                                     .progress = progress}),
                                {}};
           });
}

void Shell::RunExport()
{
    ui_.ShowMessage("Deberá Abrir el fichero XML de DASTENO,\r\ndesde el cual realizó la Importación a Orlavi",
                    MessageKind::Information);
    if (!ChooseInput("No existe archivo XML o Solución.", settings_.workingDir / (std::string(SolutionTable::kName) + ".DBF")))
        return;
    RunJob(Job::Export, {std::string(kExportJobTitle), chosenFile_},
           [file = chosenFile_, settings = settings_](const ProgressFunction& progress) {
               ExportResult result = pasarela::RunExport(
                   {.xmlFile = file,
                    .workingDir = settings.workingDir,
                    .now = [clock = settings.now] { return clock ? clock() : std::chrono::system_clock::now(); },
                    .formatDate = {},
                    .progress = progress});
               return JobResult{std::move(result.report), std::move(result.outputFile)};
           });
}

bool Shell::CanUndo() const
{
    try {
        return !ListKeptGenerations(settings_.workingDir).empty();
    } catch (const std::exception&) {
        return false;  // a folder that cannot be read has nothing Deshacer could put back
    }
}

void Shell::RunUndo()
{
    if (mode_.batchMode == kBatchMode)
        return;
    std::vector<KeptGeneration> sets;
    try {
        sets = ListKeptGenerations(settings_.workingDir);
    } catch (const std::exception& e) {
        ui_.ShowMessage(UserMessage(e), MessageKind::Error);
        return;
    }
    if (sets.empty()) {
        ui_.SetUndoAvailable(false);
        ui_.ShowMessage("No hay tablas guardadas que volver a poner: ninguna importación ha sustituido todavía "
                        "las tablas de " + DisplayPath(settings_.workingDir) + ".",
                        MessageKind::Information);
        return;
    }
    // No to the question goes back to the list, with the set asked about still chosen.
    const KeptGeneration* chosen = &sets.front();
    for (;;) {
        const auto number = ui_.ChooseKeptSet(sets, chosen->number);
        if (!number)
            return;
        const auto found = std::find_if(sets.begin(), sets.end(),
                                        [&](const KeptGeneration& set) { return set.number == *number; });
        if (found == sets.end())
            return;
        chosen = &*found;
        if (ui_.Confirm(RestoreQuestion(*chosen, settings_.workingDir)))
            break;
    }
    RunJob(Job::Restore, {std::string(kRestoreJobTitle), chosen->folder},
           [generation = chosen->number, settings = settings_](const ProgressFunction&) {
               // Its report's first headline names what is now in the folder, and so does the end message.
               return JobResult{pasarela::RunRestore({.workingDir = settings.workingDir,
                                                      .checkOnly = false,
                                                      .generation = generation}),
                                {}};
           });
}

std::chrono::system_clock::time_point Shell::Now() const
{
    return settings_.now ? settings_.now() : std::chrono::system_clock::now();
}

std::string Shell::WriteReport(const JobHeading& job, std::chrono::system_clock::time_point started,
                               const std::string& outcome, const RunReport* report) const
{
    const ReportHeading heading{UserDateTimeText(started), std::string("Pasarela ") + PASARELA_VERSION, job.title,
                                job.file, settings_.workingDir, outcome};
    try {
        SaveReportKeepingEarlier(settings_.workingDir / kReportName, heading, report, kEarlierReportsKept);
        return {};
    } catch (const std::exception& e) {
        return UserMessage(e);
    }
}

// Every run that starts writes its report, failed ones too, so the report in Orlavi's
// folder is always the last run's and never an older one taken for it.
void Shell::RunJob(Job which, const JobHeading& heading, std::function<JobResult(const ProgressFunction&)> job)
{
    const auto started = Now();
    ui_.SetBusy(true);
    auto outcome = std::make_shared<JobOutcome>();
    try {
        ui_.RunInBackground(
            which,
            [job = std::move(job), outcome](const ProgressFunction& progress) {
                // Nothing may leave the job's thread: what it raises is shown on the window's.
                try {
                    outcome->result = job(progress);
                } catch (...) {
                    outcome->error = std::current_exception();
                }
            },
            [this, heading, started, outcome] { EndJob(heading, started, *outcome); });
    } catch (const std::exception& e) {
        EndBusy();
        ui_.ShowMessage(UserMessage(e), MessageKind::Error);
    }
}

void Shell::EndJob(const JobHeading& heading, std::chrono::system_clock::time_point started,
                   const JobOutcome& outcome)
{
    try {
        if (outcome.error)
            std::rethrow_exception(outcome.error);
        const JobResult& result = outcome.result;
        const std::string finished = result.outputFile.empty() ? std::string(kFinishedOutcome)
                                                               : ExportedOutcome(DisplayPath(result.outputFile));
        // The job is done (tables replaced, output saved) by now: a report that cannot be
        // written is told beside the completion, and the run still counts as completed.
        const std::string reportError = WriteReport(heading, started, finished, &result.report);
        Finish(FinishedMessage(result.report, result.outputFile, settings_.workingDir / kReportName, reportError),
               result.report.HasNotices() || !reportError.empty() ? MessageKind::Warning : MessageKind::Information);
    } catch (const std::exception& e) {
        std::string message = UserMessage(e);
        // Without Orlavi's folder there is nowhere to write, and the message says so already.
        std::error_code ec;
        if (std::filesystem::is_directory(settings_.workingDir, ec)) {
            const std::string reportError = WriteReport(heading, started, FailedOutcome(e), nullptr);
            if (!reportError.empty())
                message += "\r\n\r\nNo se pudo escribir el informe:\r\n" + reportError;
        }
        EndBusy();
        if (dynamic_cast<const MissingInputError*>(&e) != nullptr)
            InputMissing(message);
        else
            ui_.ShowMessage(message, MessageKind::Error);
    } catch (...) {
        EndBusy();
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
        ui_.ShowMessage(UserMessage(e), MessageKind::Error);
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
