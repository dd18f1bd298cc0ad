#include "platform/run_report.h"

#include <algorithm>

#include "platform/atomic_file.h"

namespace pasarela {

void RunReport::SetRows(const std::string& table, std::size_t rows)
{
    for (auto& [name, count] : rows_)
        if (name == table) {
            count = rows;
            return;
        }
    rows_.emplace_back(table, rows);
}

void RunReport::Note(std::string table, std::string reason, std::string entry)
{
    auto key = std::make_pair(table, reason);
    if (counts_[key]++ == 0)
        reasonOrder_.push_back(key);
    notices_.push_back({std::move(table), std::move(reason), std::move(entry)});
}

std::size_t RunReport::Rows(const std::string& table) const
{
    for (const auto& [name, count] : rows_)
        if (name == table)
            return count;
    return 0;
}

std::size_t RunReport::Count(const std::string& table, const std::string& reason) const
{
    auto found = counts_.find({table, reason});
    return found == counts_.end() ? 0 : found->second;
}

std::string RunReport::Summary() const
{
    std::string text;
    std::vector<std::string> tables;
    for (const auto& [name, count] : rows_)
        tables.push_back(name);
    for (const auto& [table, reason] : reasonOrder_)
        if (std::find(tables.begin(), tables.end(), table) == tables.end())
            tables.push_back(table);
    for (const std::string& table : tables) {
        text += table + ": " + std::to_string(Rows(table)) + (Rows(table) == 1 ? " fila" : " filas") + "\n";
        for (const auto& key : reasonOrder_)
            if (key.first == table)
                text += "  " + key.second + ": " + std::to_string(counts_.at(key)) + "\n";
    }
    return text;
}

std::string RunReport::FullText() const
{
    std::string text = "Resumen\n" + Summary();
    if (notices_.empty())
        return text + "\nNo se ha omitido ni alterado ninguna entrada.\n";
    text += "\nDetalle\n";
    for (const Notice& notice : notices_)
        text += notice.table + " | " + notice.reason + " | " + notice.entry + "\n";
    return text;
}

void SaveReport(const std::filesystem::path& path, const RunReport& report)
{
    AtomicFile out(path);
    out.Write(report.FullText());
    out.Commit();
}

}  // namespace pasarela
