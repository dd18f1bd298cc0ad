#pragma once

#include <array>
#include <cstddef>
#include <filesystem>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "dbf/dbf_table.h"
#include "dbf/text_index.h"
#include "import/table_registry.h"
#include "workfolder/run_report.h"
#include "xml/xml_reader.h"

namespace pasarela {

// What a table step works with: the folder the tables are built in, the report of its
// own notes, and, for the subjects step, the two sets its passes carry from one to the
// other.
struct ImportContext {
    std::filesystem::path tableDir;
    RunReport& report;
    char decimalSeparator = '.';
    // Orlavi codes given to subjects and activities so far, as COD stores them
    // (case-sensitive).
    TextIndex usedCodes;
    // Names the subject code rule has been applied to so far (case-sensitive).
    TextIndex usedNames;
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
    // "profesor nº 3 (codigo='MAT', idprofesor='503')": how the user finds the entry.
    std::string Label(std::initializer_list<std::string_view> keys) const;

    std::string_view Element() const { return element_; }
    // 1-based place of the entry among those of its path, in document order.
    std::size_t Number() const { return number_; }
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
    // One entry. Only once the path has two entries or more: a section with fewer than two
    // gives an empty table (DASTENO's own export never has a section of one entry;
    // Orlavi's tables were always built this way).
    virtual void Add(const Entry& entry) = 0;
    // After the whole file, with the number of entries the path had: what is left to
    // write, the row count in the report, and the table closed.
    virtual void Finish(std::size_t count) = 0;
};

// Creates the table in the context's folder with its fields and opens it for writing.
DbfTable CreateStepTable(const ImportContext& context, const ImportedTable& table);

// What cutting a value to its field's width means to the user.
enum class Cut {
    Text,        // a name or description loses its end
    Identifier,  // a DASTENO identifier that lookups by identifier will never match
};

// Stores a text and notes in the report when it was cut to the field's width or had
// characters that Windows-1252 cannot hold.
void StoreText(ImportContext& context, DbfTable& table, std::size_t field, std::string_view text, const Entry& entry,
               std::initializer_list<std::string_view> keys, Cut cut = Cut::Text);

// Notes, once per section, that a single entry was left out for that reason.
void NoteSingleEntry(ImportContext& context, std::string_view table, std::string_view element, std::size_t count);

}  // namespace pasarela
