#include "frontend/lower/notes/call_arity_notes.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

#include "frontend/evaluate/expr_eval.hpp"
#include "frontend/lower/api.hpp"
#include "frontend/meta_std/meta_data.hpp"
#include "frontend/meta_std/meta_data_eval.hpp"
#include "frontend/meta_std/meta_io.hpp"
#include "frontend/meta_std/meta_std.hpp"
#include "frontend/module/module.hpp"
#include "frontend/syntax/expr_builtin_names.hpp"
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

// Whether the dispatch of a value builtin refuses `count` arguments for their
// number: every builtin checks the count before it reads what an argument
// holds, so stand-ins that hold nothing reach no further.
bool valueDispatchRefusesCount(std::string_view name, std::size_t count) {
  const std::vector<frontend::value::Value> stand_ins(count);
  const auto refused = [](const auto& result) { return !result && result.error() == qovrin::Error::InvalidArgument; };
  if (const auto builtin = frontend::meta_std::lookupBuiltin(name))
    return refused(frontend::meta_std::callBuiltin(*builtin, std::span<const frontend::value::Value>(stand_ins)));
  if (const auto builtin = frontend::meta_data::lookupBuiltin(name)) {
    const frontend::meta_io::MetaFileHooks hooks;
    return refused(frontend::meta_data::evalDataBuiltin(*builtin, stand_ins, &hooks));
  }
  std::string call = std::string(name) + "(";
  for (std::size_t index = 0; index < count; ++index) call += index == 0 ? "x" : ", x";
  frontend::module::Module module(frontend::target::Target::x86(64));
  const frontend::expr::EvaluationContext context{.module = module};
  return refused(frontend::expr::evaluateValue(frontend::expr::parseOwned(call + ")").value(), context));
}

TEST(CallArityNotes, EveryValueBuiltinTakesTheCountsItsNoteNames) {
  std::vector<std::string_view> dispatched(frontend::meta_std::kBuiltinNames.begin(),
                                           frontend::meta_std::kBuiltinNames.end());
  dispatched.insert(dispatched.end(), frontend::meta_data::kBuiltinNames.begin(),
                    frontend::meta_data::kBuiltinNames.end());
  for (const auto& builtin : frontend::expr::kEvaluatorBuiltins) dispatched.push_back(builtin.name);
  std::ranges::sort(dispatched);
  std::vector<std::string_view> shaped;
  for (const auto& shape : call_arity_notes::valueShapes()) shaped.push_back(shape.name);
  EXPECT_EQ(shaped, dispatched);
  for (const std::string_view name : dispatched)
    for (std::size_t count = 0; count <= 4; ++count)
      EXPECT_EQ(call_arity_notes::valueArityNote(name, count).has_value(), valueDispatchRefusesCount(name, count))
          << name << " with " << count;
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
  EXPECT_EQ(call_arity_notes::valueArityNote("bytes.replace", 3),
            "'bytes.replace' takes 4 arguments, 3 given: bytes.replace(bytes, offset, count, with)");
  EXPECT_EQ(call_arity_notes::valueArguments("list.slice"), "(list, start, count)");
  EXPECT_FALSE(call_arity_notes::arityNote("nosuch", 9));
  EXPECT_FALSE(call_arity_notes::takesCount("nosuch", 0));
}

}  // namespace
