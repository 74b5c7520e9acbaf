#include "riscv_encoder/tables.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "common/error_of.hpp"

namespace {

using qovrin::Error;
using qovrin::testing::errorOf;
namespace tables = riscv_encoder::tables;

TEST(InstructionTable, CountsAndOrder) {
  const auto& rows = tables::instructions;
  EXPECT_EQ(rows.size(), 1700u);
  EXPECT_EQ(std::ranges::count(rows, 16, &riscv_encoder::RiscvInstructionRow::width), 80);
  std::map<std::pair<int, int>, int> ranges;
  for (const auto& row : rows) ++ranges[{row.xlen_min, row.xlen_max}];
  EXPECT_EQ(ranges, (std::map<std::pair<int, int>, int>{{{32, 64}, 1096}, {{32, 32}, 337}, {{64, 64}, 267}}));
  EXPECT_TRUE(std::ranges::is_sorted(rows, {}, &riscv_encoder::RiscvInstructionRow::mnemonic));
}

// Fields never overlap each other or the fixed bits, every name reads a
// value slot, and together they cover the instruction.
TEST(InstructionTable, FieldsAndMaskCoverEveryRow) {
  for (const auto& row : tables::instructions) {
    std::uint64_t covered = row.mask;
    EXPECT_EQ(row.match & ~row.mask, 0u) << row.mnemonic;
    for (const auto& field : row.fields) {
      const std::uint64_t bits = ((std::uint64_t{1} << field.width) - 1) << field.low_bit;
      EXPECT_EQ(covered & bits, 0u) << row.mnemonic << " " << field.name;
      EXPECT_NE(field.slot, riscv_encoder::encode::kNoSlot) << row.mnemonic << " " << field.name;
      covered |= bits;
    }
    EXPECT_EQ(covered, (std::uint64_t{1} << row.width) - 1) << row.mnemonic;
    EXPECT_GE(row.kind, 1);
    EXPECT_LE(row.kind, 100);
  }
}

TEST(InstructionTable, LookupByMnemonicAndXlen) {
  const std::tuple<std::string_view, unsigned, std::string_view, int> found[] = {
      {"slli", 32, "slli_rv32", 10}, {"slli", 64, "slli", 10}, {"ld", 32, "ld", 9},
      {"ld", 64, "ld", 8},           {"c_slli", 64, "c_slli", 75}, {"c_slli_rv32", 32, "c_slli_rv32", 75},
      {"beq", 32, "beq", 28},        {"c_j", 64, "c_j", 80},   {"jal_pseudo", 64, "jal_pseudo", 36},
  };
  for (const auto& [mnemonic, xlen, name, kind] : found) {
    const auto row = tables::findInstruction(mnemonic, xlen);
    ASSERT_TRUE(row.has_value()) << mnemonic << " RV" << xlen;
    EXPECT_EQ((*row)->unique_name, name) << mnemonic << " RV" << xlen;
    EXPECT_EQ((*row)->kind, kind) << mnemonic << " RV" << xlen;
  }
  EXPECT_EQ(errorOf(tables::findInstruction("addiw", 32)), Error::UnsupportedXLen);
  EXPECT_EQ(errorOf(tables::findInstruction("c_slli", 32)), Error::UnsupportedXLen);
  EXPECT_EQ(errorOf(tables::findInstruction("c_jal", 64)), Error::UnsupportedXLen);
  EXPECT_EQ(errorOf(tables::findInstruction("foo", 64)), Error::UnsupportedInstruction);
  EXPECT_EQ(errorOf(tables::findInstruction("ADD", 64)), Error::UnsupportedInstruction);
}

// The mnemonic index must give exactly the rows a scan from the top finds,
// for every mnemonic of the table and for near misses of each.
TEST(InstructionTable, IndexFindsTheRowsOfAScan) {
  const auto scan = [](std::string_view mnemonic) {
    std::vector<const riscv_encoder::RiscvInstructionRow*> rows;
    for (const auto& row : tables::instructions)
      if (row.mnemonic == mnemonic) rows.push_back(&row);
    return rows;
  };
  for (const auto& row : tables::instructions) {
    const std::string name(row.mnemonic);
    for (const std::string& text : {name, name + "_", name.substr(1), name.substr(0, name.size() - 1),
                                    name + std::string(1, '\0'), "c_" + name}) {
      std::vector<const riscv_encoder::RiscvInstructionRow*> found;
      for (const auto& entry : tables::rowsOf(text)) found.push_back(&entry);
      EXPECT_EQ(found, scan(text)) << text;
      for (const unsigned xlen : {32u, 64u}) {
        const auto* first = [&]() -> const riscv_encoder::RiscvInstructionRow* {
          for (const auto* candidate : scan(text))
            if (candidate->xlen_min <= xlen && xlen <= candidate->xlen_max) return candidate;
          return nullptr;
        }();
        const auto looked_up = tables::findInstruction(text, xlen);
        EXPECT_EQ(looked_up ? *looked_up : nullptr, first) << text << " RV" << xlen;
      }
    }
  }
}

TEST(InstructionTable, PreLookupPrefersTheRowThatServesXlen64) {
  EXPECT_EQ(tables::preLookup("ld")->kind, 8);
  EXPECT_EQ(tables::preLookup("c_jal")->xlen_max, 32);
  EXPECT_EQ(tables::preLookup("nothing"), nullptr);
  EXPECT_EQ(tables::rowsOf("slli").size(), 2u);
  EXPECT_TRUE(tables::rowsOf("").empty());
}

}  // namespace
