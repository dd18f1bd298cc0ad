// Arbitrary bytes read by the reader's own scanner and by expat alone: the two must hand
// on the same events (names, depths, attributes and their values) and the same facts, or
// refuse the file with the same message, line and column. Anything else aborts, with
// both readings printed.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <iostream>
#include <string>

#include "fuzz/fuzz_support.h"
#include "tests/xml/xml_reading_record.h"

namespace {

using pasarela::test::XmlReading;
using pasarela::xml_detail::XmlReaderPath;

void Print(const char* label, const XmlReading& reading)
{
    std::cerr << "== " << label << ": " << reading.outcome << " (expat from the start: "
              << reading.trace.handedToExpat << ", after " << reading.trace.eventsBeforeHandOver << " events)\n";
    for (const std::string& event : reading.events) {
        std::string shown = event;
        for (char& c : shown)
            if (c == '\0')
                c = '|';
        std::cerr << "   " << shown << "\n";
    }
    std::cerr << "   progress:";
    for (const double share : reading.progress)
        std::cerr << " " << share;
    std::cerr << "\n";
}

void Expect(bool same, const char* what, const XmlReading& expat, const XmlReading& scanner)
{
    if (same)
        return;
    std::cerr << "The scanner and expat disagree on " << what << "\n";
    Print("expat", expat);
    Print("scanner", scanner);
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const pasarela::fuzz::ScratchCleanup scratch{pasarela::fuzz::ScratchFolder("xml-differential")};
    const std::filesystem::path xml = scratch.folder / "dasteno.xml";
    pasarela::fuzz::WriteBytes(xml, data, size);
    const XmlReading expat = pasarela::test::ReadRecorded(xml, XmlReaderPath::ExpatOnly);
    const XmlReading scanner = pasarela::test::ReadRecorded(xml, XmlReaderPath::ScannerWhereItFits);
    Expect(scanner.outcome == expat.outcome, "the outcome", expat, scanner);
    Expect(scanner.events == expat.events, "the events", expat, scanner);
    // Small blocks too, so that every kind of token is cut somewhere, held to expat fed
    // the same blocks (its own verdict on a file that is not UTF-8 may move with them).
    const std::size_t small = 1 + size % 37;
    const XmlReading expatCut = pasarela::test::ReadRecorded(xml, XmlReaderPath::ExpatOnly, small);
    const XmlReading scannerCut = pasarela::test::ReadRecorded(xml, XmlReaderPath::ScannerWhereItFits, small);
    Expect(scannerCut.outcome == expatCut.outcome, "the outcome (small blocks)", expatCut, scannerCut);
    Expect(scannerCut.events == expatCut.events, "the events (small blocks)", expatCut, scannerCut);
    Expect(scannerCut.progress == expatCut.progress, "the progress told (small blocks)", expatCut, scannerCut);
    return 0;
}
