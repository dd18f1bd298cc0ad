#include "import/table_changes.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "dbf/dbf_table.h"
#include "import/table_registry.h"

namespace pasarela {
namespace {

struct TextHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view text) const { return std::hash<std::string_view>{}(text); }
};

// For each code, how many rows the earlier table had with it less how many the new one has.
// Codes repeat in tables that Orlavi or another program wrote, so rows are counted, not codes.
using CodeBalance = std::unordered_map<std::string, std::int64_t, TextHash, std::equal_to<>>;

// Adds `step` to the balance of the code of every row of the table: one hashed look-up per row.
void Tally(const std::filesystem::path& path, const ImportedTable& spec, std::int64_t step, CodeBalance& balance)
{
    DbfTable table = DbfTable::Open(path);
    std::vector<std::size_t> fields;
    for (std::string_view name : spec.codeFields)
        fields.push_back(table.FieldIndex(name));
    std::string code;
    std::string buffer;
    for (table.First(); !table.Eof(); table.Next()) {
        code.clear();
        for (std::size_t i = 0; i < fields.size(); ++i) {
            if (i > 0)
                code += '\x1F';  // a separator no code holds, so "AB"+"C" differs from "A"+"BC"
            code += table.Text(fields[i], buffer);
        }
        if (auto found = balance.find(std::string_view(code)); found != balance.end())
            found->second += step;
        else
            balance.emplace(code, step);
    }
    table.Close();
}

RunReport::Comparison Compare(const std::filesystem::path& earlier, const std::filesystem::path& built,
                              const ImportedTable& spec)
{
    RunReport::Comparison comparison;
    std::error_code ec;
    if (!std::filesystem::exists(earlier, ec) && !ec) {
        comparison.earlier = RunReport::Comparison::Earlier::Missing;
        return comparison;
    }
    CodeBalance balance;
    try {
        Tally(earlier, spec, 1, balance);
    } catch (const std::exception& e) {
        comparison.earlier = RunReport::Comparison::Earlier::Unreadable;
        comparison.problem = e.what();
        return comparison;
    }
    Tally(built, spec, -1, balance);
    for (const auto& [code, count] : balance) {
        if (count > 0)
            comparison.gone += static_cast<std::size_t>(count);
        else
            comparison.added += static_cast<std::size_t>(-count);
    }
    return comparison;
}

}  // namespace

void CompareWithEarlierTables(const std::filesystem::path& earlierDir, const std::filesystem::path& builtDir,
                              RunReport& report)
{
    for (const ImportedTable& spec : kImportedTables) {
        const std::string file = std::string(spec.name) + ".DBF";
        RunReport::Comparison comparison;
        try {
            comparison = Compare(earlierDir / file, builtDir / file, spec);
        } catch (const std::exception& e) {
            comparison.earlier = RunReport::Comparison::Earlier::Unreadable;
            comparison.problem = e.what();
        }
        report.SetComparison(std::string(spec.name), std::move(comparison));
    }
}

}  // namespace pasarela
