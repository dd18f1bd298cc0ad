#pragma once

#include <cstddef>
#include <filesystem>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace pasarela {

// What a run did beyond the rows it wrote: entries it left out or altered, codes it
// could not find. Nothing the import or export tolerates may vanish without a trace,
// so every such case is noted here and the front end shows it.
class RunReport {
public:
    struct Notice {
        std::string table;   // table the notice concerns ("ASIGT")
        std::string reason;  // short Spanish phrase, the same for every notice of a kind
        std::string entry;   // which entry, as the user can find it in the file
    };

    // Rows written to (or translated into) `table`; tables are listed in the order first seen.
    void SetRows(const std::string& table, std::size_t rows);
    void Note(std::string table, std::string reason, std::string entry);

    const std::vector<Notice>& Notices() const { return notices_; }
    std::size_t Rows(const std::string& table) const;
    // How many notices of this table carry this reason.
    std::size_t Count(const std::string& table, const std::string& reason) const;
    bool HasNotices() const { return !notices_.empty(); }

    // Rows per table and, under each, the count of notices per reason.
    std::string Summary() const;
    // The summary followed by every notice, one per line, for the --report file.
    std::string FullText() const;

private:
    std::vector<std::pair<std::string, std::size_t>> rows_;
    std::vector<Notice> notices_;
    std::map<std::pair<std::string, std::string>, std::size_t> counts_;
    std::vector<std::pair<std::string, std::string>> reasonOrder_;
};

// Writes the report's full text to a file (replaced only once written).
void SaveReport(const std::filesystem::path& path, const RunReport& report);

}  // namespace pasarela
