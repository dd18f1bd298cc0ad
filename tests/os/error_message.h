#pragma once

#include <string>
#include <type_traits>

#include "os/error.h"

namespace pasarela::test {

// Runs `action` and returns the message of the Error it throws, or a note that it threw
// none. With `Expected`, an Error of another kind gives a note naming that instead.
template <typename Expected = Error, typename Action>
std::string ErrorMessageOf(Action action)
{
    try {
        action();
    } catch (const Error& e) {
        if constexpr (!std::is_same_v<Expected, Error>) {
            if (dynamic_cast<const Expected*>(&e) == nullptr)
                return std::string("<another kind of error: ") + e.what() + ">";
        }
        return e.what();
    }
    return "<no error thrown>";
}

}  // namespace pasarela::test
