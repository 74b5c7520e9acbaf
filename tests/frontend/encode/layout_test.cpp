#include "frontend/encode/layout.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "common/error_of.hpp"
#include "frontend/encode/pass.hpp"

using qovrin::testing::errorOf;

namespace {

using frontend::layout::layoutModule;
using frontend::module::Module;
using frontend::target::Target;
using qovrin::Error;

const frontend::SourceLocation kHere{};

// One piece of .text: bytes of a length, a reserve of a size and alignment,
// padding to an alignment, or an instruction of an encoded size.
struct Piece {
  enum class Kind { bytes, reserve, align, instruction } kind;
  std::uint64_t size = 0;
  std::uint64_t alignment = 1;
};

Piece bytes(std::uint64_t length) { return {Piece::Kind::bytes, length}; }
Piece reserve(std::uint64_t size, std::uint64_t alignment = 1) { return {Piece::Kind::reserve, size, alignment}; }
Piece align(std::uint64_t alignment) { return {Piece::Kind::align, 0, alignment}; }
Piece instruction(std::uint32_t encoded) { return {Piece::Kind::instruction, encoded}; }

void add(Module& module, std::uint32_t section, const Piece& piece) {
  switch (piece.kind) {
    case Piece::Kind::bytes:
      ASSERT_TRUE(module.emitRepeatedByte(section, 0xaa, piece.size, kHere));
      break;
    case Piece::Kind::reserve: {
      const auto index = module.reserve(section, piece.size, kHere);
      ASSERT_TRUE(index);
      module.fragments()[*index].reserve()->alignment = piece.alignment;
      break;
    }
    case Piece::Kind::align:
      ASSERT_TRUE(module.addAlignment(section, piece.alignment, 0, kHere));
      break;
    case Piece::Kind::instruction: {
      const auto index = module.appendIsaInstruction(section, Target::x86(64), "nop", kHere);
      ASSERT_TRUE(index);
      module.fragments()[*index].instruction()->encoded = frontend::fragment::SmallBytes(piece.size, 0x90);
      break;
    }
  }
}

struct Row {
  std::uint64_t offset, size, file_size;
  bool tail;
  friend bool operator==(const Row&, const Row&) = default;
};

struct Expected {
  std::vector<Row> rows;
  std::uint64_t memory_size, file_size;
};

TEST(Layout, PlacesFragmentsPaddingAndTrailingReserves) {
  struct Case {
    const char* name;
    std::vector<Piece> pieces;
    std::uint64_t section_alignment;
    Expected expected;
  };
  const Case cases[] = {
      {"empty section", {}, 4, {{}, 0, 0}},
      {"reserve after 3 bytes aligns and counts its padding",
       {bytes(3), reserve(16, 8)},
       4,
       {{{0, 3, 3, false}, {8, 16, 0, true}}, 24, 8}},
      {"only reserves store nothing", {reserve(4), reserve(8, 4)}, 1, {{{0, 4, 0, true}, {4, 8, 0, true}}, 12, 0}},
      {"reserve followed by bytes is stored", {reserve(4), bytes(1)}, 1, {{{0, 4, 4, false}, {4, 1, 1, false}}, 5, 5}},
      {"alignment already met is empty", {bytes(8), align(8), bytes(1)}, 1,
       {{{0, 8, 8, false}, {8, 0, 0, false}, {8, 1, 1, false}}, 9, 9}},
      {"alignment pads up", {bytes(5), align(8)}, 1, {{{0, 5, 5, false}, {5, 3, 3, false}}, 8, 8}},
      {"file size rounds up, memory size does not", {bytes(5)}, 16, {{{0, 5, 5, false}}, 5, 16}},
      {"instruction takes its recorded size", {instruction(0), instruction(7)}, 1,
       {{{0, 0, 0, false}, {0, 7, 7, false}}, 7, 7}},
  };
  for (const Case& test : cases) {
    Module module(Target::x86(64));
    module.sections()[0].alignment = test.section_alignment;
    module.sections()[0].base = 0x1000;
    module.sections()[0].file_offset = 0x20;
    for (const Piece& piece : test.pieces) add(module, 0, piece);
    const auto layout = layoutModule(module);
    ASSERT_TRUE(layout) << test.name;
    ASSERT_EQ(layout->sections.size(), 1u) << test.name;
    const auto& row = layout->sections[0];
    std::vector<Row> rows;
    for (std::uint32_t index = 0; index < row.fragments.size(); ++index) {
      const auto& entry = row.fragments[index];
      const auto& piece = module.fragments()[module.sections()[0].fragments[index]];
      const auto size = frontend::layout::spannedSize(piece, entry.offset);
      ASSERT_TRUE(size) << test.name;
      rows.push_back({entry.offset, *size, row.isTail(index) ? 0 : *size, row.isTail(index)});
    }
    EXPECT_EQ(rows, test.expected.rows) << test.name;
    EXPECT_EQ(row.memory_size, test.expected.memory_size) << test.name;
    EXPECT_EQ(row.file_size, test.expected.file_size) << test.name;
    EXPECT_EQ(row.base, 0x1000u) << test.name;
    EXPECT_EQ(row.file_offset, 0x20u) << test.name;
  }
}

TEST(Layout, RefusesZeroAlignmentsOverflowAndForeignFragments) {
  constexpr std::uint64_t kMax = ~std::uint64_t{0};
  const std::pair<const char*, std::function<void(Module&)>> cases[] = {
      {"section alignment 0", [](Module& m) { m.sections()[0].alignment = 0; }},
      {"reserve alignment 0", [](Module& m) { add(m, 0, reserve(1, 0)); }},
      {"alignment 0", [](Module& m) { add(m, 0, align(0)); }},
      {"offset past 64 bits", [](Module& m) { add(m, 0, reserve(kMax)), add(m, 0, bytes(1)); }},
      {"reserve aligned past 64 bits", [](Module& m) { add(m, 0, reserve(kMax - 1)), add(m, 0, reserve(1, 4)); }},
      {"padding past 64 bits", [](Module& m) { add(m, 0, reserve(kMax - 1)), add(m, 0, align(4)); }},
      {"file size rounded past 64 bits",
       [](Module& m) { add(m, 0, reserve(kMax - 1)), add(m, 0, bytes(0)), m.sections()[0].alignment = 4; }},
  };
  for (const auto& [name, build] : cases) {
    Module module(Target::x86(64));
    build(module);
    EXPECT_EQ(errorOf(layoutModule(module)), Error::OffsetOverflow) << name;
  }
  Module module(Target::x86(64));
  module.sections()[0].fragments.push_back(7);
  EXPECT_EQ(errorOf(layoutModule(module)), Error::InvalidFragment);
}

TEST(Layout, OneRowPerSectionAndLabelsFollowTheirFragments) {
  Module module(Target::x86(64));
  const auto data = module.createOutputSection(".data", 0x2000, 0x100);
  ASSERT_TRUE(data);
  add(module, 0, bytes(2));
  add(module, *data, bytes(3));
  add(module, 0, reserve(4, 4));
  ASSERT_TRUE(module.defineAnchoredLabel("second", 0, 0, 1, kHere));
  ASSERT_TRUE(module.defineAnchoredLabel("end", 0, 0, 2, kHere));
  ASSERT_TRUE(module.defineAnchoredLabel("far", 0, 0, 3, kHere));
  const auto layout = layoutModule(module);
  ASSERT_TRUE(layout);
  ASSERT_EQ(layout->sections.size(), 2u);
  EXPECT_EQ(layout->sections[1].section, *data);
  EXPECT_EQ(layout->sections[1].fragments.size(), 1u);

  // A label beyond the section's list is refused; the ones before it moved.
  EXPECT_EQ(errorOf(frontend::pass::syncAnchoredLabelOffsets(module)), Error::InvalidFragment);
  EXPECT_EQ(module.findSymbol("second")->label()->offset, 4u);
  EXPECT_EQ(module.findSymbol("end")->label()->offset, 8u);

  const frontend::layout::LayoutIndex index(*layout, module.sections(), module.fragments().size());
  ASSERT_NE(index.section(*data), nullptr);
  EXPECT_EQ(index.fragment(*index.section(*data), 1), &layout->sections[1].fragments[0]);
  EXPECT_EQ(index.fragment(*index.section(0), 1), nullptr);
  EXPECT_EQ(index.section(9), nullptr);
}

// Rows built by hand over section lists, runs and not: every lookup gives
// what a scan of the row's entries in order gives.
TEST(LayoutIndex, AgreesWithAScanOfTheRows) {
  struct Shape {
    std::vector<std::vector<std::uint32_t>> lists;                // by section
    std::vector<std::pair<std::uint32_t, std::size_t>> rows;  // section, entries
  };
  const Shape shapes[] = {
      {{{0, 1, 2, 3}}, {{0, 4}}},
      {{{0, 2, 4}, {1, 3}}, {{0, 3}, {1, 2}}},
      {{{5, 6}, {0, 1}, {2, 9}}, {{0, 2}, {1, 2}, {2, 2}}},
      {{{0, 1}, {1, 2, 1}}, {{0, 2}, {1, 3}, {1, 2}}},  // a fragment named twice, a section in two rows
      {{{}, {4, 4}, {}, {0}}, {{0, 0}, {3, 1}, {1, 2}}},
      {{{0, 1, 2}}, {{0, 2}}},  // the list grew after the layout
  };
  constexpr std::uint32_t kFragments = 8;
  for (const Shape& shape : shapes) {
    Module module(Target::x86(64));
    while (module.sections().size() < shape.lists.size()) ASSERT_TRUE(module.createOutputSection(".s", 0, 0));
    for (std::uint32_t section = 0; section < shape.lists.size(); ++section)
      module.sections()[section].fragments = shape.lists[section];
    frontend::layout::ModuleLayout layout;
    for (const auto& [section, entries] : shape.rows) {
      frontend::layout::SectionLayout row;
      row.section = section;
      row.fragments.resize(entries);
      layout.sections.push_back(std::move(row));
    }
    const frontend::layout::LayoutIndex index(layout, module.sections(), kFragments);
    for (std::uint32_t row = 0; row < layout.sections.size(); ++row) {
      const auto& section = layout.sections[row];
      const auto first_row = std::ranges::find(layout.sections, section.section,
                                               &frontend::layout::SectionLayout::section);
      EXPECT_EQ(index.section(section.section), &*first_row);
      const auto& list = shape.lists[section.section];
      const auto listed = list.begin() + static_cast<std::ptrdiff_t>(section.fragments.size());
      for (std::uint32_t fragment = 0; fragment < kFragments + 4; ++fragment) {
        const auto found = std::find(list.begin(), listed, fragment);
        const auto* expected =
            found == listed ? nullptr : &section.fragments[static_cast<std::size_t>(found - list.begin())];
        EXPECT_EQ(index.fragment(section, fragment), expected) << "row " << row << " fragment " << fragment;
      }
    }
  }
}

}  // namespace
