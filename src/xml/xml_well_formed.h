#pragma once

#include <string_view>

namespace pasarela {

// Whether a UTF-8 document is plainly well-formed XML: built only of what a DASTENO file
// holds (an XML declaration, elements with attributes of ASCII names, text, the five
// predefined entities, character references, comments and blanks), with every rule of XML
// for those met. A single pass, fast enough to run before every import; it never says yes
// to a file that is not well-formed, but says no to anything beyond that plain shape (a
// DOCTYPE, CDATA, processing instructions, names beyond ASCII, an element with very many
// attributes), which a conformant parser must then judge.
bool PlainlyWellFormed(std::string_view utf8);

}  // namespace pasarela
