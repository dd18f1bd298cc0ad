#pragma once

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>

namespace pasarela {

// Which school a set of tables belongs to, as the root of its DASTENO file names it
// (codigo_interno, nombre, curso), trimmed.
struct SchoolIdentity {
    std::string code;
    std::string name;
    std::string year;
    bool operator==(const SchoolIdentity&) const = default;
};

// What an import writes beside its tables, so a set describes itself: the school, when
// the import ran, and the file it read.
struct SchoolRecord {
    SchoolIdentity school;
    std::chrono::system_clock::time_point importedAt;
    std::filesystem::path file;
};

// The record's file name, one of the set's files (Orlavi ignores it).
inline constexpr char kSchoolRecordName[] = "PASARELA-CENTRO.TXT";

// The record's text: one "clave=valor" line each, in UTF-8.
std::string SchoolRecordText(const SchoolRecord& record);
// The record in `folder` (the working folder or a kept set); nothing when there is none
// (tables written before the record existed) or it cannot be read.
std::optional<SchoolRecord> ReadSchoolRecord(const std::filesystem::path& folder);

// The first `limit` bytes of one of the small texts kept beside the tables (the record, a
// kept set's description); nothing when it is missing, a link, not a plain file or unreadable.
std::optional<std::string> ReadSmallText(const std::filesystem::path& path, std::size_t limit);
// The school of the tables in `folder`, as its record says; nothing when unknown.
std::optional<SchoolIdentity> RecordedSchool(const std::filesystem::path& folder);

// "123 (IES Ejemplo, 2025-2026)", as messages name a school; "desconocido" for none.
std::string SchoolText(const std::optional<SchoolIdentity>& school);
// Whether two sets of DASTENO identifiers are one school's: the same code and year when
// both have a code, else all three values alike.
bool SameSchool(const SchoolIdentity& a, const SchoolIdentity& b);

}  // namespace pasarela
