#include "spirv_encoder/text_tables.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <string_view>
#include <tuple>

namespace {

namespace tables = spirv_encoder::text_tables;
using tables::ExtInstSet;
using tables::OperandKind;

// Every row is found again by its own name through the hash slots, unless an
// earlier row of the same key holds that name.
TEST(GrammarTables, EveryRowIsFoundByName) {
  for (const auto& row : tables::spirv_instructions) EXPECT_EQ(tables::findInstruction(row.name), &row) << row.name;
  for (const auto& row : tables::spirv_spec_constant_ops)
    EXPECT_EQ(tables::findSpecConstantOp(row.name), &row) << row.name;
  for (std::size_t set = 0; set < tables::kExtInstSetCount; ++set) {
    const auto range = tables::spirv_ext_inst_ranges[set];
    for (std::size_t row = range.first; row < range.first + range.count; ++row)
      EXPECT_EQ(tables::findExtInst(ExtInstSet(set), tables::spirv_ext_insts[row].name), &tables::spirv_ext_insts[row])
          << tables::spirv_ext_insts[row].name;
  }
  for (const auto& row : tables::spirv_enumerants) {
    const auto* found = tables::lookupEnumerant(row.kind, row.name);
    ASSERT_NE(found, nullptr) << row.name;
    EXPECT_LE(found, &row) << row.name;
    EXPECT_EQ(found->value, row.value) << row.name;
  }
}

TEST(GrammarTables, NamesMatchExactlyAndOnlyUnderTheirKind) {
  const std::tuple<OperandKind, std::string_view, bool, std::uint32_t> cases[] = {
      {OperandKind::AddressingModel, "PhysicalStorageBuffer64", true, 5348},
      {OperandKind::AddressingModel, "PhysicalStorageBuffer64EXT", true, 5348},
      {OperandKind::Capability, "Shader", true, 1},
      {OperandKind::Capability, "shader", false, 0},
      {OperandKind::Capability, "Vertex", false, 0},
      {OperandKind::ExecutionModel, "Vertex", true, 0},
      {OperandKind::Dim, "2D", true, 1},
      {OperandKind::ImageOperands, "Grad", true, 4},
      {OperandKind::DebugInfoFlags, "FlagIsPublic", true, 3},
      {OperandKind::Capability, "Shade", false, 0},
  };
  for (const auto& [kind, name, found, value] : cases) {
    const auto* row = tables::lookupEnumerant(tables::kindNumber(kind), name);
    ASSERT_EQ(row != nullptr, found) << name;
    if (row) {
      EXPECT_EQ(row->value, value) << name;
    }
  }
  EXPECT_EQ(tables::findInstruction("opnop"), nullptr);
  EXPECT_EQ(tables::findInstruction("OpSDotKHR"), nullptr);  // aliases are no rows
  EXPECT_EQ(tables::findSpecConstantOp("OpIAdd"), nullptr);
  EXPECT_EQ(tables::findSpecConstantOp("SpecConstantOp"), nullptr);
  EXPECT_EQ(tables::findExtInst(ExtInstSet::opencl_std, "Sqrt"), nullptr);
  EXPECT_EQ(tables::findExtInst(ExtInstSet::glsl_std_450, "Sqrt")->number, 31u);
  EXPECT_EQ(tables::findExtInst(ExtInstSet::opencl_std, "sqrt")->number, 61u);
}

TEST(GrammarTables, ExtendedSetsByImportName) {
  EXPECT_EQ(tables::findExtInstSet("GLSL.std.450"), ExtInstSet::glsl_std_450);
  EXPECT_EQ(tables::findExtInstSet("NonSemantic.Shader.DebugInfo.100"), ExtInstSet::nonsemantic_shader_debug_info_100);
  EXPECT_EQ(tables::findExtInstSet("glsl.std.450"), std::nullopt);
  EXPECT_EQ(tables::findExtInstSet("GLSL.std.450 "), std::nullopt);
}

}  // namespace
