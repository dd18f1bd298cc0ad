#include "app/cli.h"

#include <charconv>
#include <fstream>
#include <optional>

#include "app/dump.h"
#include "app/report_heading.h"
#include "app/version.h"
#include "export/export_run.h"
#include "import/import_run.h"
#include "import/restore_run.h"
#include "os/date_stamp.h"
#include "os/environment.h"
#include "os/error.h"
#include "os/file.h"
#include "os/locale_settings.h"
#include "text/text.h"
#include "workfolder/file_set.h"
#include "workfolder/kept_set.h"
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
           "  pasarela-cli restore [--list] [--set N] [--check] [--vtemp CARPETA] [--report INFORME.txt]\n"
           "  pasarela-cli dump TABLA.DBF [--json]\n"
           "  pasarela-cli --help | --version\n"
           "\n" +
           UsageParagraph("import  ", "reconstruye las tablas de Orlavi (" + tables +
                                          ") a partir del archivo XML de DASTENO. Con --check solo comprueba el "
                                          "archivo e informa, sin cambiar ninguna tabla.") +
           "export  traduce el horario de Orlavi (SOLUC.DBF) y lo guarda junto al archivo XML como\n"
           "        ResultadoOrlavis<nombre del archivo>.\n" +
           UsageParagraph("restore ", "vuelve a poner unas tablas guardadas: cada importación y cada restauración "
                                      "guarda las que reemplaza (las 10 últimas, en .pasarela-guardadas, dentro de la "
                                      "carpeta de trabajo). --list las muestra, la 1 la más reciente; --set N elige "
                                      "cuáles (sin --set, la 1). Las que quita se guardan a su vez. Con --check solo "
                                      "dice qué pondría, sin cambiar ninguna tabla.") +
           "dump    muestra una tabla dBase como CSV (o JSON con --json).\n"
           "\n"
           "El informe (--report) no puede ser el archivo de DASTENO, una tabla, un índice ni otro\n"
           "archivo de la carpeta de trabajo que use Pasarela.\n"
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
    bool list = false;
    int set = 1;
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
        else if (arg == "--list" && command.name == "restore")
            command.list = true;
        else if (arg == "--set" && command.name == "restore") {
            const std::string number = value();
            int parsed = 0;
            const auto [end, ec] = std::from_chars(number.data(), number.data() + number.size(), parsed);
            if (ec != std::errc() || end != number.data() + number.size() || parsed < 1)
                throw UsageError("--set necesita el número de unas tablas guardadas (1 = las más recientes), no '" +
                                 number + "'");
            command.set = parsed;
        }
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

// What a report must never overwrite: a file the run reads or owns.
struct OwnedPaths {
    std::vector<std::pair<std::filesystem::path, std::string>> files;    // with what each is
    std::vector<std::pair<std::filesystem::path, std::string>> folders;  // and everything inside them
};

// The files of the working folder every run reads or owns: the tables, their indexes,
// the school record, Orlavi's timetable, the staging folder and the kept generations.
OwnedPaths WorkingFolderPaths(const std::filesystem::path& workingDir)
{
    OwnedPaths owned;
    for (const std::string& name : JournalFileNames())
        owned.files.emplace_back(workingDir / name, "un archivo de las tablas de Orlavi");
    owned.files.emplace_back(workingDir / "SOLUC.DBF", "el horario de Orlavi");
    owned.folders.emplace_back(StagingFolder(workingDir), "la carpeta de trabajo de Pasarela");
    owned.folders.emplace_back(KeptGenerationsFolder(workingDir), "las tablas guardadas");
    owned.folders.emplace_back(LegacyKeptSetFolder(workingDir), "las tablas guardadas");
    return owned;
}

// The path with its links resolved as far as it exists, for comparing: Windows does not
// tell letters' case apart in names, so neither do we.
std::string Comparable(const std::filesystem::path& path)
{
    std::error_code ec;
    std::filesystem::path resolved = std::filesystem::weakly_canonical(std::filesystem::absolute(path, ec), ec);
    if (ec)
        resolved = path.lexically_normal();
    std::string text = DisplayPath(resolved);
    for (char& c : text)
        if (c == '\\')
            c = '/';
    return LowerAscii(text);
}

// Checked before the run changes anything: a report that could never be written is a
// mistyped option, not a reason to leave the tables replaced and call the run failed; and
// a report over a file the run reads or owns would destroy it, whatever the outcome.
void CheckReportDestination(const Command& command, const OwnedPaths& owned = {})
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
    const std::string report = Comparable(path);
    const auto refuse = [&](const std::string& what) {
        throw UsageError("el informe '" + DisplayPath(path) + "' sería " + what +
                         ", que se perdería al escribirlo: elija otro nombre para el informe");
    };
    for (const auto& [file, what] : owned.files) {
        std::error_code equivalentEc;
        if (Comparable(file) == report || std::filesystem::equivalent(file, path, equivalentEc))
            refuse(what + " '" + DisplayPath(file) + "'");
    }
    for (const auto& [inside, what] : owned.folders) {
        const std::string prefix = Comparable(inside);
        if (report == prefix || report.starts_with(prefix + "/"))
            refuse("un archivo de " + what + " ('" + DisplayPath(inside) + "')");
    }
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
        err << "pasarela-cli: aviso: no se pudo escribir el informe: " << UserMessage(e) << "\n";
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
    OwnedPaths owned = WorkingFolderPaths(options.workingDir);
    owned.files.emplace_back(options.xmlFile, "el archivo de DASTENO que se importa");
    CheckReportDestination(command, owned);
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

// The kept generations as the window's list shows them: number, date, file, school, rows.
void ListGenerations(const std::filesystem::path& workingDir, std::ostream& out)
{
    const std::vector<KeptGeneration> generations = ListKeptGenerations(workingDir);
    if (generations.empty()) {
        out << "No hay tablas guardadas en '" << DisplayPath(workingDir) << "'\n";
        return;
    }
    out << "Tablas guardadas en '" << DisplayPath(workingDir) << "' (la 1, las más recientes):\n";
    for (const KeptGeneration& generation : generations) {
        out << generation.number << ". fecha: " << (generation.dateTime.empty() ? "desconocida" : generation.dateTime)
            << "; archivo: " << (generation.file.empty() ? "desconocido" : DisplayPath(generation.file))
            << "; centro: " << SchoolText(generation.school) << "\n";
        std::string rows;
        for (const auto& [table, count] : generation.rows)
            rows.append(rows.empty() ? "" : ", ").append(table + " " + std::to_string(count));
        out << "   filas: " << (rows.empty() ? "desconocidas" : rows) << "\n";
    }
}

int Restore(const Command& command, std::ostream& out, std::ostream& err)
{
    RestoreOptions options;
    options.workingDir = WorkingDirectory(command);
    options.checkOnly = command.check;
    options.generation = command.set;
    if (command.list) {
        ListGenerations(options.workingDir, out);
        return kCliOk;
    }
    CheckReportDestination(command, WorkingFolderPaths(options.workingDir));
    ReportHeading heading = HeadingNow(command.check ? kRestoreCheckJobTitle : kRestoreJobTitle,
                                       KeptGenerationsFolder(options.workingDir), options.workingDir);
    const RunReport report = RunReported(command, heading, err, [&] { return RunRestore(options); });
    if (!command.check)
        heading.outcome = kFinishedOutcome;
    else if (FinishedPendingCommit(report))
        heading.outcome = kRestoreCheckedAfterPendingOutcome;
    else
        heading.outcome = kCheckedOutcome;
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
    OwnedPaths owned = WorkingFolderPaths(options.workingDir);
    owned.files.emplace_back(options.xmlFile, "el archivo de DASTENO que se exporta");
    owned.files.emplace_back(ExportOutputPath(options.xmlFile), "el resultado de la exportación");
    CheckReportDestination(command, owned);
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
        err << "pasarela-cli: error: " << UserMessage(e) << "\n";
        return kCliError;
    }
}

}  // namespace pasarela
