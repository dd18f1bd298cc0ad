#pragma once

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>

// What the test files use throughout, named once: gmock's matchers by their short names,
// and `fs` for std::filesystem.
namespace pasarela {

namespace fs = std::filesystem;

using ::testing::AllOf;
using ::testing::AnyOf;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::EndsWith;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;
using ::testing::StartsWith;
using ::testing::StrEq;
using ::testing::ThrowsMessage;

}  // namespace pasarela
