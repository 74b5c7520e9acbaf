#include "frontend/lower/call_arity_notes.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <string_view>

#include "frontend/lower/api.hpp"
#include "frontend/module/module.hpp"
#include "lower_test_support.hpp"

namespace {

namespace api = frontend::lower::api;
namespace call_arity_notes = frontend::lower::call_arity_notes;

bool refusedForCount(std::string_view name, std::size_t count) {
  std::string call = std::string(name) + "(";
  for (std::size_t index = 0; index < count; ++index) call += index == 0 ? "1" : ", 1";
  frontend::module::Module module(frontend::target::Target::x86(64));
  const auto lowered = lower_test::lower(module, call + ")\n");
  return std::ranges::count(lowered.diagnostics, "main.qov:1:1: lowering failed: InvalidApiArity") == 1;
}

// The table the note reads must say what every call's body checks: a count
// it calls right must lower past the count check, every other one fail it.
TEST(CallArityNotes, EveryCallTakesTheCountsItsNoteNames) {
  for (const std::string_view name : api::callNames()) {
    for (std::size_t count = 0; count <= 4; ++count) {
      const auto takes = call_arity_notes::takesCount(name, count);
      ASSERT_TRUE(takes.has_value()) << name << " has no shape";
      EXPECT_EQ(*takes, !refusedForCount(name, count)) << name << " with " << count;
      EXPECT_EQ(call_arity_notes::arityNote(name, count).has_value(), !*takes) << name << " with " << count;
    }
  }
}

TEST(CallArityNotes, NamesTheCountsAndTheForm) {
  const struct {
    std::string_view name;
    std::size_t given;
    std::string note;
  } cases[] = {
      {"region.begin", 1, "'region.begin' takes 3 arguments, 1 given: region.begin(name, address, file_offset)"},
      {"emit.file", 2,
       "'emit.file' takes 1 or 3 arguments, 2 given: emit.file(path) or emit.file(path, offset, length)"},
      {"align", 0, "'align' takes 1 or 2 arguments, 0 given: align(alignment) or align(alignment, fill)"},
      {"virtual.begin", 2, "'virtual.begin' takes 0 or 1 argument, 2 given: virtual.begin() or virtual.begin(base)"},
      {"db", 0, "'db' takes at least 1 argument, 0 given: db(value, ...)"},
      {"x86.use32", 1, "'x86.use32' takes no arguments, 1 given: x86.use32()"},
  };
  for (const auto& c : cases) EXPECT_EQ(call_arity_notes::arityNote(c.name, c.given), c.note) << c.name;
  EXPECT_FALSE(call_arity_notes::arityNote("nosuch", 9));
  EXPECT_FALSE(call_arity_notes::takesCount("nosuch", 0));
}

}  // namespace
