#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <type_traits>

#include "dbf/dbf_table.h"
#include "import/entry.h"
#include "import/import_context.h"
#include "orlavi/orlavi_tables.h"

namespace pasarela {

// A table step: it builds one table from the entries of one path, which the run hands it
// in document order as the file is read.
class SectionStep {
public:
    virtual ~SectionStep() = default;
    // The absolute path of its entries ("/centro/profesores/profesor").
    virtual std::string_view Path() const = 0;
    // Every entry, as soon as it is read, whatever the size of its section: what the step
    // notes of entries that may get no row.
    virtual void Remember(const Entry&) {}
    // One entry to write. Only once the path has two entries or more (SectionIsWritten).
    virtual void Add(const Entry& entry) = 0;
    // After the whole file, with the number of entries the path had: what is left to
    // write, the row count in the report, and the table closed.
    virtual void Finish(std::size_t count) = 0;
};

// Creates the table in the context's folder with its fields and opens it for writing.
DbfTable CreateStepTable(const ImportContext& context, const ImportedTable& table);

// How a notice names the entry it concerns, in the school's words; worked out only when a
// notice is written, since storing a text is done millions of times and noted rarely.
class EntryLabel {
public:
    template <class Describe>
        requires(!std::is_same_v<Describe, EntryLabel> && std::is_invocable_r_v<std::string, const Describe&>)
    EntryLabel(const Describe& describe)  // implicit: every call site hands a lambda
        : describe_(&describe), call_([](const void* d) { return (*static_cast<const Describe*>(d))(); })
    {
    }

    std::string operator()() const { return call_(describe_); }

private:
    const void* describe_;
    std::string (*call_)(const void*);
};

// "profesor nº 3: MAT «Eva Sanz Pons» (identificador 503)": an entry of a section as the
// school knows it; an empty code, name or identifier is left out.
std::string NoticeLabel(std::string_view kind, std::size_t number, std::string_view code, std::string_view name,
                        std::string_view id);

// What a value that does not fit its field means to the user.
enum class Cut {
    Text,        // a name or description loses its end
    Key,         // a DASTENO identifier the assignments look their subject, teacher or group up by
    Identifier,  // another DASTENO identifier, kept as stored (and so given back by the export)
};

// Stores a text and notes in the report when it was cut to the field's width or had
// characters that Windows-1252 cannot hold, saying what that costs.
void StoreText(ImportContext& context, DbfTable& table, std::size_t field, std::string_view text,
               const EntryLabel& label, Cut cut = Cut::Text);

// A section with fewer than two entries gives an empty table (DASTENO's own export
// never has a section of one entry; Orlavi's tables were always built this way).
inline bool SectionIsWritten(std::size_t count) { return count >= 2; }

// Notes, once per section, that a single entry was left out for that reason; `kind` names
// the entry in the school's words ("profesor").
void NoteSingleEntry(ImportContext& context, std::string_view table, std::string_view kind, std::size_t count);

// What every step holds: the run's context, its registry row and the table it builds.
class TableBuildingStep : public SectionStep {
protected:
    TableBuildingStep(ImportContext& context, const ImportedTable& imported)
        : context_(context), imported_(imported), table_(CreateStepTable(context, imported))
    {
    }

    // Ends a table whose rows were written as its entries came: notes a section of one
    // entry (`kind` names its entries), counts the rows and closes the table.
    void FinishRows(std::size_t count, std::string_view kind)
    {
        NoteSingleEntry(context_, imported_.name, kind, count);
        context_.report.SetRows(std::string(imported_.name), table_.RecordCount());
        table_.Close();
    }

    ImportContext& context_;
    const ImportedTable& imported_;
    DbfTable table_;
};

}  // namespace pasarela
