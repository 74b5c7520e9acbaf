#include "frontend/lower/notes/builtin_family_notes.hpp"

#include <gtest/gtest.h>

#include <string_view>

namespace frontend::lower::builtin_family_notes {
namespace {

TEST(BuiltinFamilyNotesTest, ListsEveryMemberOfTheFamilyANameClaims) {
  struct Case {
    std::string_view name;
    std::string_view members;
  };
  const Case cases[] = {
      {"bytes.get",
       "; the bytes builtins are bytes.new, bytes.push, bytes.concat, bytes.repeat, bytes.le, bytes.insert, "
       "bytes.replace, bytes.eq, bytes.hex and bytes.from_hex"},
      {"load.i8", "; the load builtins are load.bytes, load.u8, load.u16, load.u32 and load.u64"},
      {"fs.read", "; the fs builtins are fs.exists, fs.read_text, fs.read_bytes, fs.list_dir and fs.is_dir"},
      // Families from the three tables: the library's, the data builtins' and the evaluator's own.
      {"sym.concat", "; the sym builtins are sym.join and sym.unique"},
      {"map.of",
       "; the map builtins are map.new, map.set, map.has, map.get, map.get_or, map.keys, map.values and map.eq, and "
       "map.set_mut changes a 'let' collection in place as a statement"},
      {"list.append",
       "; the list builtins are list.new, list.of, list.push, list.concat, list.get, list.set, list.slice and "
       "list.eq, and list.push_mut and list.set_mut change a 'let' collection in place as a statement"},
      {"str.len", ""},
      {"len", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(familyMembers(c.name), c.members) << c.name;
}

}  // namespace
}  // namespace frontend::lower::builtin_family_notes
