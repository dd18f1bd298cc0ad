#include "app/ini_file.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "dbf/dbf_test_support.h"
#include "os/error.h"
#include "os/file.h"
#include "test_support.h"

namespace pasarela {
namespace {

TEST(UpdateIniTextTest, SetsTheKeyAndChangesNoOtherByte)
{
    struct Case {
        const char* name;
        std::string before;
        std::string after;
    };
    const Case cases[] = {
        {"empty file", "", "[Transformadores]\r\nTransformado=1\r\n"},
        {"missing section after a last line with its ending", "[Orlavi]\r\nRuta=C:\\OV\r\n",
         "[Orlavi]\r\nRuta=C:\\OV\r\n[Transformadores]\r\nTransformado=1\r\n"},
        {"missing section after a last line without ending", "[Orlavi]\r\nRuta=C:\\OV",
         "[Orlavi]\r\nRuta=C:\\OV\r\n[Transformadores]\r\nTransformado=1\r\n"},
        {"missing section in a file of LF endings", "[Orlavi]\nRuta=C:\\OV\n",
         "[Orlavi]\nRuta=C:\\OV\n[Transformadores]\nTransformado=1\n"},
        {"key replaced, blanks before '=' kept", "[Transformadores]\r\nTransformado  = -1\r\n",
         "[Transformadores]\r\nTransformado  =1\r\n"},
        {"key replaced among comments and other sections, CRLF",
         "; Orlavi\r\n[Orlavi]\r\nRuta=C:\\OV\r\n\r\n[Transformadores]\r\n; resultado\r\nTransformado=-1\r\n"
         "Otro=5\r\n\r\n[Final]\r\nTransformado=7\r\n",
         "; Orlavi\r\n[Orlavi]\r\nRuta=C:\\OV\r\n\r\n[Transformadores]\r\n; resultado\r\nTransformado=1\r\n"
         "Otro=5\r\n\r\n[Final]\r\nTransformado=7\r\n"},
        {"key replaced, LF", "[Orlavi]\nRuta=x\n[Transformadores]\nTransformado=0\nOtro=5\n",
         "[Orlavi]\nRuta=x\n[Transformadores]\nTransformado=1\nOtro=5\n"},
        {"key replaced, CR", "[Orlavi]\rRuta=x\r[Transformadores]\rTransformado=0\rOtro=5\r",
         "[Orlavi]\rRuta=x\r[Transformadores]\rTransformado=1\rOtro=5\r"},
        {"section and key in other letter case, their spelling kept", "[TRANSFORMADORES]\r\ntransformado=0\r\n",
         "[TRANSFORMADORES]\r\ntransformado=1\r\n"},
        {"key added after the section's last line, before blank lines and the next section",
         "[Transformadores]\r\nOtro=5\r\n\r\n\r\n[Final]\r\nX=1\r\n",
         "[Transformadores]\r\nOtro=5\r\nTransformado=1\r\n\r\n\r\n[Final]\r\nX=1\r\n"},
        {"key added to an empty section", "[Transformadores]\r\n[Final]\r\n",
         "[Transformadores]\r\nTransformado=1\r\n[Final]\r\n"},
        {"key added to the last section, whose last line has no ending", "[Transformadores]\r\nOtro=5",
         "[Transformadores]\r\nOtro=5\r\nTransformado=1\r\n"},
        {"a commented-out key or a longer key is not the key",
         "[Transformadores]\r\n;Transformado=0\r\nTransformados=3\r\n",
         "[Transformadores]\r\n;Transformado=0\r\nTransformados=3\r\nTransformado=1\r\n"},
        {"key of the same name in another section only", "[Final]\r\nTransformado=7\r\n[Transformadores]\r\n",
         "[Final]\r\nTransformado=7\r\n[Transformadores]\r\nTransformado=1\r\n"},
        {"second section of the same name untouched when the first gets the key",
         "[Transformadores]\r\nOtro=5\r\n[transformadores]\r\nTransformado=0\r\n",
         "[Transformadores]\r\nOtro=5\r\nTransformado=1\r\n[transformadores]\r\nTransformado=0\r\n"},
        {"second section of the same name untouched when the first has the key",
         "[Transformadores]\r\nTransformado=0\r\n[Transformadores]\r\nTransformado=0\r\n",
         "[Transformadores]\r\nTransformado=1\r\n[Transformadores]\r\nTransformado=0\r\n"},
        {"last line without ending replaced, still without ending", "[Transformadores]\r\nTransformado=-1",
         "[Transformadores]\r\nTransformado=1"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(UpdateIniText(c.before, "Transformadores", "Transformado", "1"), c.after);
    }
}

class WriteIniValueTest : public test::TempFolderTest {};

TEST_F(WriteIniValueTest, CreatesAMissingFile)
{
    const auto path = folder_ / "Orlavi.ini";
    WriteIniValue(path, "Transformadores", "Transformado", "-1");
    EXPECT_EQ(test::ReadFileBytes(path), "[Transformadores]\r\nTransformado=-1\r\n");
    EXPECT_EQ(FolderContents(), std::vector<std::string>{"Orlavi.ini"});
}

TEST_F(WriteIniValueTest, KeepsEveryOtherByteOfAnExistingFile)
{
    const auto path = folder_ / "Orlavi.ini";
    // Windows-1252 accents, tabs, trailing blanks and mixed endings must all survive.
    const std::string before = "; Configuraci\xF3n de Orlavi \t\r\n[Orlavi]\nRuta=C:\\Archivos de programa\\OV \r"
                               "[Transformadores]\r\n\tTransformado\t=0\r\nA\xF1o=2013\r\n\r\n[Final]\r\nX=1";
    test::WriteFileBytes(path, before);

    WriteIniValue(path, "Transformadores", "Transformado", "1");

    EXPECT_EQ(test::ReadFileBytes(path), "; Configuraci\xF3n de Orlavi \t\r\n[Orlavi]\nRuta=C:\\Archivos de programa\\OV \r"
                                         "[Transformadores]\r\n\tTransformado\t=1\r\nA\xF1o=2013\r\n\r\n[Final]\r\nX=1");
    EXPECT_EQ(FolderContents(), std::vector<std::string>{"Orlavi.ini"});
}

TEST_F(WriteIniValueTest, FolderThatDoesNotExistIsAnErrorNamingTheFile)
{
    const auto path = folder_ / "falta" / "Orlavi.ini";
    EXPECT_THAT([&] { WriteIniValue(path, "Transformadores", "Transformado", "1"); },
                ThrowsMessage<Error>(StrEq("No se pudo guardar el resultado en '" + DisplayPath(path) +
                                           "': No existe la carpeta '" + DisplayPath(path.parent_path()) + "'")));
    EXPECT_FALSE(std::filesystem::exists(folder_ / "falta"));
}

}  // namespace
}  // namespace pasarela
