#include "frontend/syntax/byte_scan.hpp"

#include <gtest/gtest.h>

#include <string>
#include <string_view>

namespace {

using frontend::byte_scan::findFirstOf;

std::size_t byteLoop(std::string_view text, std::size_t from) {
  while (from < text.size() && text[from] != ' ' && text[from] != '\t') ++from;
  return from;
}

// Every start in texts of every length up to three words, with the wanted
// bytes before the start, in the last partial word and nowhere, and with
// bytes one bit away from a wanted one ('!' beside ' ', '\b' beside '\t'),
// which a scan that lets one byte's borrow spill into the next would take.
TEST(ByteScan, AgreesWithAByteLoopAtEveryStart) {
  const std::string_view pieces[] = {"mov", " !", "rax,", "\t\b", "vaddps", "!!", "x"};
  std::string text;
  for (std::size_t round = 0; text.size() < 24; ++round) {
    for (std::size_t start = 0; start <= text.size(); ++start)
      EXPECT_EQ((findFirstOf<' ', '\t'>(text, start)), byteLoop(text, start)) << '"' << text << "\" from " << start;
    text += pieces[(round * 3 + 1) % std::size(pieces)];
  }
  const std::string none(19, '!');
  for (std::size_t start = 0; start <= none.size(); ++start)
    EXPECT_EQ((findFirstOf<' ', '\t'>(none, start)), none.size());
}

}  // namespace
