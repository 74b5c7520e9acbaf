#include "common/packed_words.hpp"

#include <gtest/gtest.h>

#include <array>
#include <string_view>

namespace {

constexpr std::array<std::string_view, 5> kWords = {"rep", "repe", "al", "xacquire", "b"};
constexpr auto kSet = qovrin::packedWordSet(kWords);

TEST(PackedWords, FindsExactlyTheListedWordsIgnoringCase) {
  struct Case {
    std::string_view word;
    bool found;
  };
  const Case cases[] = {
      {"rep", true},      {"REPE", true},  {"Al", true},      {"xAcquire", true}, {"b", true},
      {"re", false},      {"repz", false}, {"repee", false},  {"a", false},       {"", false},
      {"xacquires", false}, {"bb", false},
  };
  for (const Case& test : cases) EXPECT_EQ(qovrin::inPackedWordSet(kSet, test.word), test.found) << test.word;
}

}  // namespace
