#pragma once

#include <cstddef>
#include <filesystem>
#include <string>
#include <vector>

#include "xml/xml_reader.h"

// The reader's insides, reached by its own tests and by the fuzz harness that holds its
// scanner to expat; nothing else includes this. The scanner reads the files nearly every
// DASTENO export is (UTF-8, no DOCTYPE, names in ASCII); ReadXmlFile hands a file to
// expat the moment the scanner meets anything it does not take.
namespace pasarela::xml_detail {

enum class XmlReaderPath {
    ScannerWhereItFits,  // what ReadXmlFile does
    ExpatOnly,           // the reference the scanner is held to
};

// What a reading did, for the tests that must know which path read a file.
struct XmlReaderTrace {
    bool handedToExpat = false;  // expat read the file (from its start)
    std::size_t eventsBeforeHandOver = 0;  // StartElement and EndElement calls the scanner made first
};

struct XmlReaderTuning {
    XmlReaderPath path = XmlReaderPath::ScannerWhereItFits;
    // Bytes read at a time: small in tests, so that every token is cut somewhere.
    std::size_t blockSize = std::size_t{1} << 18;
    XmlReaderTrace* trace = nullptr;
};

// ReadXmlFile, with the choices it makes for itself made by the caller.
XmlFileFacts ReadXmlFileTuned(const std::filesystem::path& path, XmlElementHandler& handler,
                              const XmlReadOptions& options, const XmlReaderTuning& tuning);

// A top-level node other than the root, as the file holds it.
struct TopLevelNode {
    enum class Kind { Declaration, Comment, Instruction, Doctype } kind;
    std::string text;    // the comment, the instruction's data, the declaration as written
    std::string target;  // an instruction's target; a DOCTYPE spelled from its parts
    bool emptyInstruction = false;  // an instruction with nothing after its target
};

// Reads plain UTF-8 XML block by block and hands the handler exactly the events, names,
// depths and attribute values expat gives for the same bytes. It gives up, and says so,
// on anything outside what it takes (a DOCTYPE, another encoding, a name beyond ASCII, a
// token longer than it carries) and on anything that is not well-formed: expat has the
// last word there, with its own message, line and column.
class FastUtf8Scanner {
public:
    // `markSize`: bytes of a byte order mark at the start of the file, which are skipped.
    FastUtf8Scanner(XmlElementHandler& handler, std::size_t markSize);

    // Where the next `size` bytes of the file are to be put, after what the last block
    // left unfinished.
    char* Room(std::size_t size);
    // Reads the `size` bytes just put in Room; `last` when they end the file. False once
    // the scanner has given up: nothing more is handed on after that.
    bool Scan(std::size_t size, bool last);

    // StartElement and EndElement calls made so far.
    std::size_t EventsGiven() const { return eventsGiven_; }
    const std::vector<TopLevelNode>& TopLevelNodes() const { return topLevel_; }

private:
    enum class Step { Done, More, Quit };
    enum class Place { Start, Prolog, Content, Epilog, Padding };

    struct Attribute {
        char* name;
        char* nameEnd;
        char* value;
        char* valueEnd;
        bool plain;  // no reference, tab or line end: the value is handed on as written
    };

    Step Run(char*& p, char* end, bool last);
    Step Declaration(char*& p, char* end);
    Step Markup(char*& p, char* end, bool topLevel);
    // An ASCII name from `start`: Done with `after` just past it, More when the block ends
    // first, Quit for anything that is no such name.
    static Step Name(char* start, char* end, char*& after);
    Step StartTag(char*& p, char* end);
    Step EndTag(char*& p, char* end);
    Step Comment(char*& p, char* end, bool keep);
    Step Instruction(char*& p, char* end, bool keep);
    Step CData(char*& p, char* end);
    Step Text(char*& p, char* end);

    XmlElementHandler& handler_;
    std::size_t skip_;  // bytes of the mark still to skip
    Place place_ = Place::Start;
    std::vector<char> buffer_;
    std::size_t carried_ = 0;  // bytes at the front of buffer_ left by the last block
    std::size_t eventsGiven_ = 0;
    std::string openNames_;  // the names of the open elements, one after another
    std::vector<std::size_t> openStarts_;  // where each starts in openNames_
    std::vector<Attribute> attributes_;
    std::vector<XmlAttributeRef> attributeRefs_;
    std::vector<TopLevelNode> topLevel_;
};

}  // namespace pasarela::xml_detail
