#include "spirv_encoder/module.hpp"

#include <gtest/gtest.h>

#include <string>
#include <string_view>

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
      // The bound follows the highest id anywhere on a line, not only results.
      {"OpName %40 \"x\"\n%3 = OpTypeVoid",
       Words{0x07230203, 0x00010600, 0, 41, 0, 0x00030005, 40, 0x78, 0x00020013, 3}},
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
