#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "os/file.h"
#include "dbf/dbf_test_support.h"

namespace pasarela {
namespace {

// Points the system's folder for temporary files at the test's own folder for a while.
class TemporaryFolderOverride {
public:
    explicit TemporaryFolderOverride(const std::filesystem::path& folder)
    {
        for (const char* name : kNames) {
            const char* value = std::getenv(name);
            earlier_.push_back(value == nullptr ? std::nullopt : std::optional<std::string>(value));
            Set(name, folder.string());
        }
    }
    ~TemporaryFolderOverride()
    {
        for (std::size_t i = 0; i < std::size(kNames); ++i)
            Set(kNames[i], earlier_[i].value_or(""));
    }

private:
#ifdef _WIN32
    static constexpr const char* kNames[] = {"TMP", "TEMP"};
    static void Set(const char* name, const std::string& value) { _putenv_s(name, value.c_str()); }
#else
    static constexpr const char* kNames[] = {"TMPDIR"};
    static void Set(const char* name, const std::string& value)
    {
        if (value.empty())
            ::unsetenv(name);
        else
            ::setenv(name, value.c_str(), 1);
    }
#endif
    std::vector<std::optional<std::string>> earlier_;
};

class TemporaryFileTest : public test::TempFolderTest {};

// Notices of a large run wait in such a file: it must give back what was written and
// leave nothing behind in the user's temporary folder.
TEST_F(TemporaryFileTest, HoldsWhatIsWrittenAndLeavesNothingOnceClosed)
{
    const TemporaryFolderOverride scratch(folder_);
    {
        File file = File::CreateTemporary();
        const std::string data(300000, 'n');
        file.WriteAt(0, data.data(), data.size());
        file.WriteAt(data.size(), "fin", 3);
        std::string back(data.size() + 3, '\0');
        EXPECT_EQ(file.ReadAt(0, back.data(), back.size()), back.size());
        EXPECT_EQ(back, data + "fin");
        File second = File::CreateTemporary();  // another at once is another file
        second.WriteAt(0, "x", 1);
        char first = '\0';
        EXPECT_EQ(file.ReadAt(0, &first, 1), 1u);
        EXPECT_EQ(first, 'n');
    }
    EXPECT_TRUE(std::filesystem::is_empty(folder_));
}

}  // namespace
}  // namespace pasarela
