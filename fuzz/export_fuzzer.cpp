// Arbitrary bytes as Orlavi's timetable (SOLUC.DBF) beside the tables an import of the
// example school built: the export must save a file or stop with a pasarela::Error.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <iostream>

#include "export/export_run.h"
#include "fuzz/fuzz_support.h"
#include "import/import_run.h"
#include "os/error.h"

#ifndef PASARELA_SOURCE_DIR
#error "PASARELA_SOURCE_DIR names the source tree, for examples/centro.xml"
#endif

namespace {

struct Setup {
    pasarela::fuzz::ScratchCleanup cleanup{pasarela::fuzz::ScratchFolder("export")};
    std::filesystem::path xml = cleanup.folder / "centro.xml";
    std::filesystem::path workDir = cleanup.folder / "VTEMP";

    // The lookup tables are built once: every input meets the same school.
    Setup()
    {
        std::filesystem::create_directories(workDir);
        std::filesystem::copy_file(std::filesystem::path(PASARELA_SOURCE_DIR) / "examples" / "centro.xml", xml);
        pasarela::ImportOptions options;
        options.xmlFile = xml;
        options.workingDir = workDir;
        try {
            pasarela::RunImport(options);
        } catch (const pasarela::Error& e) {
            std::cerr << "export_fuzzer: the example school does not import: " << e.what() << "\n";
            std::abort();
        }
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const Setup setup;
    pasarela::fuzz::WriteBytes(setup.workDir / "SOLUC.DBF", data, size);
    pasarela::ExportOptions options;
    options.xmlFile = setup.xml;
    options.workingDir = setup.workDir;
    options.now = [] { return std::chrono::system_clock::time_point(std::chrono::hours(24 * 20000)); };
    options.formatDate = [](std::chrono::system_clock::time_point) { return "05/10/2024 09:30:00"; };
    try {
        pasarela::RunExport(options);
    } catch (const pasarela::Error&) {
    }
    return 0;
}
