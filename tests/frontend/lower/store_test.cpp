#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "lower_test_support.hpp"

namespace {

using lower_test::expectOutputCases;

TEST(StoreCalls, TargetsAndRanges) {
  expectOutputCases({
      {"start:\ndb(0,0,0,0,0,0,0,0)\nstore.u32(start + 4, 7)\n", "00 00 00 00 07 00 00 00"},
      {"origin(0x1000)\nstart:\ndb(0, 0)\nstore.u16(0x1000, 0xbeef)\n", "ef be"},
      {"start:\ndb(0, 0)\nstore.u8(start, 0x100)\n",
       "",
       {"main.qov:3:1: error: lowering failed: InvalidApiInteger",
        "main.qov:3:1: note: 256 does not fit the 8-bit field of store.u8"},
       false},
      {"x:\ndb(0, 0, 0)\nstore.u16(x, -1)\nstore.u8(x + 2, -128)\n", "ff ff 80"},
      {"start:\ndb(0, 0)\nstore.u16(start, -32769)\n",
       "",
       {"main.qov:3:1: error: lowering failed: InvalidApiInteger",
        "main.qov:3:1: note: -32769 does not fit the 16-bit field of store.u16"},
       false},
      {"start:\ndb(0, 0)\nstore.u64(start, 1)\n",
       "",
       {"main.qov:3:1: error: lowering failed: InvalidApiArgument",
        "main.qov:3:1: note: 'store.u64' writes 8 bytes at address 0x0, outside the 2 bytes its section holds, at 0x0 "
        "to 0x1"},
       false},
      {"start:\ndb(0, 0)\nstore.bytes(start + 1, bytes.from_hex(\"05\"))\n", "00 05"},
      {"start:\ndb(0, 0)\nstore.bytes(start, \"xy\")\n", "78 79"},
      {"start:\ndb(0, 0)\nstore.bytes(start, 1)\n",
       "",
       {"main.qov:3:1: error: lowering failed: InvalidApiArgument"},
       false},
      {"let at = 1\ndb(0, 0)\nstore.u8(at, 9)\n", "00 09"},
      {"const at = 1\ndb(0, 0)\nstore.u8(at, 9)\n", "00 09"},
      {"start:\ndb(0)\nrb(2)\ndb(0)\nstore.u8(start + 1, 1)\n",
       "",
       {"main.qov:5:1: error: lowering failed: InvalidApiArgument"},
       false},
      {"origin(0x10)\ndb(0)\nstore.u8(0, 1)\n",
       "",
       {"main.qov:3:1: error: lowering failed: InvalidApiArgument",
        "main.qov:3:1: note: 'store.u8' writes 1 byte at address 0x0, outside the 1 byte its section holds, at 0x10"},
       false},
      {"db(0)\nstore.u8(0x8000000000000000, 1)\n",
       "",
       {"main.qov:2:1: error: lowering failed: InvalidApiArgument"},
       false},
      {"db(0)\nstore.u8(\"x\", 1)\n", "", {"main.qov:2:1: error: lowering failed: InvalidApiArgument"}, false},
      {"db(0)\nstore.u8(0)\n",
       "",
       {"main.qov:2:1: error: lowering failed: InvalidApiArity",
        "main.qov:2:1: note: 'store.u8' takes 2 arguments, 1 given: store.u8(place, value)"},
       false},
      // A store works on a closed region.
      {"start:\ndb(0)\nregion.file_align(4)\nstore.u8(start, 3)\n", "03"},
  });
}

// Stores reach the section of the label they name, and write nothing unless
// the whole range is emitted bytes.
TEST(StoreCalls, SectionsOfLabelsAndWholeRanges) {
  struct Row {
    const char* source;
    bool succeeds;
    std::vector<std::string> sections;
  };
  const std::vector<Row> rows = {
      {"head:\ndb(0, 0, 0, 0)\nregion.begin(\"b\", 0x1000, 4)\ndb(1)\nstore.u16(head + 2, 0x0a0b)\n",
       true,
       {"00 00 0b 0a", "01"}},
      {"a:\ndb(1, 1)\nregion.begin(\"b\", 0, 2)\nb:\ndb(2, 2)\nstore.u8(a + b, 0)\n", false, {"01 01", "02 02"}},
      {"s:\ndb(1, 2, 3)\nstore.u32(s, 0)\n", false, {"01 02 03"}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.source);
    frontend::module::Module module(frontend::target::Target::x86(64));
    EXPECT_EQ(lower_test::lower(module, row.source).status.has_value(), row.succeeds);
    for (std::uint32_t index = 0; index < row.sections.size(); ++index)
      EXPECT_EQ(lower_test::sectionContent(module, index), row.sections[index]);
  }
}

// A load reads the section of the first label its sum names, wherever in
// the sum it stands, while another section is current.
TEST(LoadCalls, ReadTheSectionOfTheLabelOnEitherSide) {
  const char* const sources[] = {
      "L:\ndb(7, 9)\noutput.section(\"b\", 0x100)\ndb(load.u8(1 + L), load.u8(L + 1), load.u8(L), load.u8(0 + L + 1))\n",
      "db(5)\noutput.section(\"b\", 0x100)\nL:\ndb(7, 9)\noutput.section(\"c\", 0x200)\n"
      "db(load.u8(1 + L), load.u8(L + 1), load.u8(L), load.u8(0 + L + 1))\n",
  };
  const std::vector<std::string> expected[] = {{"07 09", "09 09 07 09"}, {"05", "07 09", "09 09 07 09"}};
  for (std::size_t row = 0; row < std::size(sources); ++row) {
    SCOPED_TRACE(sources[row]);
    frontend::module::Module module(frontend::target::Target::x86(64));
    ASSERT_TRUE(lower_test::lower(module, sources[row]).status.has_value());
    for (std::uint32_t index = 0; index < expected[row].size(); ++index)
      EXPECT_EQ(lower_test::sectionContent(module, index), expected[row][index]);
  }
}

}  // namespace
