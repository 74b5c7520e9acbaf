#include "frontend/source_path.hpp"

#include <gtest/gtest.h>

namespace {

using frontend::source_path::normalizeIdentity;

struct Case {
  const char* path;
  const char* identity;
};

void expectIdentities(std::initializer_list<Case> cases) {
  for (const auto& c : cases) EXPECT_EQ(normalizeIdentity(c.path), c.identity) << c.path;
}

TEST(SourceIdentity, Posix) {
  expectIdentities({
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
      {"dir/../main.qov", "main.qov"},
      {"A/b", "A/b"},
      {"a/b", "a/b"},
      {"a/.../b", "a/.../b"},
      {"/a\\b/../c", "/c"},
      {"/x/a\\b", "/x/a\\b"},
      {"/c:/x", "/c:/x"},
      {"//srv\\share", "/srv\\share"},
  });
}

TEST(SourceIdentity, Windows) {
  expectIdentities({
      {"C:\\a\\.\\b\\..\\c", "C:\\a\\c"},
      {"c:/x/y", "C:\\x\\y"},
      {"\\\\srv\\share\\a\\..\\b", "\\\\srv\\share\\b"},
      {"\\\\srv\\share\\..\\..", "\\\\srv\\share"},
      {"..\\a", "..\\a"},
      {"a\\..\\..\\b", "..\\b"},
      {"sub\\file", "sub\\file"},
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
  });
}

TEST(SourceIdentity, DistinctFilesStayDistinct) {
  EXPECT_NE(normalizeIdentity("/a\\b"), normalizeIdentity("/a/b"));
  EXPECT_NE(normalizeIdentity("A/b"), normalizeIdentity("a/b"));
  EXPECT_EQ(normalizeIdentity("dir/../main.qov"), normalizeIdentity("main.qov"));
  EXPECT_EQ(normalizeIdentity("C:/a/b"), normalizeIdentity("c:\\a\\.\\b"));
}

}  // namespace
