#include "xml/xml_library.h"

#include <expat.h>

#include <string_view>

namespace pasarela {

std::string XmlLibraryVersion()
{
#ifdef PASARELA_EXPAT_PACKAGE_VERSION
    // One literal, so the release check finds the version in the program's bytes.
    return "expat " PASARELA_EXPAT_PACKAGE_VERSION;
#else
    // "expat_2.5.0"
    std::string_view version = XML_ExpatVersion();
    if (version.starts_with("expat_"))
        version.remove_prefix(6);
    return "expat " + std::string(version);
#endif
}

}  // namespace pasarela
