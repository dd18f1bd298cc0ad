#pragma once

#include <array>
#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>

#include "dbf/dbf_table.h"
#include "dbf/text_index.h"
#include "import/table_registry.h"
#include "workfolder/run_report.h"
#include "xml/xml_document.h"

namespace pasarela {

// What the table steps of one import share: the loaded file, the folder the tables are
// built in, the report, and the two sets the subjects steps carry from one to the other.
struct ImportContext {
    const XmlDocument& document;
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
    Entry(XmlElement element, std::size_t number)
        : element_(element), number_(number), count_(element.Attributes(attributes_))
    {
    }

    // A view into the document, valid while it lives unchanged.
    std::string_view Read(std::string_view attribute) const;
    // "profesor nº 3 (codigo='MAT', idprofesor='503')": how the user finds the entry.
    std::string Label(std::initializer_list<std::string_view> keys) const;

private:
    XmlElement element_;
    std::size_t number_;
    // DASTENO entries have a handful of attributes: held here, they are found without
    // walking the document again for each one read.
    std::array<XmlAttributeRef, 12> attributes_;
    std::size_t count_;
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

// A section with fewer than two entries gives an empty table (DASTENO's own export
// never has a section of one entry; Orlavi's tables were always built this way).
inline bool SectionIsWritten(std::size_t count) { return count >= 2; }

// Notes, once per section, that a single entry was left out for that reason.
void NoteSingleEntry(ImportContext& context, std::string_view table, std::string_view element, std::size_t count);

}  // namespace pasarela
