#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "dbf/dbf_table.h"
#include "dbf/text_index.h"

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

}  // namespace pasarela
