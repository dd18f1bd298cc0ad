// Arbitrary bytes as a DASTENO file: an import must build the six tables or stop with a
// pasarela::Error, never crash, whatever the file holds.
#include <cstddef>
#include <cstdint>

#include "fuzz/fuzz_support.h"
#include "import/import_run.h"
#include "os/error.h"

namespace {

struct Scratch {
    pasarela::fuzz::ScratchCleanup cleanup{pasarela::fuzz::ScratchFolder("import")};
    std::filesystem::path xml = cleanup.folder / "dasteno.xml";
    std::filesystem::path workDir = cleanup.folder / "VTEMP";
    Scratch() { std::filesystem::create_directories(workDir); }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const Scratch scratch;
    pasarela::fuzz::WriteBytes(scratch.xml, data, size);
    pasarela::ImportOptions options;
    options.xmlFile = scratch.xml;
    options.workingDir = scratch.workDir;
    options.decimalSeparator = ',';
    try {
        pasarela::RunImport(options);
    } catch (const pasarela::Error&) {
    }
    return 0;
}
