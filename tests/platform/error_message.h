#pragma once

#include <string>

#include "platform/error.h"

namespace pasarela::test {

// Runs `action` and returns the message of the Error it throws, or a note that it threw none.
template <typename Action>
std::string ErrorMessageOf(Action action)
{
    try {
        action();
    } catch (const Error& e) {
        return e.what();
    }
    return "<no error thrown>";
}

}  // namespace pasarela::test
