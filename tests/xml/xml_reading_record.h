#pragma once

#include <cstddef>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "xml/xml_encoding.h"
#include "xml/xml_fast_reader.h"
#include "xml/xml_reader.h"

// A reading of a file written down whole (every event, the facts or the refusal, the
// progress told), so that the scanner and expat can be held to each other: by the unit
// tests in tests/xml/ and by the differential fuzz harness.
namespace pasarela::test {

struct XmlReading {
    // One entry per event: "+depth name\0attribute\0value\0..." or "-depth".
    std::vector<std::string> events;
    // The facts of a file read, or "refused: line L, column C: message".
    std::string outcome;
    std::vector<double> progress;
    xml_detail::XmlReaderTrace trace;
};

inline std::string DescribeFacts(const XmlFileFacts& facts)
{
    return "read: " + std::string(EncodingName(facts.encoding)) + (facts.byteOrderMark ? " with mark" : "") +
           ", top-level nodes [" + facts.topLevelNodes + "]";
}

inline XmlReading ReadRecorded(const std::filesystem::path& path, xml_detail::XmlReaderPath which,
                               std::size_t blockSize = xml_detail::XmlReaderTuning{}.blockSize)
{
    class Recorder final : public XmlElementHandler {
    public:
        explicit Recorder(std::vector<std::string>& events) : events_(events) {}
        void StartElement(std::string_view name, std::size_t depth, std::span<const XmlAttributeRef> attributes) override
        {
            std::string event = "+" + std::to_string(depth) + " " + std::string(name);
            for (const XmlAttributeRef& attribute : attributes) {
                event += '\0' + std::string(attribute.name);
                event += '\0' + std::string(attribute.value);
            }
            events_.push_back(std::move(event));
        }
        void EndElement(std::size_t depth) override { events_.push_back("-" + std::to_string(depth)); }

    private:
        std::vector<std::string>& events_;
    };

    XmlReading reading;
    Recorder recorder(reading.events);
    XmlReadOptions options;
    options.progress = [&reading](double share) { reading.progress.push_back(share); };
    xml_detail::XmlReaderTuning tuning;
    tuning.path = which;
    tuning.blockSize = blockSize;
    tuning.trace = &reading.trace;
    try {
        reading.outcome = DescribeFacts(xml_detail::ReadXmlFileTuned(path, recorder, options, tuning));
    } catch (const XmlParseError& e) {
        reading.outcome = "refused: line " + std::to_string(e.Line()) + ", column " + std::to_string(e.Column()) +
                          ": " + e.what();
    } catch (const Error& e) {
        reading.outcome = std::string("error: ") + e.what();
    }
    return reading;
}

}  // namespace pasarela::test
