#include "os/system_message.h"

#include "os/error.h"

namespace pasarela {

std::string SystemMessage(unsigned long error) { return WindowsErrorWords(error); }

}  // namespace pasarela
