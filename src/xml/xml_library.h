#pragma once

#include <string>

namespace pasarela {

// The XML library the program reads files with, as "expat 2.5.0-1+deb12u5": the Debian
// version of the source package compiled into the Windows programs, the library's own
// version where the system's is linked.
std::string XmlLibraryVersion();

}  // namespace pasarela
