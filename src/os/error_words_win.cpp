#include "os/error.h"

namespace pasarela {

// The system's family carries GetLastError() codes; the generic one, errno values.
std::string ErrorCodeWords(const std::error_code& code)
{
    if (code.category() == std::system_category())
        return WindowsErrorWords(static_cast<unsigned long>(code.value()));
    return ErrnoWords(code.value());
}

}  // namespace pasarela
