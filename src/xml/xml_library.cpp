#include "xml/xml_library.h"

#include <expat.h>

#include <string_view>

namespace pasarela {

#ifdef PASARELA_EXPAT_PACKAGE_VERSION
// An object of the program's own, whole in its bytes, so the release check finds the version
// there: a literal used only to make a string may be built piecewise from instructions.
extern const char kXmlLibraryVersion[];
const char kXmlLibraryVersion[] = "expat " PASARELA_EXPAT_PACKAGE_VERSION;
#endif

std::string XmlLibraryVersion()
{
#ifdef PASARELA_EXPAT_PACKAGE_VERSION
    return kXmlLibraryVersion;
#else
    // "expat_2.5.0"
    std::string_view version = XML_ExpatVersion();
    if (version.starts_with("expat_"))
        version.remove_prefix(6);
    return "expat " + std::string(version);
#endif
}

}  // namespace pasarela
