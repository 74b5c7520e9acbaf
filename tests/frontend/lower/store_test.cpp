#include <gtest/gtest.h>

#include "api_test_support.hpp"

namespace {

using api_test::expectCases;

TEST(StoreCalls, TargetsAndRanges) {
  expectCases({
      {"start:\ndb(0,0,0,0,0,0,0,0)\nstore.u32(start + 4, 7)\n", "00 00 00 00 07 00 00 00"},
      {"origin(0x1000)\nstart:\ndb(0, 0)\nstore.u16(0x1000, 0xbeef)\n", "ef be"},
      {"start:\ndb(0, 0)\nstore.u8(start, 0x100)\n", "", {"main.qov:3:1: error: lowering failed: InvalidApiInteger"}, false},
      {"start:\ndb(0, 0)\nstore.u64(start, 1)\n",
       "",
       {"main.qov:3:1: error: lowering failed: InvalidApiArgument"},
       false},
      {"start:\ndb(0, 0)\nstore.bytes(start + 1, bytes.from_hex(\"05\"))\n", "00 05"},
      {"start:\ndb(0, 0)\nstore.bytes(start, \"xy\")\n", "78 79"},
      {"start:\ndb(0, 0)\nstore.bytes(start, 1)\n", "", {"main.qov:3:1: error: lowering failed: InvalidApiArgument"}, false},
      {"let at = 1\ndb(0, 0)\nstore.u8(at, 9)\n", "00 09"},
      {"const at = 1\ndb(0, 0)\nstore.u8(at, 9)\n", "00 09"},
      {"start:\ndb(0)\nrb(2)\ndb(0)\nstore.u8(start + 1, 1)\n",
       "",
       {"main.qov:5:1: error: lowering failed: InvalidApiArgument"},
       false},
      {"origin(0x10)\ndb(0)\nstore.u8(0, 1)\n", "", {"main.qov:3:1: error: lowering failed: InvalidApiArgument"}, false},
      {"db(0)\nstore.u8(0x8000000000000000, 1)\n",
       "",
       {"main.qov:2:1: error: lowering failed: InvalidApiArgument"},
       false},
      {"db(0)\nstore.u8(\"x\", 1)\n", "", {"main.qov:2:1: error: lowering failed: InvalidApiArgument"}, false},
      {"db(0)\nstore.u8(0)\n", "", {"main.qov:2:1: error: lowering failed: InvalidApiArity"}, false},
      // A store works on a closed region.
      {"start:\ndb(0)\nregion.file_align(4)\nstore.u8(start, 3)\n", "03"},
  });
}

TEST(StoreCalls, TheLabelsSectionNotTheCurrentOne) {
  frontend::module::Module module(frontend::target::Target::x86(64));
  const auto lowered = lower_test::lower(
      module, "head:\ndb(0, 0, 0, 0)\nregion.begin(\"b\", 0x1000, 4)\ndb(1)\nstore.u16(head + 2, 0x0a0b)\n");
  ASSERT_TRUE(lowered.status);
  EXPECT_EQ(api_test::sectionContent(module, 0), "00 00 0b 0a");
  EXPECT_EQ(api_test::sectionContent(module, 1), "01");
}

TEST(StoreCalls, LabelsOfTwoSectionsAreRefusedAndNothingIsWritten) {
  frontend::module::Module module(frontend::target::Target::x86(64));
  const auto lowered = lower_test::lower(
      module, "a:\ndb(1, 1)\nregion.begin(\"b\", 0, 2)\nb:\ndb(2, 2)\nstore.u8(a + b, 0)\n");
  EXPECT_FALSE(lowered.status);
  EXPECT_EQ(lowered.diagnostics, std::vector<std::string>{"main.qov:6:1: lowering failed: InvalidApiArgument"});
  EXPECT_EQ(api_test::sectionContent(module, 0), "01 01");
}

TEST(StoreCalls, ARangePastTheBytesWritesNothing) {
  frontend::module::Module module(frontend::target::Target::x86(64));
  const auto lowered = lower_test::lower(module, "s:\ndb(1, 2, 3)\nstore.u32(s, 0)\n");
  EXPECT_FALSE(lowered.status);
  EXPECT_EQ(api_test::sectionContent(module, 0), "01 02 03");
}

}  // namespace
