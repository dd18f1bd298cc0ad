#include "import/import_run.h"

#include <chrono>
#include <exception>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "import/import_context.h"
#include "import/kept_tables.h"
#include "import/table_changes.h"
#include "import/table_registry.h"
#include "import/table_steps.h"
#include "os/atomic_file.h"
#include "os/date_stamp.h"
#include "os/error.h"
#include "os/file.h"
#include "text/text.h"
#include "workfolder/file_set.h"
#include "workfolder/school_record.h"
#include "workfolder/staging_lock.h"
#include "xml/xml_reader.h"

namespace pasarela {

namespace {

constexpr char kImportJob[] = "importación";

// The file as the record names it: whole, so it says where even when read from elsewhere.
std::filesystem::path WholePath(const std::filesystem::path& path)
{
    std::error_code ec;
    std::filesystem::path whole = std::filesystem::absolute(path, ec);
    return ec ? path : whole;
}

// A file without any of them has nothing to import: taken as it is, it would empty all six
// tables. The export's own result (ResultadoOrlavis...) is such a file, and it sits beside
// the school's in the same folder, so it is the likely mistake and is named.
Error NoSchoolSectionsError(const std::filesystem::path& path, bool hasTimetable)
{
    std::string message = "El archivo '" + DisplayPath(path) +
                          "' no tiene ninguna de las secciones con los datos del centro (materias, profesores, "
                          "aulas, grupos, franjashorarias, asignaturas): no hay nada que importar.";
    if (hasTimetable)
        message += " Tiene un horario (solucion_horario): parece el resultado de una exportación "
                   "(ResultadoOrlavis...), no el archivo exportado por DASTENO.";
    return Error(message + " No se ha cambiado ninguna tabla");
}

// A step as the run drives it: the section and element names of its path, the entries
// counted so far, and the first that waits for a second before the step gets either.
struct StepSlot {
    StepSlot(const std::filesystem::path& tableDir, char decimalSeparator, NamesInFile& names, LinkedRows& rows)
        : context{tableDir, report, decimalSeparator, names, rows}
    {
    }

    RunReport report;  // the step's own notes, joined in the order of the steps at the end
    ImportContext context;
    std::unique_ptr<SectionStep> step;
    std::string section;
    std::string element;
    std::size_t count = 0;
    std::optional<HeldEntry> first;
    std::exception_ptr failure;
};

// Hands the entries of each step's path to it as the file is read. A step that fails
// keeps its error and takes no more entries; as every later step's error would lose to
// it, those take none either. The earlier steps go on, since one of them may still fail:
// between errors in the content, the order of the steps and then the order of the file
// decide, as when each step read the whole file in turn.
class EntryDispatcher final : public XmlElementHandler {
public:
    explicit EntryDispatcher(std::vector<std::unique_ptr<StepSlot>>& slots) : slots_(slots) {}

    void StartElement(std::string_view name, std::size_t depth, std::span<const XmlAttributeRef> attributes) override
    {
        if (depth == 1) {
            if (name != "centro")
                wrongRoot_ = std::string(name);
            for (const XmlAttributeRef& attribute : attributes) {
                if (NameIs(attribute.name, "codigo_interno"))
                    school_.code = Trim(attribute.value);
                else if (NameIs(attribute.name, "nombre"))
                    school_.name = Trim(attribute.value);
                else if (NameIs(attribute.name, "curso"))
                    school_.year = Trim(attribute.value);
            }
            return;
        }
        if (wrongRoot_ || depth > 3)
            return;
        if (depth == 2) {
            section_.assign(name);
            // The sections the tables are built from are those of the steps' paths.
            for (const std::unique_ptr<StepSlot>& slot : slots_)
                sawSection_ = sawSection_ || name == slot->section;
            sawTimetable_ = sawTimetable_ || name == "solucion_horario";
            return;
        }
        for (std::size_t i = 0; i < slots_.size() && i < failedStep_; ++i) {
            StepSlot& slot = *slots_[i];
            if (slot.element == name && slot.section == section_)
                Deliver(i, Entry(name, ++slot.count, attributes));
        }
    }

    void EndElement(std::size_t) override {}

    // The root's name when it is not `centro`.
    const std::optional<std::string>& WrongRoot() const { return wrongRoot_; }
    // Whether the root holds any of the sections the tables are built from.
    bool SawSchoolSection() const { return sawSection_; }
    bool SawTimetable() const { return sawTimetable_; }
    // The school the root names.
    const SchoolIdentity& School() const { return school_; }

private:
    void Deliver(std::size_t index, const Entry& entry)
    {
        StepSlot& slot = *slots_[index];
        try {
            slot.step->Remember(entry);
            if (entry.Number() == 1) {
                slot.first.emplace(entry);
                return;
            }
            if (entry.Number() == 2) {
                slot.step->Add(slot.first->View());
                slot.first.reset();
            }
            slot.step->Add(entry);
        } catch (const Error&) {
            slot.failure = std::current_exception();
            failedStep_ = index;
        }
    }

    std::vector<std::unique_ptr<StepSlot>>& slots_;
    std::size_t failedStep_ = static_cast<std::size_t>(-1);
    std::optional<std::string> wrongRoot_;
    std::string section_;
    bool sawSection_ = false;
    bool sawTimetable_ = false;
    SchoolIdentity school_;
};

// "/centro/profesores/profesor" gives "profesores" and "profesor".
void SplitEntryPath(std::string_view path, std::string& section, std::string& element)
{
    const std::size_t last = path.rfind('/');
    const std::size_t before = path.rfind('/', last - 1);
    section = std::string(path.substr(before + 1, last - before - 1));
    element = std::string(path.substr(last + 1));
}

}  // namespace

RunReport RunImport(const ImportOptions& options)
{
    std::error_code ec;
    if (options.xmlFile.empty() || !std::filesystem::is_regular_file(options.xmlFile, ec))
        throw MissingInputError("No existe archivo");
    if (!std::filesystem::is_directory(options.workingDir, ec))
        throw Error("No existe la carpeta de trabajo de Orlavi '" + DisplayPath(options.workingDir) + "'");

    StagingLock lock = StagingLock::Take(options.workingDir, StagingLock::Use::Import, JournalFileNames());
    const std::filesystem::path& staging = lock.Folder();

    RunReport report;
    if (lock.FinishedPendingCommit())
        NoteFinishedPendingCommit(report, staging);
    NoteCleanupLeft(report, lock.RecoveryWarnings());
    // On any failure the lock's release clears the staging folder, unless a commit that
    // could not put the old tables back left there what the next run needs to finish it.
    NamesInFile namesInFile;
    LinkedRows linkedRows;
    std::vector<std::unique_ptr<StepSlot>> slots;
    for (const ImportedTable& table : kImportedTables) {
        auto slot = std::make_unique<StepSlot>(staging, options.decimalSeparator, namesInFile, linkedRows);
        slot->step = table.step(slot->context, table);
        SplitEntryPath(slot->step->Path(), slot->section, slot->element);
        slots.push_back(std::move(slot));
    }

    // The file is read once, and the tables are built as it is read; nothing replaces
    // Orlavi's tables unless the whole file is well-formed XML and every step succeeded.
    EntryDispatcher dispatcher(slots);
    ReadXmlFile(options.xmlFile, dispatcher, {.progress = options.progress});
    if (dispatcher.WrongRoot())
        throw NotSchoolFileError(options.xmlFile, *dispatcher.WrongRoot());
    if (!dispatcher.SawSchoolSection())
        throw NoSchoolSectionsError(options.xmlFile, dispatcher.SawTimetable());
    for (std::size_t i = 0; i < slots.size(); ++i) {
        StepSlot& slot = *slots[i];
        if (slot.failure)
            std::rethrow_exception(slot.failure);
        slot.step->Finish(slot.count);
        // A finished step's code sets are no use to the later ones, whose own may be as large.
        slot.step.reset();
        report.AppendNotices(slot.report);
        const std::string name(kImportedTables[i].name);
        report.SetRows(name, slot.report.Rows(name));
        slot.report = RunReport();
    }
    // What the steps held for the whole file is not needed by the rest of the run.
    slots.clear();
    namesInFile = NamesInFile();
    linkedRows = LinkedRows();
    // The tables say which school they are, so a later export or import can tell.
    const SchoolRecord record{dispatcher.School(), std::chrono::system_clock::now(), WholePath(options.xmlFile)};
    {
        AtomicFile out(staging / kSchoolRecordName);
        out.Write(SchoolRecordText(record));
        out.Commit();
    }
    std::vector<std::string> files = TableFileNames(".DBF");
    files.push_back(kSchoolRecordName);
    // Taken as the steps leave their tables: the commit publishes these very files.
    std::vector<StagedFile> staged = RecordStagedFiles(staging, files);

    if (const std::string headline =
            SchoolChangeHeadline(RecordedSchool(options.workingDir), record.school, options.checkOnly);
        !headline.empty())
        report.AddHeadline(headline);

    // Before the commit, while the earlier tables are still there (a check compares with
    // the tables it leaves in place).
    CompareWithEarlierTables(options.workingDir, staging, report);

    if (!options.checkOnly) {
        FileSetChange change{std::move(staged), StaleIndexNames(),
                             DescribeTablesReplaced(options.workingDir, kImportJob)};
        const FinishedChange end = CommitFileSet(staging, options.workingDir, change);
        if (!end.keepFailure.empty())
            report.AddHeadline(end.keepFailure);
        NoteCleanupLeft(report, end.warnings);
        report.SetKeptSet(end.keptSet);
        report.SetFolderTables({record.school, UserDateTimeText(record.importedAt), record.file});
    }
    lock.Release();
    return report;
}

}  // namespace pasarela
