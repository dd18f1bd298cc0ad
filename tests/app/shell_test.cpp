#include "app/shell.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <deque>
#include <filesystem>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "app/report_heading.h"
#include "app/version.h"
#include "dbf/dbf_table.h"
#include "dbf/dbf_test_support.h"
#include "import/import_run.h"
#include "import/import_test_support.h"
#include "import/table_registry.h"
#include "os/date_stamp.h"
#include "os/file.h"
#include "test_support.h"

namespace pasarela {

void PrintTo(MessageKind kind, std::ostream* out)
{
    *out << (kind == MessageKind::Information ? "Information" : kind == MessageKind::Warning ? "Warning" : "Error");
}

namespace {

// The launch mode in one line, so a failing row shows every field at once.
std::string Describe(const LaunchMode& mode)
{
    const char* job = mode.startJob == Job::Import ? "import" : mode.startJob == Job::Export ? "export" : "none";
    return "batchMode=" + std::to_string(mode.batchMode) + " job=" + job +
           " importArea=" + (mode.showImportArea ? "shown" : "hidden") +
           " exportArea=" + (mode.showExportArea ? "shown" : "hidden");
}

TEST(ParseLaunchModeTest, ReadsTheRawParameterList)
{
    const std::string interactive = "batchMode=0 job=none importArea=shown exportArea=shown";
    const std::string batchImport = "batchMode=2 job=import importArea=shown exportArea=hidden";
    const std::string batchExport = "batchMode=2 job=export importArea=hidden exportArea=shown";
    const std::string batchNoJob = "batchMode=2 job=none importArea=shown exportArea=shown";
    struct Case {
        const char* name;
        std::vector<std::string> parameters;
        std::string expected;
    };
    const Case cases[] = {
        {"no parameters", {}, interactive},
        {"one parameter", {"exportar"}, interactive},
        {"three parameters", {"exportar", "1", "2"}, interactive},
        {"exportar", {"exportar", "1"}, batchImport},
        {"EXPORTAR", {"EXPORTAR", "1"}, batchImport},
        {"Exportar", {"Exportar", "1"}, batchImport},
        {"second parameter not read", {"exportar", "importar"}, batchImport},
        {"importar", {"importar", "1"}, batchExport},
        {"IMPORTAR", {"IMPORTAR", "1"}, batchExport},
        {"non-ASCII capital", {"ÉXPORTAR", "1"}, batchNoJob},
        {"leading blank", {" exportar", "1"}, batchNoJob},
        {"trailing blank", {"importar ", "1"}, batchNoJob},
        {"another word", {"ayuda", "1"}, batchNoJob},
        {"empty second parameter ends the list", {"exportar", ""}, interactive},
        {"parameters after an empty one are not counted", {"exportar", "", "1"}, interactive},
        {"empty first parameter", {"", "1"}, interactive},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(Describe(ParseLaunchMode(c.parameters)), c.expected);
    }
}

// The window as a script: the file dialog gives the queued answers, and every call the
// shell makes is recorded in order, so a test reads like what the user sees. A job runs on
// a thread of its own, as in the window, and every other call must come from the thread
// that made the stand-in (the window's).
class ScriptedUserInterface : public UserInterface {
public:
    // The dialog's next answer: a file, or nothing when the user cancels.
    void WillPick(std::optional<std::filesystem::path> answer) { answers_.push_back(std::move(answer)); }
    // The calls made since the last time they were taken.
    std::vector<std::string> TakeCalls() { return std::exchange(calls_, {}); }
    // The icons of the messages shown since the last time they were taken.
    std::vector<MessageKind> TakeMessageKinds() { return std::exchange(kinds_, {}); }
    // The shares a job told, in order.
    std::vector<double> TakeProgress() { return std::exchange(progress_, {}); }
    // The next job waits, as a long one does, until FinishHeldJob.
    void HoldNextJob() { holdNext_ = true; }
    void FinishHeldJob()
    {
        ASSERT_TRUE(held_) << "no job is held";
        std::exchange(held_, {})();
    }

    // The initial selection each dialog offered, in order.
    std::vector<std::filesystem::path> TakeOffered() { return std::exchange(offered_, {}); }
    // The list of kept sets' next answer: a set's number, or nothing for Cancelar; -1 takes
    // the set chosen as the list opens.
    void WillChooseKeptSet(std::optional<int> answer) { keptSetAnswers_.push_back(answer); }
    // The sets each list showed, as "number:file" in order, one text per list.
    std::vector<std::string> TakeListedSets() { return std::exchange(listed_, {}); }
    // The next confirmation's answer.
    void WillConfirm(bool answer) { confirmations_.push_back(answer); }
    // What the window's Deshacer shows, as the Shell last said: "none" before it said anything.
    std::string UndoButton() const { return undoButton_; }

    std::optional<std::filesystem::path> PickXmlFile(const std::filesystem::path& initialSelection) override
    {
        ExpectWindowThread("the file dialog");
        calls_.push_back("dialog");
        offered_.push_back(initialSelection);
        if (answers_.empty()) {
            ADD_FAILURE() << "file dialog shown without an answer queued";
            return std::nullopt;
        }
        auto answer = std::move(answers_.front());
        answers_.pop_front();
        return answer;
    }
    void ShowMessage(const std::string& text, MessageKind kind) override
    {
        ExpectWindowThread("a message");
        calls_.push_back("message: " + text);
        kinds_.push_back(kind);
    }
    void SetBusy(bool busy) override
    {
        ExpectWindowThread("the busy look");
        calls_.push_back(busy ? "busy on" : "busy off");
    }
    void CloseWindow() override
    {
        ExpectWindowThread("the close");
        calls_.push_back("close");
    }
    std::optional<int> ChooseKeptSet(const std::vector<KeptGeneration>& sets, int selected) override
    {
        ExpectWindowThread("the list of kept sets");
        calls_.push_back("kept sets, " + std::to_string(selected) + " chosen");
        std::string listed;
        for (const KeptGeneration& set : sets)
            listed += (listed.empty() ? "" : " ") + std::to_string(set.number) + ":" + set.file.filename().string();
        listed_.push_back(listed);
        if (keptSetAnswers_.empty()) {
            ADD_FAILURE() << "list of kept sets shown without an answer queued";
            return std::nullopt;
        }
        const auto answer = keptSetAnswers_.front();
        keptSetAnswers_.pop_front();
        return answer == -1 ? std::optional(selected) : answer;
    }
    bool Confirm(const std::string& question) override
    {
        ExpectWindowThread("a question");
        calls_.push_back("confirm: " + question);
        if (confirmations_.empty()) {
            ADD_FAILURE() << "question asked without an answer queued";
            return false;
        }
        const bool answer = confirmations_.front();
        confirmations_.pop_front();
        return answer;
    }
    void SetUndoAvailable(bool available) override
    {
        ExpectWindowThread("Deshacer's look");
        undoButton_ = available ? "enabled" : "greyed";
    }
    void RunInBackground(Job, std::function<void(const ProgressFunction&)> work,
                         std::function<void()> finished) override
    {
        ExpectWindowThread("the start of a job");
        auto run = [this, work = std::move(work), finished = std::move(finished)] {
            std::thread worker([this, &work] {
                work([this](double share) {
                    EXPECT_NE(std::this_thread::get_id(), windowThread_) << "progress is told from the job's thread";
                    progress_.push_back(share);
                });
            });
            worker.join();
            finished();
        };
        if (std::exchange(holdNext_, false))
            held_ = std::move(run);
        else
            run();
    }

private:
    void ExpectWindowThread(const char* what) const
    {
        EXPECT_EQ(std::this_thread::get_id(), windowThread_) << what << " comes from another thread";
    }

    const std::thread::id windowThread_ = std::this_thread::get_id();
    std::deque<std::optional<std::filesystem::path>> answers_;
    std::vector<std::string> calls_;
    std::vector<MessageKind> kinds_;
    std::vector<double> progress_;
    bool holdNext_ = false;
    std::function<void()> held_;
    std::vector<std::filesystem::path> offered_;
    std::deque<std::optional<int>> keptSetAnswers_;
    std::vector<std::string> listed_;
    std::deque<bool> confirmations_;
    std::string undoButton_ = "none";
};

const std::optional<std::filesystem::path> kCancelled;
const std::vector<std::string> kBatchImport = {"exportar", "1"};
const std::vector<std::string> kBatchExport = {"importar", "1"};
const std::vector<std::string> kInteractive = {};
const std::string kExportFirstMessage =
    "message: Deberá Abrir el fichero XML de DASTENO,\r\ndesde el cual realizó la Importación a Orlavi";

// A run of the program in a folder of its own: Orlavi's working folder VTEMP and the
// settings file beside it, both removed afterwards.
class ShellTest : public test::TempFolderTest {
protected:
    void SetUp() override
    {
        TempFolderTest::SetUp();
        workDir_ = folder_ / "VTEMP";
        std::filesystem::create_directory(workDir_);
        settings_.workingDir = workDir_;
        settings_.settingsFile = folder_ / "Orlavi.ini";
    }

    Shell Start(const std::vector<std::string>& parameters) { return Shell(ParseLaunchMode(parameters), settings_, ui_); }

    std::filesystem::path WriteSchool(const test::SmallSchoolValues& values = {}) const
    {
        const auto path = folder_ / "centro.xml";
        test::WriteFileBytes(path, test::SmallSchool(values));
        return path;
    }

    // The settings file as Orlavi will read it, or a note that there is none.
    std::string SettingsText() const
    {
        if (!std::filesystem::exists(settings_.settingsFile))
            return "<no settings file>";
        return test::ReadFileBytes(settings_.settingsFile);
    }

    // Every ABREV of PROFT, to tell which file an import read.
    std::vector<std::string> TeacherCodes() const
    {
        DbfTable table = DbfTable::Open(workDir_ / "PROFT.DBF");
        std::vector<std::string> codes;
        for (table.First(); !table.Eof(); table.Next())
            codes.push_back(table.AsString(table.FieldIndex("ABREV")));
        return codes;
    }

    // Orlavi's timetable with one entry, in the codes the import of SmallSchool() gave.
    void WriteSolution() const
    {
        const auto path = workDir_ / "SOLUC.DBF";
        const FieldSpec fields[] = {
            {"DIA", FieldKind::Integer, 0},      {"HORA", FieldKind::Integer, 0},
            {"SESIONES", FieldKind::Integer, 0}, {"CODGRUPO", FieldKind::Character, 10},
            {"ASIG", FieldKind::Character, 10},  {"TAREA", FieldKind::Character, 10},
            {"PROF", FieldKind::Character, 10},  {"AULA", FieldKind::Character, 10},
        };
        DbfTable::Create(path, fields);
        DbfTable table = DbfTable::Open(path, test::ReadWrite());
        table.Append();
        table.SetInteger(table.FieldIndex("DIA"), 1);
        table.SetInteger(table.FieldIndex("HORA"), 2);
        table.SetInteger(table.FieldIndex("SESIONES"), 1);
        table.SetString(table.FieldIndex("CODGRUPO"), "1B");
        table.SetString(table.FieldIndex("ASIG"), "MAT");
        table.SetString(table.FieldIndex("TAREA"), "LEC");
        table.SetString(table.FieldIndex("PROF"), "LMM");
        table.SetString(table.FieldIndex("AULA"), "LAB");
        table.Post();
        table.Close();
    }

    std::filesystem::path workDir_;
    ShellSettings settings_;
    ScriptedUserInterface ui_;
};

TEST_F(ShellTest, BatchImportThatCompletesClosesTheWindowAndLeaves1)
{
    const auto school = WriteSchool();
    ui_.WillPick(school);
    Shell shell = Start(kBatchImport);

    shell.OnShow();

    EXPECT_THAT(ui_.TakeCalls(), ElementsAre("dialog", "busy on", "busy off", "message: Proceso finalizado", "close"));
    EXPECT_EQ(shell.TransformResult(), 1);
    EXPECT_EQ(shell.ExitStatus(), 0);
    EXPECT_EQ(TeacherCodes(), (std::vector<std::string>{"ARG", "LMM"}));
    EXPECT_EQ(SettingsText(), "<no settings file>");  // written by the close, not by the run

    shell.OnClose();
    EXPECT_EQ(SettingsText(), "[Transformadores]\r\nTransformado=1\r\n");
    EXPECT_THAT(ui_.TakeCalls(), IsEmpty());
}

TEST_F(ShellTest, BatchImportCancelledAtOnceClosesTheWindowAndLeavesMinus1)
{
    ui_.WillPick(kCancelled);
    Shell shell = Start(kBatchImport);

    shell.OnShow();

    EXPECT_THAT(ui_.TakeCalls(), ElementsAre("dialog", "message: No existe archivo", "close"));
    EXPECT_EQ(shell.TransformResult(), -1);
    EXPECT_EQ(shell.ExitStatus(), 2);
    EXPECT_THAT(FolderContents(), ElementsAre("VTEMP"));
    EXPECT_TRUE(std::filesystem::is_empty(workDir_));

    shell.OnClose();
    EXPECT_EQ(SettingsText(), "[Transformadores]\r\nTransformado=-1\r\n");
}

TEST_F(ShellTest, InteractiveCancelDoesNothing)
{
    Shell shell = Start(kInteractive);
    shell.OnShow();
    EXPECT_THAT(ui_.TakeCalls(), IsEmpty());

    ui_.WillPick(kCancelled);
    shell.RunImport();
    EXPECT_THAT(ui_.TakeCalls(), ElementsAre("dialog"));

    ui_.WillPick(kCancelled);
    shell.RunExport();
    EXPECT_THAT(ui_.TakeCalls(), ElementsAre(kExportFirstMessage, "dialog"));

    EXPECT_THAT(ui_.TakeOffered(), ElementsAre(std::filesystem::path(), std::filesystem::path()));
    EXPECT_EQ(shell.TransformResult(), 0);
    EXPECT_EQ(shell.ExitStatus(), 1);
    EXPECT_TRUE(std::filesystem::is_empty(workDir_));
}

TEST_F(ShellTest, InteractiveModeKeepsTheWindowOpenAndWritesNoSettingsFile)
{
    ui_.WillPick(WriteSchool());
    Shell shell = Start(kInteractive);

    shell.RunImport();
    EXPECT_THAT(ui_.TakeCalls(), ElementsAre("dialog", "busy on", "busy off", "message: Proceso finalizado"));
    EXPECT_EQ(shell.TransformResult(), 1);

    shell.OnClose();
    EXPECT_THAT(ui_.TakeCalls(), IsEmpty());
    EXPECT_EQ(SettingsText(), "<no settings file>");
}

TEST_F(ShellTest, CancelAfterARunNeverRunsItAgain)
{
    // Orlavi's user changes a table after the import; a Cancel must not undo that.
    const auto school = WriteSchool();
    struct Case {
        const char* name;
        std::vector<std::string> parameters;
        std::vector<std::string> calls;
        int transformResult;
    };
    const Case cases[] = {
        {"interactive: nothing happens", kInteractive, {"dialog"}, 1},
        {"batch mode: the run ends as when no file is chosen", {"ayuda", "1"},
         {"dialog", "message: No existe archivo", "close"}, -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Shell shell = Start(c.parameters);
        ui_.WillPick(school);
        shell.RunImport();
        ui_.TakeCalls();
        test::WriteFileBytes(workDir_ / "PROFT.DBF", "cambiado en Orlavi");

        ui_.WillPick(kCancelled);
        shell.RunImport();

        EXPECT_THAT(ui_.TakeCalls(), ElementsAreArray(c.calls));
        EXPECT_EQ(test::ReadFileBytes(workDir_ / "PROFT.DBF"), "cambiado en Orlavi");
        EXPECT_EQ(shell.TransformResult(), c.transformResult);
        // The file chosen before is offered, so running the job again is one Enter away.
        EXPECT_THAT(ui_.TakeOffered(), ElementsAre(std::filesystem::path(), school));
        EXPECT_EQ(shell.ChosenFile(), school);
    }
}

TEST_F(ShellTest, OfferedFileTakenAgainIsReadAgain)
{
    const auto school = WriteSchool();
    Shell shell = Start(kInteractive);
    ui_.WillPick(school);
    shell.RunImport();
    ui_.TakeCalls();

    // The file changes on disk; the next run must read it again, not remember the tables.
    WriteSchool({.teacher = "NEW"});
    ui_.WillPick(school);  // Enter on the name offered
    shell.RunImport();
    // The second import replaced the first one's tables: the message says what changed, in
    // a few lines, and where they are kept.
    EXPECT_THAT(ui_.TakeCalls(),
                ElementsAre("dialog", "busy on", "busy off",
                            "message: Proceso finalizado\r\n\r\nFilas frente a las tablas que había:\r\n"
                            "PROFT: 1 nueva, 1 que falta\r\nASIGT: 1 nueva, 1 que falta\r\n"
                            "Sin cambios en: ASIGNOMT, AULAT, GRUPOST, DIASHORAST\r\n"
                            "\r\nLas tablas que había antes se han guardado: para volver a ellas, pulse "
                            "«Deshacer…»."));
    EXPECT_THAT(ui_.TakeOffered(), ElementsAre(std::filesystem::path(), school));
    EXPECT_EQ(TeacherCodes(), (std::vector<std::string>{"ARG", "NEW"}));

    std::filesystem::remove(school);
    ui_.WillPick(school);
    shell.RunImport();
    EXPECT_THAT(ui_.TakeCalls(), ElementsAre("dialog", "message: No existe archivo"));
    EXPECT_EQ(shell.TransformResult(), 1);  // a missing file outside batch mode changes no outcome
    EXPECT_EQ(TeacherCodes(), (std::vector<std::string>{"ARG", "NEW"}));
}

TEST_F(ShellTest, FileChosenByAnExportIsOfferedToAnImport)
{
    const auto school = WriteSchool();
    Shell shell = Start(kInteractive);
    ui_.WillPick(school);
    shell.RunExport();  // no SOLUC yet, so it ends at once, but the choice stays
    EXPECT_THAT(ui_.TakeCalls(),
                ElementsAre(kExportFirstMessage, "dialog", "message: No existe archivo XML o Solución."));
    EXPECT_EQ(shell.TransformResult(), 0);

    ui_.WillPick(school);
    shell.RunImport();
    EXPECT_THAT(ui_.TakeCalls(), ElementsAre("dialog", "busy on", "busy off", "message: Proceso finalizado"));
    EXPECT_THAT(ui_.TakeOffered(), ElementsAre(std::filesystem::path(), school));
    EXPECT_EQ(TeacherCodes(), (std::vector<std::string>{"ARG", "LMM"}));
}

TEST_F(ShellTest, BatchExportWithoutItsInputClosesTheWindowAndLeavesMinus1)
{
    struct Case {
        const char* name;
        bool chooseFile;
    };
    const Case cases[] = {
        {"dialog cancelled before any file was chosen", false},
        {"file chosen but no SOLUC", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ui_.WillPick(c.chooseFile ? std::optional(WriteSchool()) : kCancelled);
        Shell shell = Start(kBatchExport);

        shell.OnShow();

        EXPECT_THAT(ui_.TakeCalls(), ElementsAre(kExportFirstMessage, "dialog",
                                                 "message: No existe archivo XML o Solución.", "close"));
        EXPECT_EQ(shell.TransformResult(), -1);
        EXPECT_EQ(shell.ExitStatus(), 2);
        shell.OnClose();
        EXPECT_EQ(SettingsText(), "[Transformadores]\r\nTransformado=-1\r\n");
        std::filesystem::remove(settings_.settingsFile);
    }
}

TEST_F(ShellTest, BatchExportThatCompletesClosesTheWindowAndLeaves1)
{
    const auto school = WriteSchool();
    RunImport({.xmlFile = school, .workingDir = workDir_, .checkOnly = false, .decimalSeparator = '.', .progress = {}});
    WriteSolution();
    ui_.WillPick(school);
    Shell shell = Start(kBatchExport);

    shell.OnShow();

    EXPECT_THAT(ui_.TakeCalls(), ElementsAre(kExportFirstMessage, "dialog", "busy on", "busy off",
                                             "message: Proceso finalizado\r\n\r\nGuardado en:\r\n" +
                                                 DisplayPath(folder_ / "ResultadoOrlaviscentro.xml"),
                                             "close"));
    EXPECT_EQ(shell.TransformResult(), 1);
    EXPECT_EQ(shell.ExitStatus(), 0);
    EXPECT_THAT(test::ReadFileBytes(folder_ / "ResultadoOrlaviscentro.xml"),
                HasSubstr(R"(<dsolucion casig="901" cgrupo="7002" cprofe="502" caula="9002" cactiv="950" )"
                          R"(dia="1" hora="2" sesiones="1" idcurso="301")"));
    shell.OnClose();
    EXPECT_EQ(SettingsText(), "[Transformadores]\r\nTransformado=1\r\n");
}

TEST_F(ShellTest, BatchExportOfAnotherSchoolsFileIsAnErrorThatLeaves0AndWritesNothing)
{
    const auto school = WriteSchool();
    RunImport({.xmlFile = school, .workingDir = workDir_, .checkOnly = false, .decimalSeparator = '.', .progress = {}});
    WriteSolution();
    // The dialog offered the file of another school, kept under the same name.
    WriteSchool({.schoolCode = "29000002", .schoolName = "IES Otro"});
    ui_.WillPick(school);
    Shell shell = Start(kBatchExport);

    shell.OnShow();

    EXPECT_THAT(ui_.TakeCalls(),
                ElementsAre(kExportFirstMessage, "dialog", "busy on", "busy off",
                            "message: El archivo '" + DisplayPath(school) +
                                "' es del centro 29000002 (IES Otro, 2013), pero las tablas de Orlavi son del centro "
                                "41000001 (IES Ejemplo, 2013): no se ha exportado nada. Elija el archivo de DASTENO "
                                "del centro 41000001 (IES Ejemplo, 2013), el que importó"));
    EXPECT_FALSE(std::filesystem::exists(folder_ / "ResultadoOrlaviscentro.xml"));
    shell.OnClose();
    EXPECT_EQ(SettingsText(), "[Transformadores]\r\nTransformado=0\r\n");
}

TEST_F(ShellTest, ImportOfAnotherSchoolSaysSoBeforeEverythingElse)
{
    const auto school = WriteSchool();
    Shell shell = Start(kInteractive);
    ui_.WillPick(school);
    shell.RunImport();
    ui_.TakeCalls();

    WriteSchool({.schoolCode = "29000002", .schoolName = "IES Otro"});
    ui_.WillPick(school);
    shell.RunImport();
    const std::vector<std::string> calls = ui_.TakeCalls();
    ASSERT_EQ(calls.size(), 4u);
    EXPECT_THAT(calls[3], StartsWith("message: ATENCIÓN: las tablas que había eran del centro 41000001 (IES Ejemplo, "
                                     "2013) y ahora son del centro 29000002 (IES Otro, 2013). Si no era lo que quería, "
                                     "«Deshacer» (o pasarela-cli restore) vuelve a poner las del centro 41000001 (IES "
                                     "Ejemplo, 2013).\r\n\r\nProceso finalizado\r\n\r\nFilas frente a las tablas que "
                                     "había:\r\n"));
}

TEST_F(ShellTest, ErrorDuringAnImportIsShownAndTheWindowStaysOpen)
{
    ui_.WillPick(WriteSchool({.capacity = "12.5"}));
    Shell shell = Start(kBatchImport);

    shell.OnShow();

    EXPECT_THAT(ui_.TakeCalls(),
                ElementsAre("dialog", "busy on", "busy off",
                            AllOf(StartsWith("message: "),
                                  HasSubstr("'12.5' is not a valid integer value for field 'MAXALUM'"))));
    EXPECT_EQ(shell.TransformResult(), 0);
    EXPECT_EQ(shell.ExitStatus(), 1);

    // The user closes the window: Orlavi learns that nothing was transformed.
    shell.OnClose();
    EXPECT_EQ(SettingsText(), "[Transformadores]\r\nTransformado=0\r\n");
}

TEST_F(ShellTest, CompletionMessagePointsAtTheReportOfAlteredEntries)
{
    ui_.WillPick(WriteSchool({.teacher = "ARG"}));  // a repeated code gets another one
    Shell shell = Start(kInteractive);

    shell.RunImport();

    const auto report = workDir_ / "PASARELA-INFORME.TXT";
    EXPECT_THAT(ui_.TakeCalls(),
                ElementsAre("dialog", "busy on", "busy off",
                            "message: Proceso finalizado\r\n\r\n1 aviso (entradas omitidas o alteradas). "
                            "Informe completo en:\r\n" + DisplayPath(report)));
    EXPECT_THAT(test::ReadFileBytes(report), HasSubstr("PROFT | código repetido o largo: se usa otro"));
    EXPECT_EQ(shell.TransformResult(), 1);
}

TEST_F(ShellTest, ReportIsForNotepadAndTheOneBeforeItIsKept)
{
    Shell shell = Start(kInteractive);
    ui_.WillPick(WriteSchool({.teacher = "ARG"}));
    shell.RunImport();
    const auto report = workDir_ / "PASARELA-INFORME.TXT";
    std::filesystem::last_write_time(report, std::filesystem::file_time_type::clock::now() - std::chrono::hours(24));
    ui_.WillPick(WriteSchool({.teacher = "ARG"}));

    shell.RunImport();

    // Notepad reads UTF-8 reliably only after a byte order mark, and wants CR LF lines.
    EXPECT_THAT(test::ReadFileBytes(report), StartsWith("\xEF\xBB\xBFInforme de Pasarela\r\n"));
    std::vector<std::string> kept;
    for (const auto& item : std::filesystem::directory_iterator(workDir_))
        if (item.path().filename().string().starts_with("PASARELA-INFORME-"))
            kept.push_back(item.path().filename().string());
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_EQ(test::ReadFileBytes(workDir_ / kept[0]).substr(0, 3), "\xEF\xBB\xBF");
}

TEST_F(ShellTest, EveryRunReplacesTheReportWithOneHeadedByItsDateProgramFileAndOutcome)
{
    using namespace std::chrono;
    const auto moment = sys_days{2013y / March / 15} + 9h + 5min + 7s;
    settings_.now = [moment] { return moment; };
    const auto school = folder_ / "centro.xml";
    const auto report = workDir_ / "PASARELA-INFORME.TXT";
    const std::string shown = "<the message shown>";
    struct Case {
        const char* name;
        std::function<void()> prepare;
        bool exportJob;
        std::string job;
        std::string outcome;  // `shown` for the message the window showed
        std::string body;     // what follows the heading
    };
    // One window, run after run: each report is the last run's, finished or failed.
    const Case cases[] = {
        {"first import", [&] { WriteSchool(); }, false, "importación (de DASTENO a Orlavi)", "Proceso finalizado",
         "\r\nPROFT: 2 filas (no había tabla antes)\r\n"},
        {"import of a file with another teacher", [&] { WriteSchool({.teacher = "NEW"}); }, false,
         "importación (de DASTENO a Orlavi)", "Proceso finalizado",
         "\r\nPROFT: 2 filas (frente a la tabla que había: 1 nueva, 1 que falta, 0 cambiadas)\r\n"},
        {"export", [&] { WriteSolution(); }, true, "exportación (de Orlavi a DASTENO)",
         "Proceso finalizado. Guardado en " + DisplayPath(folder_ / "ResultadoOrlaviscentro.xml"),
         "\r\ndsolucion: 1 fila\r\n"},
        {"import that fails", [&] { WriteSchool({.capacity = "12.5"}); }, false,
         "importación (de DASTENO a Orlavi)", "Error: " + shown, ""},
    };
    Shell shell = Start(kInteractive);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        c.prepare();
        ui_.WillPick(school);
        if (c.exportJob)
            shell.RunExport();
        else
            shell.RunImport();
        const std::string message = ui_.TakeCalls().back().substr(std::string("message: ").size());

        std::string outcome = c.outcome;
        if (const auto at = outcome.find(shown); at != std::string::npos)
            outcome.replace(at, shown.size(), message);
        const std::string text = test::ReadFileBytes(report);
        EXPECT_THAT(text, StartsWith("\xEF\xBB\xBFInforme de Pasarela\r\n"
                                     "Fecha y hora: " + UserDateTimeText(moment) + "\r\n"
                                     "Programa: Pasarela " PASARELA_VERSION "\r\n"
                                     "Trabajo: " + c.job + "\r\n"
                                     "Archivo: " + DisplayPath(school) + "\r\n"
                                     "Carpeta de trabajo: " + DisplayPath(workDir_) + "\r\n"
                                     "Resultado: " + outcome + "\r\n"));
        if (c.body.empty())
            EXPECT_THAT(text, EndsWith("Resultado: " + outcome + "\r\n"));
        else
            EXPECT_THAT(text, HasSubstr("\r\n\r\nResumen\r\n"));
        EXPECT_THAT(text, HasSubstr(c.body));
    }
    // The export's date is the report's.
    EXPECT_THAT(test::ReadFileBytes(folder_ / "ResultadoOrlaviscentro.xml"),
                HasSubstr("fecha_exportacion=\"" + UserDateTimeText(moment) + "\""));
}

TEST_F(ShellTest, ReportThatCannotBeWrittenIsAWarningBesideTheCompletion)
{
    // Another program holds the report open: the tables are replaced all the same, and
    // Orlavi's batch run learns that the job was done.
    const auto report = workDir_ / "PASARELA-INFORME.TXT";
    test::WriteFileBytes(report, "informe anterior");
    File heldByAnEditor = File::Open(report, File::Mode::Read);
    ui_.WillPick(WriteSchool({.teacher = "ARG"}));
    Shell shell = Start(kBatchImport);

    shell.OnShow();
    shell.OnClose();

    EXPECT_THAT(ui_.TakeMessageKinds(), ElementsAre(MessageKind::Warning));
    EXPECT_THAT(ui_.TakeCalls(),
                ElementsAre("dialog", "busy on", "busy off",
                            "message: Proceso finalizado\r\n\r\n1 aviso (entradas omitidas o alteradas). No se pudo "
                            "escribir el informe:\r\nEl archivo '" + DisplayPath(report) +
                                "' está en uso por otro programa",
                            "close"));
    EXPECT_EQ(shell.TransformResult(), 1);
    EXPECT_EQ(shell.ExitStatus(), 0);
    EXPECT_EQ(SettingsText(), "[Transformadores]\r\nTransformado=1\r\n");
    EXPECT_TRUE(std::filesystem::exists(workDir_ / "PROFT.DBF"));
    heldByAnEditor.Close();  // Windows lets nobody read it before
    EXPECT_EQ(test::ReadFileBytes(report), "informe anterior");
}

TEST_F(ShellTest, BatchModeWithAnUnrecognisedWordStartsNothingAndLeaves0)
{
    Shell shell = Start({"ayuda", "1"});

    shell.OnShow();
    shell.OnClose();

    EXPECT_THAT(ui_.TakeCalls(), IsEmpty());
    EXPECT_EQ(SettingsText(), "[Transformadores]\r\nTransformado=0\r\n");
    EXPECT_EQ(shell.ExitStatus(), 1);
}

TEST_F(ShellTest, RunStartedByTheUserInBatchModeStillClosesTheWindow)
{
    Shell shell = Start({"ayuda", "1"});
    ui_.WillPick(WriteSchool());

    shell.RunImport();

    EXPECT_THAT(ui_.TakeCalls(), ElementsAre("dialog", "busy on", "busy off", "message: Proceso finalizado", "close"));
    EXPECT_EQ(shell.TransformResult(), 1);
}

TEST_F(ShellTest, SettingsFileThatCannotBeWrittenIsShownNamingTheFile)
{
    settings_.settingsFile = folder_ / "falta" / "Orlavi.ini";
    ui_.WillPick(kCancelled);
    Shell shell = Start(kBatchImport);
    shell.OnShow();
    ui_.TakeCalls();
    ui_.TakeMessageKinds();

    shell.OnClose();

    EXPECT_THAT(ui_.TakeCalls(), ElementsAre("message: No se pudo guardar el resultado en '" +
                                             DisplayPath(settings_.settingsFile) + "': No existe la carpeta '" +
                                             DisplayPath(folder_ / "falta") + "'"));
    EXPECT_THAT(ui_.TakeMessageKinds(), ElementsAre(MessageKind::Error));
    EXPECT_FALSE(std::filesystem::exists(folder_ / "falta"));
    EXPECT_EQ(shell.ExitStatus(), 2);  // the outcome for scripts stands even when Orlavi cannot be told
}

TEST_F(ShellTest, JobRunsWhileTheWindowGoesOnAndEndsOnTheWindowsThread)
{
    ui_.WillPick(WriteSchool());
    ui_.HoldNextJob();
    Shell shell = Start(kBatchImport);

    shell.OnShow();  // returns to the window's message loop while the job works

    EXPECT_THAT(ui_.TakeCalls(), ElementsAre("dialog", "busy on"));
    EXPECT_FALSE(std::filesystem::exists(workDir_ / "PROFT.DBF"));
    EXPECT_EQ(shell.TransformResult(), 0);

    ui_.FinishHeldJob();

    EXPECT_THAT(ui_.TakeCalls(), ElementsAre("busy off", "message: Proceso finalizado", "close"));
    EXPECT_EQ(shell.TransformResult(), 1);
    EXPECT_EQ(TeacherCodes(), (std::vector<std::string>{"ARG", "LMM"}));
    const std::vector<double> shares = ui_.TakeProgress();
    EXPECT_TRUE(std::is_sorted(shares.begin(), shares.end()));
    EXPECT_THAT(shares, ::testing::Each(AllOf(::testing::Ge(0.0), ::testing::Le(1.0))));
}

TEST_F(ShellTest, MessagesCarryTheIconOfWhatTheyTell)
{
    using enum MessageKind;
    struct Case {
        const char* name;
        const std::vector<std::string>& parameters;
        std::optional<test::SmallSchoolValues> school;  // none: the dialog is cancelled
        std::vector<MessageKind> expected;
    };
    const Case cases[] = {
        {"finished import", kBatchImport, test::SmallSchoolValues{}, {Information}},
        {"import with a notice", kBatchImport, test::SmallSchoolValues{.teacher = "ARG"}, {Warning}},
        {"failed import", kBatchImport, test::SmallSchoolValues{.capacity = "12.5"}, {Error}},
        {"import without its file", kBatchImport, std::nullopt, {Error}},
        {"export's notice, then no SOLUC", kBatchExport, test::SmallSchoolValues{}, {Information, Error}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ui_.WillPick(c.school ? std::optional(WriteSchool(*c.school)) : kCancelled);
        Shell shell = Start(c.parameters);

        shell.OnShow();

        EXPECT_EQ(ui_.TakeMessageKinds(), c.expected) << testing::PrintToString(ui_.TakeCalls());
        ui_.TakeCalls();
    }
}

TEST_F(ShellTest, CountsInMessagesHaveTheirThousandsSetApart)
{
    // 1 001 teachers with one code: all but the first get another code, each with a notice.
    const auto school = folder_ / "centro.xml";
    test::WriteFileBytes(school, test::SectionWithCodes("profesores", "profesor", "idprofesor",
                                                        std::vector<std::string>(1001, "P")));
    ui_.WillPick(school);
    Shell shell = Start(kInteractive);

    shell.RunImport();

    EXPECT_THAT(ui_.TakeCalls(), ::testing::Contains(StartsWith("message: Proceso finalizado\r\n\r\n1.000 avisos (")));
}

// The window's Deshacer after imports of two files: each import keeps what it replaced.
class ShellUndoTest : public ShellTest {
protected:
    // Imports `name`, a SmallSchool with `teacher` as its second teacher, from the window.
    void Import(Shell& shell, const std::string& name, const std::string& teacher)
    {
        const auto file = folder_ / name;
        test::WriteFileBytes(file, test::SmallSchool({.teacher = teacher}));
        ui_.WillPick(file);
        shell.RunImport();
        ASSERT_THAT(ui_.TakeCalls(), ::testing::Contains(StartsWith("message: Proceso finalizado")));
        ui_.TakeMessageKinds();
    }

    // The bytes of the six tables, to tell one set from another.
    std::vector<std::string> Tables() const
    {
        std::vector<std::string> bytes;
        for (const ImportedTable& table : kImportedTables)
            bytes.push_back(test::ReadFileBytes(workDir_ / (std::string(table.name) + ".DBF")));
        return bytes;
    }

    std::string Report() const { return test::ReadFileBytes(workDir_ / "PASARELA-INFORME.TXT"); }
};

TEST_F(ShellUndoTest, PutsBackTheNewestSetByteForByteAndCanBeUndoneInTurn)
{
    Shell shell = Start(kInteractive);
    shell.OnShow();
    EXPECT_EQ(ui_.UndoButton(), "greyed");
    Import(shell, "a.xml", "LMM");
    EXPECT_EQ(ui_.UndoButton(), "greyed");  // the first import replaced nothing
    const auto first = Tables();
    Import(shell, "b.xml", "NEW");
    EXPECT_EQ(ui_.UndoButton(), "enabled");
    const auto second = Tables();

    ui_.WillChooseKeptSet(-1);  // Enter on the list as it opens
    ui_.WillConfirm(true);
    shell.RunUndo();

    EXPECT_THAT(ui_.TakeListedSets(), ElementsAre("1:a.xml"));
    EXPECT_THAT(ui_.TakeCalls(),
                ElementsAre("kept sets, 1 chosen",
                            AllOf(StartsWith("confirm: ¿Volver a poner en " + DisplayPath(workDir_) +
                                             " estas tablas guardadas?\r\n\r\nImportadas: "),
                                  HasSubstr("\r\nArchivo: a.xml\r\nCentro: 41000001 (IES Ejemplo, 2013)\r\n"),
                                  HasSubstr("PROFT 2"),
                                  EndsWith("\r\n\r\nLas tablas que hay ahora se guardarán antes, así que también "
                                           "esto se podrá deshacer.")),
                            "busy on", "busy off",
                            // What is now in the folder: the first file's tables.
                            AllOf(StartsWith("message: "), HasSubstr("Proceso finalizado\r\n\r\n"),
                                  HasSubstr("a.xml"), HasSubstr("41000001 (IES Ejemplo, 2013)"),
                                  EndsWith("Las tablas que había antes se han guardado: para volver a ellas, "
                                           "pulse «Deshacer…»."))));
    EXPECT_EQ(Tables(), first);
    EXPECT_EQ(TeacherCodes(), (std::vector<std::string>{"ARG", "LMM"}));
    EXPECT_THAT(Report(), HasSubstr("Trabajo: " + std::string(kRestoreJobTitle) + "\r\n"));
    EXPECT_THAT(Report(), HasSubstr("Resultado: Proceso finalizado\r\n"));
    EXPECT_EQ(ui_.UndoButton(), "enabled");
    EXPECT_EQ(shell.ChosenFile(), folder_ / "b.xml");  // the file dialog still offers the last file chosen

    // Deshacer again: what the first undo replaced is the newest set now.
    ui_.WillChooseKeptSet(-1);
    ui_.WillConfirm(true);
    shell.RunUndo();

    EXPECT_THAT(ui_.TakeListedSets(), ElementsAre(StartsWith("1:b.xml 2:")));
    EXPECT_EQ(Tables(), second);
    EXPECT_EQ(TeacherCodes(), (std::vector<std::string>{"ARG", "NEW"}));
}

TEST_F(ShellUndoTest, CancelOrNoChangesNothing)
{
    Shell shell = Start(kInteractive);
    Import(shell, "a.xml", "LMM");
    Import(shell, "b.xml", "NEW");
    Import(shell, "c.xml", "OTR");
    const auto tables = Tables();
    const auto report = Report();
    struct Case {
        const char* name;
        std::vector<std::optional<int>> choices;
        std::vector<bool> answers;
        std::vector<std::string> calls;
    };
    const Case cases[] = {
        {"Cancelar on the list", {std::nullopt}, {}, {"kept sets, 1 chosen"}},
        {"No goes back to the list with the same set chosen, then Escape",
         {2, std::nullopt},
         {false},
         {"kept sets, 1 chosen", "confirm", "kept sets, 2 chosen"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        for (const auto& choice : c.choices)
            ui_.WillChooseKeptSet(choice);
        for (const bool answer : c.answers)
            ui_.WillConfirm(answer);

        shell.RunUndo();

        std::vector<std::string> calls = ui_.TakeCalls();
        for (std::string& call : calls)
            if (call.starts_with("confirm: "))
                call = "confirm";
        EXPECT_EQ(calls, c.calls);
        EXPECT_THAT(ui_.TakeListedSets(), ::testing::Each("1:b.xml 2:a.xml"));
        EXPECT_EQ(Tables(), tables);
        EXPECT_EQ(Report(), report);
        EXPECT_EQ(ui_.UndoButton(), "enabled");
    }
}

TEST_F(ShellUndoTest, NothingKeptIsSaidAndGreysDeshacer)
{
    Shell shell = Start(kInteractive);
    ui_.SetUndoAvailable(true);  // as a button left enabled by a folder emptied since

    shell.RunUndo();

    EXPECT_THAT(ui_.TakeCalls(), ElementsAre("message: No hay tablas guardadas que volver a poner: ninguna "
                                             "importación ha sustituido todavía las tablas de " +
                                             DisplayPath(workDir_) + "."));
    EXPECT_THAT(ui_.TakeMessageKinds(), ElementsAre(MessageKind::Information));
    EXPECT_EQ(ui_.UndoButton(), "greyed");
    EXPECT_TRUE(std::filesystem::is_empty(workDir_));
}

TEST_F(ShellUndoTest, SetThatCannotBePutBackIsShownOnceAndReported)
{
    Shell shell = Start(kInteractive);
    Import(shell, "a.xml", "LMM");
    Import(shell, "b.xml", "NEW");
    const auto tables = Tables();
    const std::vector<KeptGeneration> kept = ListKeptGenerations(workDir_);
    ASSERT_EQ(kept.size(), 1u);
    std::filesystem::remove(kept[0].folder / "PROFT.DBF");
    ui_.WillChooseKeptSet(-1);
    ui_.WillConfirm(true);

    shell.RunUndo();

    EXPECT_THAT(ui_.TakeCalls(), ElementsAre("kept sets, 1 chosen", StartsWith("confirm: "), "busy on", "busy off",
                                             AllOf(StartsWith("message: "), HasSubstr("PROFT.DBF"))));
    EXPECT_THAT(ui_.TakeMessageKinds(), ElementsAre(MessageKind::Error));
    EXPECT_EQ(Tables(), tables);
    EXPECT_THAT(Report(), AllOf(HasSubstr("Trabajo: " + std::string(kRestoreJobTitle) + "\r\n"
                                          "Archivo: " + DisplayPath(kept[0].folder) + "\r\n"),
                                HasSubstr("Resultado: Error: ")));
    EXPECT_EQ(shell.TransformResult(), 1);  // the imports' outcome stands
}

TEST_F(ShellUndoTest, BatchModeOffersNoUndo)
{
    for (const char* name : {"a.xml", "b.xml"}) {
        const auto file = folder_ / name;
        test::WriteFileBytes(file, test::SmallSchool());
        pasarela::RunImport(
            {.xmlFile = file, .workingDir = workDir_, .checkOnly = false, .decimalSeparator = '.', .progress = {}});
    }
    const auto tables = Tables();
    Shell shell = Start({"ayuda", "1"});

    shell.RunUndo();

    EXPECT_THAT(ui_.TakeCalls(), IsEmpty());
    EXPECT_EQ(Tables(), tables);
    EXPECT_EQ(shell.TransformResult(), 0);
}

}  // namespace
}  // namespace pasarela
