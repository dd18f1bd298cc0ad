#include "os/error.h"

namespace pasarela {

// Here both families of error_code carry errno values.
std::string ErrorCodeWords(const std::error_code& code) { return ErrnoWords(code.value()); }

}  // namespace pasarela
