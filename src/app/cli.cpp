#include "app/cli.h"

#include <fstream>
#include <optional>

#include "app/dump.h"
#include "app/report_heading.h"
#include "app/version.h"
#include "export/export_run.h"
#include "import/import_run.h"
#include "os/date_stamp.h"
#include "import/restore_run.h"
#include "os/environment.h"
#include "os/error.h"
#include "os/file.h"
#include "os/locale_settings.h"
#include "workfolder/staging_lock.h"

namespace pasarela {
namespace {

constexpr std::size_t kUsageWidth = 88;
constexpr std::string_view kUsageIndent = "        ";

// `head` (a command, padded to the indent) and `text` wrapped at the usage's width, the
// lines after the first indented under the text.
std::string UsageParagraph(std::string_view head, std::string_view text)
{
    std::string paragraph;
    std::string line(head);
    bool lineHasWords = false;
    for (std::size_t at = 0; at < text.size();) {
        std::size_t end = text.find(' ', at);
        if (end == std::string_view::npos)
            end = text.size();
        const std::string_view word = text.substr(at, end - at);
        at = end + 1;
        if (lineHasWords && line.size() + 1 + word.size() > kUsageWidth) {
            paragraph += line + "\n";
            line = kUsageIndent;
        } else if (lineHasWords) {
            line += ' ';
        }
        line += word;
        lineHasWords = true;
    }
    return paragraph + line + "\n";
}

// The tables in the import's line come from the import itself, so the two cannot drift.
std::string BuildUsage()
{
    std::string tables;
    for (const ImportedTable& table : kImportedTables)
        tables.append(tables.empty() ? "" : ", ").append(table.name);
    return "Uso:\n"
           "  pasarela-cli import ARCHIVO.xml [--vtemp CARPETA] [--report INFORME.txt] [--check]\n"
           "  pasarela-cli export ARCHIVO.xml [--vtemp CARPETA] [--report INFORME.txt]\n"
           "  pasarela-cli restore [--vtemp CARPETA] [--report INFORME.txt] [--check]\n"
           "  pasarela-cli dump TABLA.DBF [--json]\n"
           "  pasarela-cli --help | --version\n"
           "\n" +
           UsageParagraph("import  ", "reconstruye las tablas de Orlavi (" + tables +
                                          ") a partir del archivo XML de DASTENO. Con --check solo comprueba el "
                                          "archivo e informa, sin cambiar ninguna tabla.") +
           "export  traduce el horario de Orlavi (SOLUC.DBF) y lo guarda junto al archivo XML como\n"
           "        ResultadoOrlavis<nombre del archivo>.\n" +
           UsageParagraph("restore ", "vuelve a poner las tablas que reemplazó la última importación (guardadas en "
                                      ".pasarela-anterior, dentro de la carpeta de trabajo); las que quita se guardan "
                                      "a su vez. Con --check solo dice qué pondría, sin cambiar ninguna tabla.") +
           "dump    muestra una tabla dBase como CSV (o JSON con --json).\n"
           "\n"
           "La carpeta de trabajo de Orlavi es --vtemp; si no se da, la variable PASARELA_VTEMP;\n"
           "si no, C:\\VTEMP (en Linux, la de Wine: $WINEPREFIX/drive_c/VTEMP).\n";
}

const std::string& Usage()
{
    static const std::string usage = BuildUsage();
    return usage;
}

class UsageError : public Error {
public:
    using Error::Error;
};

struct Command {
    std::string name;
    std::string file;
    std::optional<std::string> vtemp;
    std::optional<std::string> reportFile;
    bool check = false;
    bool json = false;
};

Command ParseCommand(const std::vector<std::string>& args)
{
    Command command;
    command.name = args.at(0);
    // Named before the file is asked for, so a mistyped command is what the user is told.
    if (command.name != "import" && command.name != "export" && command.name != "dump" && command.name != "restore")
        throw UsageError("orden desconocida: " + command.name);
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string& arg = args[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= args.size())
                throw UsageError("falta el valor de " + arg);
            return args[++i];
        };
        if (arg == "--vtemp" && command.name != "dump")
            command.vtemp = value();
        else if (arg == "--report" && command.name != "dump")
            command.reportFile = value();
        else if (arg == "--check" && (command.name == "import" || command.name == "restore"))
            command.check = true;
        else if (arg == "--json" && command.name == "dump")
            command.json = true;
        else if (!arg.empty() && arg[0] == '-' && arg != "-")
            throw UsageError("opción desconocida: " + arg);
        else if (command.file.empty() && command.name != "restore")
            command.file = arg;
        else
            throw UsageError("sobra el argumento " + arg);
    }
    if (command.file.empty() && command.name != "restore")
        throw UsageError("falta el archivo");
    return command;
}

std::filesystem::path WorkingDirectory(const Command& command)
{
    if (command.vtemp)
        return PathFromUtf8(*command.vtemp);
    if (auto fromEnvironment = GetEnvironment("PASARELA_VTEMP"); fromEnvironment && !fromEnvironment->empty())
        return PathFromUtf8(*fromEnvironment);
    return DefaultWorkingDirectory();
}

// Checked before the run changes anything: a report that could never be written is a
// mistyped option, not a reason to leave the tables replaced and call the run failed.
void CheckReportDestination(const Command& command)
{
    if (!command.reportFile)
        return;
    const std::filesystem::path path = PathFromUtf8(*command.reportFile);
    const std::filesystem::path folder = path.parent_path().empty() ? std::filesystem::path(".") : path.parent_path();
    std::error_code ec;
    if (!std::filesystem::is_directory(folder, ec))
        throw UsageError("no existe la carpeta del informe '" + DisplayPath(folder) + "'");
    if (std::filesystem::is_directory(path, ec))
        throw UsageError("el informe '" + DisplayPath(path) + "' es una carpeta");
}

// The report's heading for a run starting now; its outcome is filled in when it ends.
ReportHeading HeadingNow(std::string_view job, const std::filesystem::path& file,
                         const std::filesystem::path& workingDir)
{
    // Whole paths, so the report says where even when read from another folder.
    std::error_code ec;
    const auto whole = [&ec](const std::filesystem::path& path) {
        std::filesystem::path absolute = std::filesystem::absolute(path, ec);
        return ec ? path : absolute;
    };
    return {UserDateTimeText(std::chrono::system_clock::now()), std::string("pasarela-cli ") + PASARELA_VERSION,
            std::string(job), whole(file), whole(workingDir), {}};
}

// Runs after the tables were replaced or the output saved, or after the run failed: the run
// has ended, so a report that cannot be written now is a warning, not a failure.
void WriteReportFile(const Command& command, const ReportHeading& heading, const RunReport* report,
                     std::ostream& err)
{
    if (!command.reportFile)
        return;
    try {
        SaveReport(PathFromUtf8(*command.reportFile), heading, report);
    } catch (const std::exception& e) {
        err << "pasarela-cli: aviso: no se pudo escribir el informe: " << e.what() << "\n";
    }
}

// Runs a job and writes its report whatever the outcome, so that a script never finds the
// report of an earlier run in its place; an error then goes on to end the command.
template <typename Run>
auto RunReported(const Command& command, ReportHeading& heading, std::ostream& err, Run run)
{
    try {
        return run();
    } catch (const std::exception& e) {
        heading.outcome = FailedOutcome(e);
        WriteReportFile(command, heading, nullptr, err);
        throw;
    }
}

int Dump(const Command& command, std::ostream& out)
{
    DbfTable table = DbfTable::Open(PathFromUtf8(command.file));
    if (command.json)
        DumpJson(table, out);
    else
        DumpCsv(table, out);
    return kCliOk;
}

int Import(const Command& command, std::ostream& out, std::ostream& err)
{
    ImportOptions options;
    options.xmlFile = PathFromUtf8(command.file);
    options.workingDir = WorkingDirectory(command);
    options.checkOnly = command.check;
    options.decimalSeparator = UserDecimalSeparator();
    CheckReportDestination(command);
    ReportHeading heading =
        HeadingNow(command.check ? kCheckJobTitle : kImportJobTitle, options.xmlFile, options.workingDir);
    const RunReport report = RunReported(command, heading, err, [&] { return RunImport(options); });
    if (!command.check)
        heading.outcome = kFinishedOutcome;
    else if (FinishedPendingCommit(report))
        heading.outcome = kCheckedAfterPendingOutcome;
    else
        heading.outcome = kCheckedOutcome;
    out << report.Summary();
    WriteReportFile(command, heading, &report, err);
    out << heading.outcome << "\n";
    return kCliOk;
}

int Restore(const Command& command, std::ostream& out, std::ostream& err)
{
    RestoreOptions options;
    options.workingDir = WorkingDirectory(command);
    options.checkOnly = command.check;
    CheckReportDestination(command);
    ReportHeading heading = HeadingNow(command.check ? kRestoreCheckJobTitle : kRestoreJobTitle,
                                       KeptGenerationsFolder(options.workingDir), options.workingDir);
    const RunReport report = RunReported(command, heading, err, [&] { return RunRestore(options); });
    if (!command.check)
        heading.outcome = kFinishedOutcome;
    else if (FinishedPendingCommit(report))
        heading.outcome = kRestoreCheckedAfterPendingOutcome;
    else
        heading.outcome = kCheckedOutcome;
    if (command.check)
        out << "Tablas guardadas en '" << DisplayPath(KeptGenerationsFolder(options.workingDir))
            << "', que una restauración volvería a poner:\n";
    out << report.Summary();
    WriteReportFile(command, heading, &report, err);
    out << heading.outcome << "\n";
    return kCliOk;
}

int Export(const Command& command, std::ostream& out, std::ostream& err)
{
    ExportOptions options;
    options.xmlFile = PathFromUtf8(command.file);
    options.workingDir = WorkingDirectory(command);
    options.journalFileNames = JournalFileNames();
    CheckReportDestination(command);
    ReportHeading heading = HeadingNow(kExportJobTitle, options.xmlFile, options.workingDir);
    const ExportResult result = RunReported(command, heading, err, [&] { return RunExport(options); });
    heading.outcome = ExportedOutcome(DisplayPath(result.outputFile));
    out << result.report.Summary();
    WriteReportFile(command, heading, &result.report, err);
    out << "Guardado en " << DisplayPath(result.outputFile) << "\n";
    out << kFinishedOutcome << "\n";
    return kCliOk;
}

}  // namespace

int RunCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err)
{
    if (args.empty()) {
        err << Usage();
        return kCliUsage;
    }
    if (args[0] == "--help" || args[0] == "-h") {
        out << Usage();
        return kCliOk;
    }
    // Left out of the usage text: it is for scripts (scripts/run-example) that need the
    // import's tables in its order, one a line.
    if (args[0] == "--tables") {
        for (const ImportedTable& table : kImportedTables)
            out << table.name << "\n";
        return kCliOk;
    }
    if (args[0] == "--version") {
        out << "pasarela-cli " << PASARELA_VERSION << "\n";
        return kCliOk;
    }
    try {
        Command command = ParseCommand(args);
        if (command.name == "dump")
            return Dump(command, out);
        if (command.name == "import")
            return Import(command, out, err);
        if (command.name == "restore")
            return Restore(command, out, err);
        return Export(command, out, err);
    } catch (const UsageError& e) {
        err << "pasarela-cli: " << e.what() << "\n\n" << Usage();
        return kCliUsage;
    } catch (const MissingInputError& e) {
        err << e.what() << "\n";
        return kCliMissingInput;
    } catch (const std::exception& e) {
        err << "pasarela-cli: error: " << e.what() << "\n";
        return kCliError;
    }
}

}  // namespace pasarela
