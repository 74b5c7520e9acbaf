#include "frontend/syntax/source_path.hpp"

#include <gtest/gtest.h>

namespace {

// Identities are compared as strings, so each row also shows which spellings
// of a path name the same file and which stay apart.
TEST(SourceIdentity, Normalizes) {
  struct Case {
    const char* path;
    const char* identity;
  };
  const Case cases[] = {
      {"/a/./b//c/", "/a/b/c"},
      {"/a/../../b", "/b"},
      {"a/../../b", "../b"},
      {"../../x/..", "../.."},
      {"./x", "x"},
      {"a/..", "."},
      {"", "."},
      {".", "."},
      {"/", "/"},
      {"//", "/"},
      {"/..", "/"},
      {"A/b", "A/b"},
      {"a/.../b", "a/.../b"},
      {"/a\\b/../c", "/c"},
      {"/x/a\\b", "/x/a\\b"},
      {"/c:/x", "/c:/x"},
      {"//srv\\share", "/srv\\share"},
      {"C:\\a\\.\\b\\..\\c", "C:\\a\\c"},
      {"c:/x/y", "C:\\x\\y"},
      {"\\\\srv\\share\\a\\..\\b", "\\\\srv\\share\\b"},
      {"\\\\srv\\share\\..\\..", "\\\\srv\\share"},
      {"..\\a", "..\\a"},
      {"a\\..\\..\\b", "..\\b"},
      {"sub\\.\\", "sub"},
      {"a\\..", "."},
      {"c:foo\\bar", "C:foo\\bar"},
      {"c:..\\x", "C:..\\x"},
      {"C:", "C:"},
      {"C:\\", "C:\\"},
      {"C:\\..\\x", "C:\\x"},
      {"\\x\\..\\..\\y", "\\y"},
      {"\\\\.\\COM1", "\\\\.\\COM1"},
      {"\\\\?\\C:\\x\\..\\y", "\\\\?\\C:\\y"},
      {"\\\\srv", "\\\\srv"},
  };
  for (const Case& c : cases) EXPECT_EQ(frontend::source_path::normalizeIdentity(c.path), c.identity) << c.path;
}

}  // namespace
