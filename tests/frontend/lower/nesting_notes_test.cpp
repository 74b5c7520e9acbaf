#include "frontend/lower/notes/nesting_notes.hpp"

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "lower_test_support.hpp"

namespace {

using frontend::lower::nesting_notes::kExpressionNesting;
using frontend::lower::nesting_notes::kValueNesting;

std::string nested(std::size_t depth, std::string_view inner, char open = '(', char close = ')') {
  return std::string(depth, open) + std::string(inner) + std::string(depth, close);
}

// Operands of instructions and documents read into values stop at their
// limits with NestingTooDeep and a note at the line naming the limit, as
// every other nesting does; just inside a limit they are taken.
TEST(NestingNotes, NameTheLimitAtTheLine) {
  const auto refused = [](std::string_view line, std::string_view note) {
    const std::string place = "main.qov:" + std::string(line) + ": ";
    return std::vector<std::string>{place + "error: lowering failed: NestingTooDeep", place + "note: " + std::string(note)};
  };
  const std::string operand = nested(200, "1");
  lower_test::Files files;
  files.texts["deep.json"] = nested(1025, "", '[', ']');
  files.texts["deepest.json"] = nested(1024, "", '[', ']');
  files.texts["deep.toml"] = "a = " + nested(1025, "", '[', ']');
  lower_test::expectOutputCases(
      {
          {"mov eax, " + operand + "\n", "", refused("1:1", kExpressionNesting), false},
          {"nop\nmov eax, [rax + " + operand + "]\n", "", refused("2:1", kExpressionNesting), false},
          {"isa(\"mov eax, " + operand + "\")\n", "", refused("1:1", kExpressionNesting), false},
          {"mov eax, " + nested(100, "1") + "\n", "[b8 01 00 00 00]"},
          {"let j = json.file(\"deep.json\")\n", "", refused("1:1", kValueNesting), false},
          {"let j = json.parse(\"" + nested(1025, "", '[', ']') + "\")\n", "", refused("1:1", kValueNesting), false},
          {"let j = json.file(\"deepest.json\")\ndb(len(j))\n", "01"},
          {"let t = toml.file(\"deep.toml\")\n", "", refused("1:1", kValueNesting), false},
          // The document's table is one level above the arrays in it.
          {"let t = toml.parse(\"a = " + nested(1024, "", '[', ']') + "\")\n", "", refused("1:1", kValueNesting), false},
          {"let t = toml.parse(\"a = " + nested(1023, "", '[', ']') + "\")\ndb(len(t))\n", "01"},
      },
      files);
}

}  // namespace
