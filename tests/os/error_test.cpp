#include "os/error.h"

#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>
#include <string>

#include "os/error_message.h"

namespace pasarela {
namespace {

// Context is added as the error climbs, and a caller further up still tells an error in
// use or without permission from the rest.
TEST(ErrorTest, ContextKeepsTheErrorsKind)
{
    struct Case {
        std::string name;
        std::function<void()> fail;
        std::function<std::string(std::function<void()>)> messageAsThrown;
    };
    const auto as = [](auto kind) {
        return [](std::function<void()> action) { return test::ErrorMessageOf<decltype(kind)>(action); };
    };
    const Case cases[] = {
        {"in use", [] { throw FileInUseError("El archivo 'PROFT.DBF' está en uso por otro programa"); },
         as(FileInUseError(""))},
        {"no permission", [] { throw NoPermissionError("El archivo 'PROFT.DBF' no se puede abrir: permiso denegado"); },
         as(NoPermissionError(""))},
        {"not found", [] { throw FileNotFoundError("El archivo 'PROFT.DBF' no existe"); }, as(FileNotFoundError(""))},
        {"missing input", [] { throw MissingInputError("No existe archivo"); }, as(MissingInputError(""))},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string original = test::ErrorMessageOf(c.fail);
        const auto withContext = [&] {
            try {
                c.fail();
            } catch (const Error& e) {
                RethrowWithContext("Tabla PROFT", e);
            }
        };
        EXPECT_EQ(c.messageAsThrown(withContext), "Tabla PROFT: " + original);
    }
}

// A library's own text may be English: the user reads our words for it.
TEST(ErrorTest, AnythingButAnErrorBecomesAPlainErrorWithItsContextInOurWords)
{
    const auto withContext = [] {
        try {
            throw std::runtime_error("vector::_M_realloc_insert");
        } catch (const std::exception& e) {
            RethrowWithContext("Tabla PROFT", e);
        }
    };
    EXPECT_EQ(test::ErrorMessageOf(withContext), "Tabla PROFT: Error inesperado: el proceso no terminó.");
}

}  // namespace
}  // namespace pasarela
