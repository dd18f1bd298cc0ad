#pragma once

#include <array>
#include <cstddef>
#include <filesystem>
#include <initializer_list>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <unordered_map>
#include <vector>

#include "dbf/dbf_table.h"
#include "dbf/text_index.h"
#include "import/table_registry.h"
#include "workfolder/run_report.h"
#include "xml/xml_reader.h"

namespace pasarela {

// The code and name that the file gives a subject, teacher or group.
struct NamedInFile {
    std::string_view code;
    std::string_view name;
};

// Codes and names by DASTENO identifier (trimmed, as the file gives it), the first entry
// of each. A file of a whole region names hundreds of thousands: they are kept packed,
// one text after another, rather than as a string each.
class NamesById {
public:
    void Remember(std::string_view id, std::string_view code, std::string_view name);
    // Views into this holder, valid until the next Remember.
    std::optional<NamedInFile> Find(std::string_view id) const;
    bool Contains(std::string_view id) const { return index_.Find(id).has_value(); }

private:
    TextIndex index_;    // identifier -> where its code starts in texts_
    std::string texts_;  // code, NUL, name, NUL, ... (an XML file's text holds no NUL)
};

// The subjects, teachers and groups of the file by identifier, whether or not they got a
// row: an assignment's notice names what it links by code and name, and tells an
// identifier the file does not have from one whose row is missing.
struct NamesInFile {
    NamesById subjects;
    NamesById teachers;
    NamesById groups;
};

// Some fields of the rows a step has posted, found by the text of a key field as the
// finished table gives it back: the assignments look their subject, group and teacher up
// here while the file is still being read. The first row with a key stays, as a search of
// the table in stored order finds it.
class PostedRows {
public:
    PostedRows(std::string_view keyField, std::initializer_list<std::string_view> fields);

    // The row being appended to `table`, once its fields are set and before it is posted.
    void Note(const DbfTable& table);
    // The fields of the first row whose key is exactly `key`, in the order asked for;
    // views valid until the next Note or Find.
    std::optional<std::span<const std::string_view>> Find(std::string_view key) const;

private:
    std::string keyField_;
    std::vector<std::string> fieldNames_;
    std::vector<std::size_t> fields_;  // resolved in the first table noted
    std::size_t keyIndex_ = 0;
    TextIndex index_;                 // key -> row
    std::vector<std::uint32_t> ends_;  // where each field of each row ends in texts_
    std::string texts_;
    std::string buffer_;
    mutable std::vector<std::string_view> found_;
};

// The tables the assignments link to, as their rows are posted.
struct LinkedRows {
    PostedRows subjects{"IDASIG", {"COD", "CODTAREA"}};
    PostedRows groups{"IDGRUPO", {"ABREV", "TURNO", "NIVEL", "CURSO", "GRUPO", "IDCURSO"}};
    PostedRows teachers{"IDPROF", {"ABREV"}};
};

// What the table steps of one import share: the folder the tables are built in, the
// report, and what the steps note for the assignments.
struct ImportContext {
    std::filesystem::path tableDir;
    RunReport& report;
    char decimalSeparator = '.';
    // Shared by every step of the run: the assignments step reads what the others noted.
    NamesInFile& names;
    LinkedRows& rows;
};

// One DASTENO entry being read: its attributes come trimmed, an absent one as empty text.
class Entry {
public:
    Entry(std::string_view element, std::size_t number, std::span<const XmlAttributeRef> attributes)
        : element_(element), number_(number), attributes_(attributes)
    {
    }

    // A view into what the reader handed on, valid during the call that gives the entry.
    std::string_view Read(std::string_view attribute) const;
    // "profesor nº 3 (codigo='MAT', idprofesor='503')": how an error names the entry.
    std::string Label(std::initializer_list<std::string_view> keys) const;
    // Its place in its section, from 1, in document order.
    std::size_t Number() const { return number_; }

    std::string_view Element() const { return element_; }
    std::span<const XmlAttributeRef> Attributes() const { return attributes_; }

private:
    std::string_view element_;
    std::size_t number_;
    std::span<const XmlAttributeRef> attributes_;
};

// An entry kept after the reader has moved on.
class HeldEntry {
public:
    explicit HeldEntry(const Entry& entry);
    Entry View() const { return Entry(element_, number_, refs_); }

private:
    std::string element_;
    std::size_t number_;
    std::vector<std::string> texts_;  // name, value, name, value...
    std::vector<XmlAttributeRef> refs_;
};

// Entries written aside in the staging folder, compactly, to be taken again in the same
// order once the file has been read: what a step can only do once the tables it needs are
// complete, without holding the entries in memory.
class EntrySpool {
public:
    explicit EntrySpool(std::filesystem::path path);
    EntrySpool(const EntrySpool&) = delete;
    EntrySpool& operator=(const EntrySpool&) = delete;
    ~EntrySpool();

    void Append(const Entry& entry);
    std::size_t Count() const { return count_; }
    // Hands every entry back, in the order appended.
    template <typename Use>
    void Replay(Use use)
    {
        Rewind();
        while (NextEntry())
            use(Entry(element_, number_, refs_));
    }

private:
    void Rewind();
    bool NextEntry();
    void FlushWrites();
    bool Fill(std::size_t need);

    std::filesystem::path path_;
    File file_;
    std::string buffer_;
    std::uint64_t written_ = 0;
    std::size_t count_ = 0;
    // Reading back.
    std::uint64_t readAt_ = 0;
    std::size_t bufferPos_ = 0;
    std::string element_;
    std::size_t number_ = 0;
    std::vector<XmlAttributeRef> refs_;
};

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

}  // namespace pasarela
