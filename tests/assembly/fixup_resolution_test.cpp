#include "assembly/fixup_resolution.hpp"

#include <gtest/gtest.h>

#include <optional>
#include <string_view>
#include <vector>

namespace {

struct Target {
  std::string_view text;
  std::optional<assembly::WideValue> addend;  // of ".L"; none: no name with an addend
};

// A name that cannot stand in an expression takes its addend only here, so
// every spelling of a number must read as the expression parser reads it.
TEST(SplitFoldedAddend, ReadsEverySpellingOfANumber) {
  for (const Target& c : std::vector<Target>{
           {".L + 16", 16}, {".L - 0x8", -8}, {".L + 0b10000", 16}, {".L + 1_6", 16}, {".L+1'6", 16},
           {".L + 0o20", 16}, {".L + 18446744073709551632", std::nullopt}, {".L + 0x1g", std::nullopt},
           {".L + 1.5", std::nullopt}, {".L + x", std::nullopt},
       }) {
    const auto folded = assembly::splitFoldedAddend(c.text);
    ASSERT_EQ(folded.has_value(), c.addend.has_value()) << c.text;
    if (folded) {
      EXPECT_TRUE(folded->name == ".L" && folded->addend == *c.addend) << c.text;
    }
  }
}

}  // namespace
