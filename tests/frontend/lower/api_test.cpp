#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "frontend/lower/api.hpp"
#include "lower_test_support.hpp"

namespace {

using lower_test::expectOutputCases;
namespace api = frontend::lower::api;

TEST(Dispatch, NamesReportsAndArity) {
  expectOutputCases({
      {"nosuch(1)\n", "", {"main.qov:1:1: error: unknown call: nosuch"}, false},
      {"db(1)\n  emit.u9(1)\n", "", {"main.qov:2:3: error: unknown call: emit.u9"}, false},
      {"print(\"n =\", 5)\n", "", {"main.qov:1:1: note: n = 5"}},
      {"warn(\"careful\")\ndb(1)\n", "01", {"main.qov:1:1: warning: careful"}},
      {"err(\"x\")\ndb(1)\n", "", {"main.qov:1:1: error: x"}, false},
      {"x86.use32(1)\n",
       "",
       {"main.qov:1:1: error: lowering failed: InvalidApiArity",
        "main.qov:1:1: note: 'x86.use32' takes no arguments, 1 given: x86.use32()"},
       false},
      {"virtual.end(1)\n",
       "",
       {"main.qov:1:1: error: lowering failed: InvalidApiArity",
        "main.qov:1:1: note: 'virtual.end' takes no arguments, 1 given: virtual.end()"},
       false},
      {"origin()\n",
       "",
       {"main.qov:1:1: error: lowering failed: InvalidApiArity",
        "main.qov:1:1: note: 'origin' takes 1 argument, 0 given: origin(address)"},
       false},
  });
}

// The name alone picks the call: names that share its length and ends, or
// differ only in case, are other names; a user function takes any call's name
// but include's and import's.
TEST(Dispatch, CallNamesAndTheirShadows) {
  expectOutputCases({
      {"emit.u32(1)\nemit.f32(f32(1.0))\n", "01 00 00 00 00 00 80 3f"},
      {"exit.u32(1)\n", "", {"main.qov:1:1: error: unknown call: exit.u32"}, false},
      {"emit.x32(1)\n", "", {"main.qov:1:1: error: unknown call: emit.x32"}, false},
      {"Db(1)\n", "", {"main.qov:1:1: error: unknown call: Db"}, false},
      {"d(1)\n", "", {"main.qov:1:1: error: unknown call: d"}, false},
      {"dbq(1)\n", "", {"main.qov:1:1: error: unknown call: dbq"}, false},
      {"region.file_alig(1)\n", "", {"main.qov:1:1: error: unknown call: region.file_alig"}, false},
      {"fn db(x) {\n  emit.u8(x + 1)\n}\ndb(1)\n", "02"},
      {"fn x86.use32() {\n  emit.u8(7)\n}\nx86.use32()\n", "07"},
      {"fn include(x) {\n}\ninclude(1)\n", "", {"main.qov:3:1: error: lowering failed: InvalidApiArgument"}, false},
      {"fn import(x) {\n}\nimport(1)\n", "", {"main.qov:3:1: error: lowering failed: InvalidApiArgument"}, false},
  });
}

// The lookup compares a key of a few characters and the rest of the name
// only when the key cannot hold it: a name with any one character changed,
// or its case flipped, must still be no call.
TEST(Dispatch, EveryCallNameWithOneCharacterChangedIsUnknown) {
  std::vector<lower_test::OutputCase> cases;
  for (const std::string_view name : api::callNames()) {
    for (std::size_t at = 0; at < name.size(); ++at) {
      // No call name holds a 'k' or a capital letter.
      std::vector<char> replacements = {'k'};
      if (name[at] >= 'a' && name[at] <= 'z') replacements.push_back(static_cast<char>(name[at] - 'a' + 'A'));
      for (const char replacement : replacements) {
        std::string changed(name);
        changed[at] = replacement;
        cases.push_back({changed + "(16)\n", "", {"main.qov:1:1: error: unknown call: " + changed}, false});
      }
    }
  }
  ASSERT_GT(cases.size(), 2 * api::callNames().size());
  expectOutputCases(cases);
}

TEST(Dispatch, DiagnosticTextByKind) {
  expectOutputCases({
      {"print(1, 2, 3)\n", "", {"main.qov:1:1: note: 1 2 3"}},
      {"print(true, false, ~0)\n", "", {"main.qov:1:1: note: true false 18446744073709551615"}},
      {"print(list.of(1, 2, 3), map.new())\n", "", {"main.qov:1:1: note: list#3 map#0"}},
      {"print(b\"A\"\"B\", \"q\"\"q\")\n", "", {"main.qov:1:1: note: b\"A\"\"B\" q\"q"}},
      {"print(f32(0.25))\n", "", {"main.qov:1:1: note: 0.25"}},
      {"print(1.5)\n", "", {"main.qov:1:1: note: 1.5"}},
      {"struct S {\n  a: u8\n}\nlet s = S{ a: 1 }\nprint(s)\n", "", {"main.qov:5:1: note: struct#1"}},
      {"struct S {\n  a: u8\n}\nprint(S{ a: 1 })\n",
       "",
       {"main.qov:4:1: error: lowering failed: InvalidApiArgument"},
       false},
      {"print()\n",
       "",
       {"main.qov:1:1: error: lowering failed: InvalidApiArity",
        "main.qov:1:1: note: 'print' takes at least 1 argument, 0 given: print(value, ...)"},
       false},
      {"print(nope)\n",
       "",
       {"main.qov:1:1: error: lowering failed: UndefinedSymbol", "main.qov:1:1: note: 'nope' is not defined"},
       false},
  });
}

TEST(Dispatch, Assertions) {
  expectOutputCases({
      {"assert(1 == 1)\n", ""},
      {"assert(false)\n", "", {"main.qov:1:1: error: assertion failed"}, false},
      {"assert(false, \"bad\")\n", "", {"main.qov:1:1: error: bad"}, false},
      {"assert(false, \"bad \", 3)\n",
       "",
       {"main.qov:1:1: error: lowering failed: InvalidApiArity",
        "main.qov:1:1: note: 'assert' takes 1 or 2 arguments, 3 given: assert(condition) or assert(condition, "
        "message)"},
       false},
      {"assert(0)\n", "", {"main.qov:1:1: error: lowering failed: InvalidApiArgument"}, false},
      {"assert()\n",
       "",
       {"main.qov:1:1: error: lowering failed: InvalidApiArity",
        "main.qov:1:1: note: 'assert' takes 1 or 2 arguments, 0 given: assert(condition) or assert(condition, "
        "message)"},
       false},
  });
}

TEST(Dispatch, NameTables) {
  EXPECT_EQ(api::dataOperation("dp")->unit, 6u);
  EXPECT_EQ(api::dataOperation("emit.f32")->kind, api::DataKind::float_data);
  EXPECT_EQ(api::dataOperation("rdqq")->unit, 64u);
  EXPECT_EQ(api::dataOperation("rdqq")->kind, api::DataKind::reserve);
  EXPECT_FALSE(api::dataOperation("emit.u8"));
  EXPECT_EQ(api::storeByteCount("store.u16"), 2);
  EXPECT_FALSE(api::storeByteCount("store.bytes"));
}

TEST(Dispatch, CallsAllowedInBlocks) {
  struct Row {
    std::string_view name;
    bool deferred;
    bool late_layout;
  };
  const std::vector<Row> rows = {
      {"err", true, true},         {"store.u32", true, true},
      {"store.bytes", true, true}, {"emit.u8", false, true},
      {"rb", false, true},         {"virtual.end", false, true},
      {"isa", false, false},       {"label.define", false, false},
      {"emit.file", false, false}, {"import", false, false},
      {"x86.use16", false, false}, {"my_function", false, false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(frontend::lower::root::isAllowedDeferredApi(row.name), row.deferred);
    EXPECT_EQ(api::isAllowedLateLayoutApi(row.name), row.late_layout);
  }
}

}  // namespace
