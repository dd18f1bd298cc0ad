// The outcome of an import and of an export for every file of the golden corpus
// (golden_corpus.h), against the table kept in tests/import/golden/outcomes.txt: per file,
// the import's exit (which error, with its exact message) or a hash of each of the six
// tables' bytes and of the report's rows and notices, and likewise the export's exit or a
// hash of the file it writes and of its report. The table pins what a change of the reading
// code must leave exactly as it was.
//
// To record the table again (after a change of outcome made on purpose, never to make a
// failure go away unexamined), run the test with PASARELA_GOLDEN_RECORD=1 in the
// environment, e.g.
//
//   PASARELA_GOLDEN_RECORD=1 PASARELA_SOURCE_DIR=$PWD build/linux/pasarela_tests --gtest_filter='GoldenOutcomes*'
//
// It then rewrites tests/import/golden/outcomes.txt instead of comparing, and fails so that
// a recording run is never taken for a passing one; review the diff before committing.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "dbf/dbf_test_support.h"
#include "export/export_run.h"
#include "import/golden_corpus.h"
#include "import/import_run.h"
#include "import/table_registry.h"
#include "os/environment.h"
#include "os/error.h"
#include "os/file.h"
#include "robustness/robustness_test_support.h"
#include "xml/xml_reader.h"

namespace pasarela {
namespace {

namespace fs = std::filesystem;

std::string Hash(std::string_view bytes)
{
    std::uint64_t hash = 14695981039346656037ull;
    for (const char c : bytes) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 1099511628211ull;
    }
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(hash));
    return text;
}

// A table's bytes without what changes from day to day: the date of last update.
std::string TableHash(const fs::path& path)
{
    std::error_code ec;
    if (!fs::exists(path, ec))
        return "none";
    std::string bytes = test::ReadBytes(path);
    for (std::size_t i = 1; i < 4 && i < bytes.size(); ++i)
        bytes[i] = '\0';
    return Hash(bytes);
}

std::string ReportHash(const RunReport& report, const std::vector<std::string>& tables)
{
    std::string text;
    for (const std::string& table : tables)
        text += table + "=" + std::to_string(report.Rows(table)) + "\n";
    for (const RunReport::Notice& notice : report.Notices())
        text += notice.table + "|" + notice.reason + "|" + notice.entry + "\n";
    return Hash(text) + "/" + std::to_string(report.Notices().size());
}

std::string ErrorKind(const std::exception& e)
{
    if (dynamic_cast<const XmlParseError*>(&e) != nullptr)
        return "XmlParseError";
    if (dynamic_cast<const MissingInputError*>(&e) != nullptr)
        return "MissingInputError";
    if (dynamic_cast<const FileInUseError*>(&e) != nullptr)
        return "FileInUseError";
    if (dynamic_cast<const FileNotFoundError*>(&e) != nullptr)
        return "FileNotFoundError";
    if (dynamic_cast<const NoPermissionError*>(&e) != nullptr)
        return "NoPermissionError";
    if (dynamic_cast<const Error*>(&e) != nullptr)
        return "Error";
    return "std::exception";
}

void ReplaceAll(std::string& text, const std::string& from, const std::string& to)
{
    for (std::size_t at = text.find(from); !from.empty() && at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
}

class GoldenOutcomesTest : public test::TempFolderTest {
protected:
    void SetUp() override
    {
        const std::optional<std::string> source = GetEnvironment("PASARELA_SOURCE_DIR");
        if (!source || source->empty())
            GTEST_SKIP() << "PASARELA_SOURCE_DIR (the source tree) is not set; ctest sets it";
        sourceDir_ = PathFromUtf8(*source);
        TempFolderTest::SetUp();
        dataDir_ = folder_ / "datos";
        importDir_ = folder_ / "VTEMP";
        exportDir_ = folder_ / "EXPORT";
        fs::create_directories(dataDir_);
        fs::create_directories(exportDir_);
        xml_ = dataDir_ / "dasteno.xml";

        // The tables every export meets: a generated school and a timetable naming its
        // groups, subjects, teachers and rooms.
        const fs::path school = folder_ / "escuela.xml";
        test::WriteBytes(school, test::GeneratedSchool(10, "exportación"));
        ImportOptions options;
        options.xmlFile = school;
        options.workingDir = exportDir_;
        RunImport(options);
        // The corpus holds many schools' files, each exported through these tables: as
        // tables written before the school was recorded, so the outcomes stay the translation's.
        fs::remove(exportDir_ / kSchoolRecordName);
        test::WriteSolution(exportDir_ / "SOLUC.DBF", 40, 10);
    }

    // The placeholders that make messages the same on every machine.
    std::string Normalised(std::string message) const
    {
        ReplaceAll(message, DisplayPath(xml_), "<archivo>");
        ReplaceAll(message, DisplayPath(ExportOutputPath(xml_)), "<salida>");
        ReplaceAll(message, DisplayPath(importDir_), "<vtemp>");
        ReplaceAll(message, DisplayPath(exportDir_), "<vtemp>");
        ReplaceAll(message, DisplayPath(folder_), "<carpeta>");
        ReplaceAll(message, "\r", "\\r");
        ReplaceAll(message, "\n", "\\n");
        return message;
    }

    std::string ImportOutcome() const
    {
        std::error_code ec;
        fs::remove_all(importDir_, ec);
        fs::create_directories(importDir_);
        ImportOptions options;
        options.xmlFile = xml_;
        options.workingDir = importDir_;
        options.decimalSeparator = ',';
        try {
            const RunReport report = RunImport(options);
            std::string outcome = "ok";
            for (const std::string& table : ImportedTableNames())
                outcome += " " + table + ":" + TableHash(importDir_ / (table + ".DBF"));
            return outcome + " report:" + ReportHash(report, ImportedTableNames());
        } catch (const std::exception& e) {
            return ErrorKind(e) + ": " + Normalised(e.what());
        }
    }

    std::string ExportOutcome() const
    {
        ExportOptions options;
        options.xmlFile = xml_;
        options.workingDir = exportDir_;
        options.journalFileNames = JournalFileNames();
        options.now = [] { return std::chrono::system_clock::time_point(std::chrono::hours(24 * 20000)); };
        options.formatDate = [](std::chrono::system_clock::time_point) { return std::string("05/10/2024 09:30:00"); };
        std::error_code ec;
        fs::remove(ExportOutputPath(xml_), ec);
        try {
            const ExportResult result = RunExport(options);
            return "ok output:" + Hash(test::ReadBytes(result.outputFile)) +
                   " report:" + ReportHash(result.report, {"SOLUC", "dsolucion"});
        } catch (const std::exception& e) {
            return ErrorKind(e) + ": " + Normalised(e.what());
        }
    }

    fs::path sourceDir_;
    fs::path dataDir_;
    fs::path importDir_;
    fs::path exportDir_;
    fs::path xml_;
};

TEST_F(GoldenOutcomesTest, EveryFileOfTheCorpusKeepsItsImportAndExportOutcome)
{
    const fs::path tablePath = sourceDir_ / "tests" / "import" / "golden" / "outcomes.txt";
    const std::vector<test::golden::CorpusFile> corpus = test::golden::GoldenCorpus(sourceDir_);

    std::vector<std::string> lines;
    std::map<std::string, std::size_t> seen;
    for (const test::golden::CorpusFile& file : corpus) {
        ASSERT_EQ(seen[file.name]++, 0u) << "two files of the corpus are named " << file.name;
        test::WriteBytes(xml_, file.bytes);
        lines.push_back(file.name + "\timport\t" + ImportOutcome());
        lines.push_back(file.name + "\texport\t" + ExportOutcome());
    }

    const std::optional<std::string> record = GetEnvironment("PASARELA_GOLDEN_RECORD");
    if (record && *record == "1") {
        fs::create_directories(tablePath.parent_path());
        std::ofstream out(tablePath, std::ios::binary | std::ios::trunc);
        for (const std::string& line : lines)
            out << line << "\n";
        ASSERT_TRUE(out.good()) << "cannot write " << tablePath.string();
        FAIL() << "recorded " << corpus.size() << " files' outcomes into " << tablePath.string()
               << " (PASARELA_GOLDEN_RECORD=1): review the change and run again without it";
    }

    std::ifstream in(tablePath, std::ios::binary);
    ASSERT_TRUE(in.good()) << "no golden table at " << tablePath.string() << "; record it with PASARELA_GOLDEN_RECORD=1";
    std::map<std::string, std::string> expected;
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        const std::size_t second = line.find('\t', line.find('\t') + 1);
        expected[line.substr(0, second)] = line;
    }
    std::size_t differing = 0;
    for (const std::string& actual : lines) {
        const std::string key = actual.substr(0, actual.find('\t', actual.find('\t') + 1));
        const auto found = expected.find(key);
        if (found == expected.end()) {
            ADD_FAILURE() << "not in the golden table: " << actual;
            ++differing;
            continue;
        }
        if (found->second != actual) {
            ADD_FAILURE() << "outcome changed\n  golden: " << found->second << "\n  now:    " << actual;
            ++differing;
        }
        expected.erase(found);
    }
    for (const auto& [key, golden] : expected)
        ADD_FAILURE() << "in the golden table but no longer in the corpus: " << golden;
    EXPECT_EQ(differing, 0u) << "of " << lines.size() << " outcomes";
}

}  // namespace
}  // namespace pasarela
