#include "assembly/fixup_resolution.hpp"

#include <gtest/gtest.h>

#include <optional>
#include <string_view>
#include <vector>

namespace {

using assembly::WideValue;

struct Target {
  std::string_view text;
  std::optional<std::string_view> name;  // none: the text is no name with an addend
  WideValue addend = 0;
};

// A name that cannot stand in an expression takes its addend only here, so
// every spelling of a number must read as the expression parser reads it.
TEST(SplitFoldedAddend, ReadsEverySpellingOfANumber) {
  constexpr WideValue kTop = WideValue{1} << 64;
  for (const Target& c : std::vector<Target>{
           {".L + 16", ".L", 16},
           {".L + 0x10", ".L", 16},
           {".L - 0x8", ".L", -8},
           {".L + 0b10000", ".L", 16},
           {".L + 1_6", ".L", 16},
           {".L + 1'6", ".L", 16},
           {".L+0o20", ".L", 16},
           {"start - 0XFFFFFFFFFFFFFFFF", "start", -(kTop - 1)},
           {".L + 18446744073709551617", std::nullopt},
           {".L + 0x1g", std::nullopt},
           {".L + 1.5", std::nullopt},
           {".L + x", std::nullopt},
           {".L + ", std::nullopt},
           {"a * 2 + 4", std::nullopt},
       }) {
    const auto folded = assembly::splitFoldedAddend(c.text);
    ASSERT_EQ(folded.has_value(), c.name.has_value()) << c.text;
    if (!folded) continue;
    EXPECT_EQ(folded->name, *c.name) << c.text;
    EXPECT_TRUE(folded->addend == c.addend) << c.text;
  }
}

}  // namespace
