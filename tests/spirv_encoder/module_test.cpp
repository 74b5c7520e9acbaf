#include "spirv_encoder/module.hpp"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "frontend/support/failing_allocation.hpp"
#include "spirv_test_support.hpp"

namespace {

using qovrin::Error;
using spirv_test::assemble;
using spirv_test::Outcome;
using spirv_test::Words;
namespace module = spirv_encoder::module;

TEST(ModuleAssembly, WholeModules) {
  const std::pair<std::string_view, Outcome> cases[] = {
      {"OpCapability Shader\nOpMemoryModel Logical GLSL450",
       Words{0x07230203, 0x00010600, 0, 1, 0, 0x00020011, 1, 0x0003000E, 0, 1}},
      {"%1 = OpTypeVoid", Words{0x07230203, 0x00010600, 0, 2, 0, 0x00020013, 1}},
      {"OpTypeVoid %1", Words{0x07230203, 0x00010600, 0, 2, 0, 0x00020013, 1}},
      {"%0x1f = OpTypeBool", Words{0x07230203, 0x00010600, 0, 32, 0, 0x00020014, 31}},
      {"\n  \t\r\n%1 = OpTypeVoid\n\n", Words{0x07230203, 0x00010600, 0, 2, 0, 0x00020013, 1}},
      {"", Words{0x07230203, 0x00010600, 0, 1, 0}},
      // A line may name an id that a later line defines.
      {"OpName %40 \"x\"\n%3 = OpTypeVoid\n%40 = OpTypeBool",
       Words{0x07230203, 0x00010600, 0, 41, 0, 0x00030005, 40, 0x78, 0x00020013, 3, 0x00020014, 40}},
      {"%4294967294 = OpTypeVoid", Words{0x07230203, 0x00010600, 0, 0xFFFFFFFF, 0, 0x00020013, 0xFFFFFFFE}},
      {"%4294967295 = OpTypeVoid", Error::Overflow},
      {"%1 = OpNop", Error::ExpectedOperand},
      {"%1 = OpCapability Shader", Error::ExpectedOperand},
      {"%1 OpTypeVoid", Error::ExpectedEquals},
      {"%1", Error::ExpectedEquals},
      {"%1 =", Error::UnknownOpcode},
      {"%0x = OpTypeBool", Error::InvalidInteger},
      {"%1 = OpTypeVoid %2", Error::TooManyOperands},
      {"OpCapability Shader Kernel", Error::TooManyOperands},
      {"opCapability Shader", Error::UnknownOpcode},
      {"OpSDotKHR %1 %2 %3 %4", Error::UnknownOpcode},
      {"OpCapability Shader\nOpBogus", Error::UnknownOpcode},
  };
  for (const auto& [text, expected] : cases) EXPECT_EQ(assemble(text), expected) << text;
}

TEST(ModuleAssembly, InstructionWordCountLimit) {
  const std::string name(4 * 65534, 'a');  // one byte less fills 65535 words exactly
  EXPECT_TRUE(std::holds_alternative<Words>(assemble("OpSourceExtension \"" + name.substr(1) + "\"")));
  EXPECT_EQ(assemble("OpSourceExtension \"" + name + "\""), Outcome(Error::InstructionTooLong));
}

TEST(ModuleAssembly, FailuresNameTheirTextAndLine) {
  // The second text holds two lines; the failing one is named alone.
  const std::string_view texts[] = {"OpCapability Shader", "OpCapability Kernel\n  OpCapability Shader Kernel \r"};
  const auto result = module::assembleLines(texts, 0x00010600);
  ASSERT_FALSE(result.has_value());
  EXPECT_EQ(result.error().cause, Error::TooManyOperands);
  EXPECT_EQ(result.error().message, "unsupported SPIR-V instruction or operand syntax");
  EXPECT_EQ(result.error().at, 1u);
  EXPECT_EQ(result.error().line, "OpCapability Shader Kernel");
}

TEST(ModuleAssembly, EachIdIsDefinedOnceSomewhere) {
  struct Case {
    std::vector<std::string_view> texts;
    Error cause;  // FrontendDiagnostics: the module assembles
    std::size_t at = 0;
    std::string_view line = {};
    std::uint32_t id = 0;
    std::optional<std::size_t> first_definition = {};
  };
  const Case cases[] = {
      {{"OpCapability Shader", "OpBranch %9"}, Error::UndefinedSymbol, 1, "OpBranch %9", 9},
      // Uses before the definition: names, decorations, branches, entry
      // points and forward pointers.
      {{"OpEntryPoint GLCompute %4 \"main\"\nOpName %4 \"main\"\nOpDecorate %3 Block", "%1 = OpTypeVoid",
        "%2 = OpTypeFunction %1\nOpTypeForwardPointer %5 PhysicalStorageBuffer\n%3 = OpTypeStruct %5",
        "%5 = OpTypePointer PhysicalStorageBuffer %3\n%4 = OpFunction %1 None %2\n%6 = OpLabel\nOpBranch %7",
        "%7 = OpLabel\nOpReturn\nOpFunctionEnd"},
       Error::FrontendDiagnostics},
      // The first use of an id no line defines, though another id was used
      // before it and defined later.
      {{"%1 = OpTypeBool", "OpName %8 \"b\"\n  OpName %7 \"a\" ", "OpName %7 \"c\"\n%8 = OpTypeVoid"},
       Error::UndefinedSymbol,
       1,
       "OpName %7 \"a\"",
       7},
      {{"OpName %2 \"b\"", "%3 = OpTypePointer Function %2"}, Error::UndefinedSymbol, 0, "OpName %2 \"b\"", 2},
      {{"%1 = OpTypeVoid", "%2 = OpTypeBool\n OpTypeBool %1"}, Error::DuplicateSymbol, 1, "OpTypeBool %1", 1, 0},
      {{"%4000000000 = OpTypeBool\nOpName %4000000000 \"x\""}, Error::FrontendDiagnostics},
      {{"%4000000000 = OpTypeBool", "OpName %4000000001 \"x\""},
       Error::UndefinedSymbol,
       1,
       "OpName %4000000001 \"x\"",
       4000000001},
      {{"%4000000000 = OpTypeBool", "%4000000000 = OpTypeVoid"},
       Error::DuplicateSymbol,
       1,
       "%4000000000 = OpTypeVoid",
       4000000000,
       0},
  };
  for (const Case& expected : cases) {
    const std::string_view first = expected.texts.front();
    const auto result = module::assembleLines(expected.texts, 0x00010600);
    if (expected.cause == Error::FrontendDiagnostics) {
      EXPECT_TRUE(result.has_value()) << first;
      continue;
    }
    ASSERT_FALSE(result.has_value()) << first;
    EXPECT_EQ(result.error().cause, expected.cause) << first;
    EXPECT_EQ(result.error().at, expected.at) << first;
    EXPECT_EQ(result.error().line, expected.line) << first;
    EXPECT_EQ(result.error().id, expected.id) << first;
    EXPECT_EQ(result.error().first_definition, expected.first_definition) << first;
  }
}

TEST(ModuleAssembly, IdsCostMemoryByTheirCountNotTheirValue) {
  struct Case {
    std::string text;
    std::size_t ids;
  };
  std::string dense;
  for (int id = 1; id <= 50000; ++id) dense += "%" + std::to_string(id) + " = OpTypeBool\n";
  const Case cases[] = {
      {dense, 50000},
      {"%40000000 = OpTypeBool\nOpName %40000000 \"x\"\nOpName %40000001 \"y\"\n%40000001 = OpTypeVoid", 2},
  };
  for (const Case& input : cases) {
    const std::string_view text = input.text;
    const frontend::testing::HeapPeak peak;
    const auto words = module::assembleLines(std::span(&text, 1), 0x00010600);
    ASSERT_TRUE(words.has_value());
    // The words grow by doubling; each id may add a few bytes besides.
    EXPECT_LE(peak.bytes(), 3 * 4 * words->size() + 8 * input.ids + 32768) << input.ids;
  }
}

TEST(ModuleAssembly, Versions) {
  const std::pair<std::uint32_t, bool> cases[] = {
      {0x00010000, true}, {0x00010600, true}, {0x00010700, false}, {0x00020000, false}, {0x00010601, false},
  };
  const std::string_view line = "OpCapability Shader";
  for (const auto& [version, supported] : cases) {
    const auto result = module::assembleLines(std::span(&line, 1), version);
    ASSERT_EQ(result.has_value(), supported) << version;
    if (supported) {
      EXPECT_EQ((*result)[1], version);
    } else {
      EXPECT_EQ(result.error().cause, Error::InvalidSpirvVersion);
      EXPECT_EQ(result.error().message, "unsupported SPIR-V module version");
    }
  }
}

}  // namespace
