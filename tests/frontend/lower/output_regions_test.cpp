#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "frontend/lower/layout_cursor.hpp"
#include "frontend/lower/root.hpp"
#include "lower_test_support.hpp"

namespace {

using frontend::module::Module;
using frontend::target::Target;
using lower_test::expectOutputCases;

// Each section as "name base+file_offset/alignment: content".
void expectSections(std::string_view source, const std::vector<std::string>& expected) {
  SCOPED_TRACE(source);
  Module module(Target::x86(64));
  ASSERT_TRUE(lower_test::lower(module, source).status);
  std::vector<std::string> actual;
  for (std::uint32_t index = 0; index < module.sections().size(); ++index) {
    const auto& section = module.sections()[index];
    actual.push_back(section.name + " " + std::to_string(section.base) + "+" + std::to_string(section.file_offset) +
                     "/" + std::to_string(section.alignment) + ": " + lower_test::sectionContent(module, index));
  }
  EXPECT_EQ(actual, expected);
}

TEST(OutputRegions, SectionsTheyOpen) {
  expectSections("db(1)\nregion.begin(\"b\", 0x1000, 4)\ndb(2)\n", {".text 0+0/1: 01", "b 4096+4/1: 02"});
  expectSections("origin(0x7c00)\ndb(1)\n", {".text 31744+0/1: 01"});
  expectSections("region.begin(\"h\", 0, 0x200)\ndb(1, 2, 3, 4, 5)\noutput.org(\"b\", 0x2000)\n",
                 {".text 0+0/1: ", "h 0+512/1: 01 02 03 04 05", "b 8192+517/1: "});
  expectSections("db(1)\nrb(3)\noutput.org(\"b\", 0x2000)\n", {".text 0+0/1: 01 r3", "b 8192+4/1: "});
  expectSections("db(1)\nrb(3)\noutput.section(\"b\", 0x2000)\n", {".text 0+0/1: 01 r3", "b 8192+1/1: "});
  expectSections("db(1, 2, 3, 4, 5)\nregion.file_align(16)\nregion.begin(\"c\", 0, 16)\ndb(6)\n",
                 {".text 0+0/16: 01 02 03 04 05", "c 0+16/1: 06"});
  expectSections("let name = \"n\"\nregion.begin(name, 1, 2)\n", {".text 0+0/1: ", "n 1+2/1: "});
}

TEST(OutputRegions, ClosedRegionsAndFailures) {
  expectOutputCases({
      {"region.file_align(16)\nemit.u8(0)\n", "", {"main.qov:2:1: error: lowering failed: OutputRegionClosed"}, false},
      {"region.file_align(16)\nx:\n", "", {"main.qov:2:1: error: lowering failed: OutputRegionClosed"}, false},
      {"region.file_align(16)\norigin(0x1000)\nx86.use32()\n", ""},
      {"region.file_align(16)\nregion.begin(\"n\", 0, 16)\ndb(1)\n", "01"},
      {"region.file_align(3)\n", "", {"main.qov:1:1: error: lowering failed: InvalidAlignment"}, false},
      {"region.begin(\"b\", 0)\n",
       "",
       {"main.qov:1:1: error: lowering failed: InvalidApiArity",
        "main.qov:1:1: note: 'region.begin' takes 3 arguments, 2 given: region.begin(name, address, file_offset)"},
       false},
      {"region.begin(1, 0, 0)\n", "", {"main.qov:1:1: error: lowering failed: InvalidApiArgument"}, false},
      {"virtual.begin()\noutput.org(\"b\", 0)\n", "", {"main.qov:2:1: error: lowering failed: InvalidApiCall"}, false},
      {"region.begin(\"h\", 0, 0xffffffffffffffff)\nreserve(1)\noutput.org(\"b\", 0)\n",
       "",
       {"main.qov:3:1: error: lowering failed: OffsetOverflow"},
       false},
  });
}

TEST(VirtualRegions, AddressesAndRestoring) {
  expectOutputCases({
      {"db(1)\nvirtual.begin()\nv:\nrb(4)\nw:\nvirtual.end()\nprint(w - v, v)\n", "01", {"main.qov:7:1: note: 4 1"}},
      {"origin(0x100)\ndb(1)\nvirtual.begin(0x40)\nv:\nvirtual.end()\nprint(v)\n", "01", {"main.qov:6:1: note: 64"}},
      {"virtual.end()\n", "", {"main.qov:1:1: error: lowering failed: UnmatchedVirtualEnd"}, false},
      // Reported by the driver, which has no line for it.
      {"virtual.begin()\n",
       "",
       {"main.qov:1:1: note: this virtual.begin has no virtual.end before the end of the source"},
       false},
      {"virtual.begin(1, 2)\n",
       "",
       {"main.qov:1:1: error: lowering failed: InvalidApiArity",
        "main.qov:1:1: note: 'virtual.begin' takes 0 or 1 argument, 2 given: virtual.begin() or virtual.begin(base)"},
       false},
      {"db(1)\nvirtual.begin()\nvirtual.begin()\ndb(2)\nvirtual.end()\nvirtual.end()\ndb(3)\n", "01 03"},
  });
}

TEST(VirtualRegions, TargetSwitchInsideIsUndone) {
  Module module(Target::x86(64));
  ASSERT_TRUE(lower_test::lower(module, "virtual.begin()\nx86.use16()\nvirtual.end()\n").status);
  EXPECT_EQ(module.target(), Target::x86(64));
  EXPECT_EQ(module.currentSection(), 0u);
}

TEST(TargetSwitches, ModuleTargetFollows) {
  const std::vector<std::pair<std::string_view, Target>> rows = {
      {"x86.use16()\n", Target::x86(16)},
      {"riscv.use32()\n", Target::riscv(32)},
      {"spv.use()\n", Target::spirv()},
  };
  for (const auto& [source, target] : rows) {
    SCOPED_TRACE(source);
    Module module(Target::x86(32));
    ASSERT_TRUE(lower_test::lower(module, source).status);
    EXPECT_EQ(module.target(), target);
  }
  // ld exists only in RV64.
  Module module(Target::x86(64));
  ASSERT_TRUE(lower_test::lower(module, "riscv.use64()\nisa(\"ld a0, 0(a1)\")\n").status);
  EXPECT_EQ(lower_test::sectionContent(module, 0), "[03 b5 05 00]");
}

TEST(LabelDefine, NamesAndPositions) {
  expectOutputCases({
      {"db(1, 2)\nlabel.define(\"two\")\nprint(two)\n", "01 02", {"main.qov:3:1: note: 2"}},
      {"label.define(sym.join(\"a\", \"b\"))\nprint(ab)\n", "", {"main.qov:2:1: note: 0"}},
      {"label.define(\"1x\")\n", "", {"main.qov:1:1: error: lowering failed: InvalidApiArgument"}, false},
      {"label.define(3)\n", "", {"main.qov:1:1: error: lowering failed: InvalidApiArgument"}, false},
      {"a:\nlabel.define(\"a\")\n",
       "",
       {"main.qov:2:1: error: lowering failed: DuplicateSymbol", "main.qov:2:1: note: 'a' is already defined",
        "main.qov:1:1: note: first definition of 'a'"},
       false},
  });
}

TEST(Includes, AnIncludedSourceEmitsIntoTheCurrentRegion) {
  lower_test::Files files;
  files.texts["part.inc"] = "db(2)\n";
  Module module(Target::x86(64));
  ASSERT_TRUE(
      lower_test::lower(module, "db(1)\nregion.begin(\"b\", 0, 1)\ninclude(\"part.inc\")\ndb(3)\n", files).status);
  EXPECT_EQ(lower_test::sectionContent(module, 0), "01");
  EXPECT_EQ(lower_test::sectionContent(module, 1), "02 03");
}

frontend::fragment::Fragment piece(frontend::fragment::Payload payload) {
  return frontend::fragment::Fragment{std::move(payload), 0, {}};
}

TEST(LayoutCursor, AdvanceOverEachFragmentKind) {
  namespace fragment = frontend::fragment;
  namespace layout_cursor = frontend::lower::layout_cursor;
  frontend::lower::contracts::ActiveOutput cursor{3, 8, 0, Target::x86(64), false};
  ASSERT_TRUE(layout_cursor::advanceActiveOutput(cursor, piece(fragment::Reserve{4, 1})));
  EXPECT_EQ(cursor.offset, 7u);
  EXPECT_EQ(cursor.file_cursor, 8u);
  ASSERT_TRUE(layout_cursor::advanceActiveOutput(cursor, piece(fragment::Bytes{{1, 2}})));
  EXPECT_EQ(cursor.offset, 9u);
  EXPECT_EQ(cursor.file_cursor, 10u);
  ASSERT_TRUE(layout_cursor::advanceActiveOutput(cursor, piece(fragment::Alignment{8, 0})));
  EXPECT_EQ(cursor.offset, 16u);
  EXPECT_EQ(cursor.file_cursor, 16u);
  EXPECT_FALSE(layout_cursor::advanceActiveOutput(cursor, piece(fragment::Alignment{6, 0})));
  EXPECT_EQ(cursor.offset, 16u);
  cursor.offset = ~0ull;
  EXPECT_FALSE(layout_cursor::advanceActiveOutput(cursor, piece(fragment::Reserve{1, 1})));
  EXPECT_EQ(cursor.offset, ~0ull);
  EXPECT_EQ(layout_cursor::alignForward(5, 4), 8u);
  EXPECT_EQ(layout_cursor::alignForward(8, 4), 8u);
  EXPECT_FALSE(layout_cursor::alignForward(~0ull, 4));
  EXPECT_FALSE(layout_cursor::alignForward(5, 0));
}

// A later lowering call writes on in a section whose file size an earlier
// one rounded up; padding then measures the section again.
TEST(OutputRegions, PaddingAfterAFileAlignmentOfAnEarlierSource) {
  Module module(Target::x86(64));
  ASSERT_TRUE(lower_test::lower(module, "db(1, 2, 3, 4, 5)\nregion.file_align(16)\n").status);
  ASSERT_TRUE(lower_test::lower(module, "db(6)\npad_to(20)\n").status);
  EXPECT_EQ(lower_test::sectionContent(module, 0), "01 02 03 04 05 06 00 00 00 00");
}

}  // namespace
