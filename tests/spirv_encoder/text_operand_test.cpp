#include <gtest/gtest.h>

#include <string_view>

#include "spirv_test_support.hpp"

namespace {

using qovrin::Error;
using spirv_test::instructions;
using spirv_test::Outcome;
using spirv_test::Words;

constexpr std::string_view kInt32 = "%2 = OpTypeInt 32 1\n";
constexpr std::string_view kUint32 = "%2 = OpTypeInt 32 0\n";

struct OperandCase {
  std::string_view setup;  // lines before the one under test
  std::string_view line;
  Outcome expected;  // the tested line's words, or the error
};

void checkCases(std::span<const OperandCase> cases) {
  for (const auto& [setup, line, expected] : cases) {
    const std::string text = std::string(setup) + std::string(line);
    const Outcome before = instructions(setup);
    const Outcome actual = instructions(text);
    if (const auto* words = std::get_if<Words>(&expected)) {
      ASSERT_TRUE(std::holds_alternative<Words>(before)) << setup;
      ASSERT_TRUE(std::holds_alternative<Words>(actual)) << line << ": " << qovrin::errorName(std::get<Error>(actual));
      const auto& all = std::get<Words>(actual);
      const Words tail(all.begin() + static_cast<std::ptrdiff_t>(std::get<Words>(before).size()), all.end());
      EXPECT_EQ(tail, *words) << line;
    } else {
      ASSERT_TRUE(std::holds_alternative<Error>(actual)) << line;
      EXPECT_EQ(std::get<Error>(actual), std::get<Error>(expected)) << line;
    }
  }
}

TEST(OperandText, IdsStringsAndLiterals) {
  const OperandCase cases[] = {
      {"", "OpName %1 \"a\\\"b\"", Words{0x00030005, 1, 0x00622261}},
      {"", "%1 = OpString \"abcd\"", Words{0x00040007, 1, 0x64636261, 0}},
      {"", "%1 = OpString \"\"", Words{0x00030007, 1, 0}},
      {"", "OpName %1 \"a\\\\\"", Words{0x00030005, 1, 0x0000005C61}},
      {"", "OpName %1 \"a b\"", Words{0x00030005, 1, 0x00622061}},
      // The string ends after an escaped backslash, before the interface id.
      {"", "OpEntryPoint GLCompute %3 \"a\\\\\" %4", Words{0x0005000F, 5, 3, 0x5C61, 4}},
      {"", "OpName %1 \"ab\\\"", Error::InvalidString},
      {"", "OpName %1 abc", Error::InvalidString},
      {"", "OpName %1 \"abc", Error::InvalidString},
      {"", "OpName 1 \"a\"", Error::ExpectedId},
      {"", "OpName % \"a\"", Error::ExpectedId},
      {"", "OpName %x \"a\"", Error::InvalidInteger},
      {"", "OpName %0x10 \"\"", Words{0x00030005, 16, 0}},
      {"", "OpName %4294967296 \"\"", Error::InvalidInteger},
      {"", "OpName %1", Error::ExpectedOperand},
      {"", "OpSource GLSL 450", Words{0x00030003, 2, 450}},
      {"", "OpSource GLSL 0x1c2 %3 \"x\"", Words{0x00050003, 2, 450, 3, 0x78}},
      {"", "OpSource GLSL -1", Error::InvalidInteger},
      {"", "OpSource GLSL 0x", Error::InvalidInteger},
      {"", "OpSource GLSL 4294967296", Error::InvalidInteger},
      {"", "OpDecorate %7 SpecId 3", Words{0x00040047, 7, 1, 3}},
      {"", "OpMemoryModel Logical 7", Error::UnknownOperand},
      {"", "OpMemoryModel Logical glsl450", Error::UnknownOperand},
      {"", "OpCapability Shader Kernel", Error::TooManyOperands},
      {"", "OpExecutionMode %4 LocalSize 8 4 1", Words{0x00060010, 4, 17, 8, 4, 1}},
      {"", "OpExecutionMode %4 LocalSize 8 4", Error::ExpectedOperand},
      {"%1 = OpTypeFloat 32\n", "%2 = OpConstant %1 0x1p-1", Words{0x0004002B, 1, 2, 0x3F000000}},
      {"", "%3 = OpPhi %1 4 %5", Error::ExpectedId},
      {"", "%3 = OpPhi %1 %4 %5 %6 %7", Words{0x000700F5, 1, 3, 4, 5, 6, 7}},
      {"", "%3 = OpPhi %1 %4 %5 %6", Error::ExpectedOperand},
  };
  checkCases(cases);
}

TEST(OperandText, Masks) {
  const OperandCase cases[] = {
      {"", "%4 = OpLoad %1 %2 Aligned|Volatile 4", Words{0x0006003D, 1, 4, 2, 3, 4}},
      {"", "%4 = OpLoad %1 %2 Volatile|Aligned 4", Words{0x0006003D, 1, 4, 2, 3, 4}},
      {"", "%4 = OpLoad %1 %2 None", Words{0x0005003D, 1, 4, 2, 0}},
      {"", "%4 = OpLoad %1 %2 Aligned|Bogus 4", Error::UnknownOperand},
      {"", "%4 = OpLoad %1 %2 Aligned", Error::ExpectedOperand},
      // A numeric mask still takes the parameters of its bits.
      {"", "%4 = OpLoad %1 %2 3 4", Words{0x0006003D, 1, 4, 2, 3, 4}},
      {"", "%4 = OpLoad %1 %2 aligned", Error::InvalidInteger},
      {"", "OpLoopMerge %1 %2 3", Words{0x000400F6, 1, 2, 3}},
      // Grad (bit 2) then ConstOffset (bit 3), whatever the written order.
      {"", "%5 = OpImageSampleExplicitLod %1 %2 %3 ConstOffset|Grad %6 %7 %8",
       Words{0x00090058, 1, 5, 2, 3, 0xC, 6, 7, 8}},
      {"", "%5 = OpImageSampleExplicitLod %1 %2 %3 ConstOffset|Lod %6 %7", Words{0x00080058, 1, 5, 2, 3, 0xA, 6, 7}},
      {"", "OpSelectionMerge %1 Flatten|DontFlatten", Words{0x000300F7, 1, 3}},
  };
  checkCases(cases);
}

TEST(OperandText, ContextDependentNumbers) {
  const OperandCase cases[] = {
      {kUint32, "%3 = OpConstant %2 0x80000000", Words{0x0004002B, 2, 3, 0x80000000}},
      {kInt32, "%3 = OpConstant %2 0x80000000", Error::InvalidInteger},
      {kInt32, "%3 = OpConstant %2 -7", Words{0x0004002B, 2, 3, 0xFFFFFFF9}},
      {kInt32, "%3 = OpConstant %2 -2147483648", Words{0x0004002B, 2, 3, 0x80000000}},
      {kInt32, "%3 = OpConstant %2 -2147483649", Error::InvalidInteger},
      {kInt32, "%3 = OpConstant %2 0b101", Words{0x0004002B, 2, 3, 5}},
      {kInt32, "%3 = OpConstant %2 -0o17", Words{0x0004002B, 2, 3, 0xFFFFFFF1}},
      {kUint32, "%3 = OpConstant %2 -1", Error::InvalidInteger},
      {kUint32, "%3 = OpConstant %2 4294967296", Error::InvalidInteger},
      {"%2 = OpTypeInt 64 1\n", "%4 = OpConstant %2 -1", Words{0x0005002B, 2, 4, 0xFFFFFFFF, 0xFFFFFFFF}},
      {"%2 = OpTypeInt 64 1\n", "%4 = OpConstant %2 -9223372036854775808", Words{0x0005002B, 2, 4, 0, 0x80000000}},
      {"%2 = OpTypeInt 64 1\n", "%4 = OpConstant %2 9223372036854775808", Error::InvalidInteger},
      {"%2 = OpTypeInt 64 0\n", "%4 = OpConstant %2 0xFFFFFFFF00000001", Words{0x0005002B, 2, 4, 1, 0xFFFFFFFF}},
      {"%2 = OpTypeInt 16 1\n", "%4 = OpConstant %2 -2", Words{0x0004002B, 2, 4, 0xFFFFFFFE}},
      {"%2 = OpTypeInt 16 1\n", "%4 = OpConstant %2 -32769", Error::InvalidInteger},
      {"%2 = OpTypeInt 16 0\n", "%4 = OpConstant %2 65536", Error::InvalidInteger},
      {"%2 = OpTypeInt 8 0\n", "%4 = OpConstant %2 255", Words{0x0004002B, 2, 4, 255}},
      {"%2 = OpTypeInt 128 0\n", "%4 = OpConstant %2 1", Error::InvalidInteger},
      {"%2 = OpTypeFloat 16\n", "%4 = OpConstant %2 1.5", Words{0x0004002B, 2, 4, 0x3E00}},
      {"%2 = OpTypeFloat 16\n", "%4 = OpConstant %2 -0x1.8p+1", Words{0x0004002B, 2, 4, 0xC200}},
      {"%2 = OpTypeFloat 16\n", "%4 = OpConstant %2 65504", Words{0x0004002B, 2, 4, 0x7BFF}},
      {"%2 = OpTypeFloat 16\n", "%4 = OpConstant %2 65520", Error::InvalidInteger},
      {"%2 = OpTypeFloat 16\n", "%4 = OpConstant %2 5.9604644775390625e-8", Words{0x0004002B, 2, 4, 1}},
      {"%2 = OpTypeFloat 16\n", "%4 = OpConstant %2 6.103515625e-05", Words{0x0004002B, 2, 4, 0x0400}},
      {"%2 = OpTypeFloat 16 BFloat16KHR\n", "%4 = OpConstant %2 1.00390625", Words{0x0004002B, 2, 4, 0x3F80}},
      {"%2 = OpTypeFloat 16 BFloat16KHR\n", "%4 = OpConstant %2 1.01171875", Words{0x0004002B, 2, 4, 0x3F82}},
      {"%2 = OpTypeFloat 8 Float8E4M3EXT\n", "%4 = OpConstant %2 1", Error::InvalidInteger},
      {"%2 = OpTypeFloat 32\n", "%4 = OpConstant %2 1e40", Error::InvalidInteger},
      {"%2 = OpTypeFloat 32\n", "%4 = OpConstant %2 -2.5", Words{0x0004002B, 2, 4, 0xC0200000}},
      {"%2 = OpTypeFloat 32\n", "%4 = OpConstant %2 1e-50", Words{0x0004002B, 2, 4, 0}},
      {"%2 = OpTypeFloat 32\n", "%4 = OpConstant %2 inf", Error::InvalidInteger},
      {"%2 = OpTypeFloat 32\n", "%4 = OpConstant %2 1.5x", Error::InvalidInteger},
      {"%2 = OpTypeFloat 64\n", "%4 = OpConstant %2 1.5", Words{0x0005002B, 2, 4, 0, 0x3FF80000}},
      {"%2 = OpTypeFloat 24\n", "%4 = OpConstant %2 1.5", Error::InvalidInteger},
      // No recorded type: a float when the text looks like one, else a word.
      {"", "%4 = OpConstant %2 0.5", Words{0x0004002B, 2, 4, 0x3F000000}},
      {"", "%4 = OpConstant %2 0x10", Words{0x0004002B, 2, 4, 16}},
      {"", "%4 = OpConstant %2 -1", Error::InvalidInteger},
      // A second declaration of the same id is refused.
      {"%2 = OpTypeInt 32 0\n", "%2 = OpTypeInt 32 1", Error::DuplicateSymbol},
  };
  checkCases(cases);
}

// Hexadecimal floats past the largest finite exponent encode as spirv-as
// encodes them: one step past, the following bits (cut off) are a NaN payload;
// further out, an infinity. Below that exponent they round to nearest, to an
// infinity when they round past the largest finite value. Decimal overflow
// stays an error.
TEST(OperandText, HexFloatsPastTheFiniteRange) {
  constexpr std::string_view kHalf = "%2 = OpTypeFloat 16\n";
  constexpr std::string_view kSingle = "%2 = OpTypeFloat 32\n";
  constexpr std::string_view kDouble = "%2 = OpTypeFloat 64\n";
  const OperandCase cases[] = {
      {kSingle, "%4 = OpConstant %2 0x1p+128", Words{0x0004002B, 2, 4, 0x7F800000}},
      {kSingle, "%4 = OpConstant %2 -0x1p+128", Words{0x0004002B, 2, 4, 0xFF800000}},
      {kSingle, "%4 = OpConstant %2 0x1.8p+128", Words{0x0004002B, 2, 4, 0x7FC00000}},
      {kSingle, "%4 = OpConstant %2 -0x1.8p+128", Words{0x0004002B, 2, 4, 0xFFC00000}},
      {kSingle, "%4 = OpConstant %2 0x1.7fffffp+128", Words{0x0004002B, 2, 4, 0x7FBFFFFF}},
      {kSingle, "%4 = OpConstant %2 0x1.00000000001p+128", Words{0x0004002B, 2, 4, 0x7F800000}},
      {kSingle, "%4 = OpConstant %2 0x0.cp+129", Words{0x0004002B, 2, 4, 0x7FC00000}},
      {kSingle, "%4 = OpConstant %2 0x1.8p+129", Words{0x0004002B, 2, 4, 0x7F800000}},
      {kSingle, "%4 = OpConstant %2 0x1p+99999999999999999999", Words{0x0004002B, 2, 4, 0x7F800000}},
      {kSingle, "%4 = OpConstant %2 0x1p+127", Words{0x0004002B, 2, 4, 0x7F000000}},
      {kSingle, "%4 = OpConstant %2 0x1.ffffffp+127", Words{0x0004002B, 2, 4, 0x7F800000}},
      {kSingle, "%4 = OpConstant %2 -0x1.ffffffp+127", Words{0x0004002B, 2, 4, 0xFF800000}},
      {kSingle, "%4 = OpConstant %2 0x1.fffffe8p+127", Words{0x0004002B, 2, 4, 0x7F7FFFFF}},
      {kSingle, "%4 = OpConstant %2 3.5e38", Error::InvalidInteger},
      {kSingle, "%4 = OpConstant %2 0x1p+", Error::InvalidInteger},
      {kSingle, "%4 = OpConstant %2 0x.p+200", Error::InvalidInteger},
      {kSingle, "%4 = OpConstant %2 0x1.8.8p+128", Error::InvalidInteger},
      {kHalf, "%4 = OpConstant %2 0x1p+16", Words{0x0004002B, 2, 4, 0x7C00}},
      {kHalf, "%4 = OpConstant %2 -0x1p+16", Words{0x0004002B, 2, 4, 0xFC00}},
      {kHalf, "%4 = OpConstant %2 0x1.8p+16", Words{0x0004002B, 2, 4, 0x7E00}},
      {kHalf, "%4 = OpConstant %2 0x1.004p+16", Words{0x0004002B, 2, 4, 0x7C01}},
      {kHalf, "%4 = OpConstant %2 0x1.ffep+15", Words{0x0004002B, 2, 4, 0x7C00}},
      {kHalf, "%4 = OpConstant %2 0x1.ffcp+15", Words{0x0004002B, 2, 4, 0x7BFF}},
      {kHalf, "%4 = OpConstant %2 70000.0", Error::InvalidInteger},
      {kDouble, "%4 = OpConstant %2 0x1p+1024", Words{0x0005002B, 2, 4, 0, 0x7FF00000}},
      {kDouble, "%4 = OpConstant %2 -0x1p+1024", Words{0x0005002B, 2, 4, 0, 0xFFF00000}},
      {kDouble, "%4 = OpConstant %2 0x1.8p+1024", Words{0x0005002B, 2, 4, 0, 0x7FF80000}},
      {kDouble, "%4 = OpConstant %2 0x1.0000000000001p+1024", Words{0x0005002B, 2, 4, 1, 0x7FF00000}},
      {kDouble, "%4 = OpConstant %2 0x1.fffffffffffff8p+1023", Words{0x0005002B, 2, 4, 0, 0x7FF00000}},
      {kDouble, "%4 = OpConstant %2 0x1.fffffffffffffp+1023", Words{0x0005002B, 2, 4, 0xFFFFFFFF, 0x7FEFFFFF}},
      {kDouble, "%4 = OpConstant %2 1e309", Error::InvalidInteger},
      {"", "%4 = OpConstant %2 0x1p+128", Words{0x0004002B, 2, 4, 0x7F800000}},
  };
  checkCases(cases);
}

TEST(OperandText, SwitchCasesFollowTheSelectorType) {
  constexpr std::string_view kLong = "%2 = OpTypeInt 64 1\n%3 = OpConstant %2 5\n";
  const OperandCase cases[] = {
      {kLong, "OpSwitch %3 %10 -1 %11 0x7 %12", Words{0x000900FB, 3, 10, 0xFFFFFFFF, 0xFFFFFFFF, 11, 7, 0, 12}},
      {kInt32, "OpSwitch %9 %10 1 %11", Words{0x000500FB, 9, 10, 1, 11}},
      {"%2 = OpTypeInt 32 1\n%3 = OpConstant %2 5\n", "OpSwitch %3 %10 -1 %11",
       Words{0x000500FB, 3, 10, 0xFFFFFFFF, 11}},
      {"%2 = OpTypeInt 8 0\n%3 = OpConstant %2 5\n", "OpSwitch %3 %10 256 %11", Error::InvalidInteger},
      {"", "OpSwitch %3 %10 1", Error::ExpectedOperand},
  };
  checkCases(cases);
}

TEST(OperandText, ExtendedInstructionsAndSpecConstantOps) {
  constexpr std::string_view kGlsl = "%2 = OpExtInstImport \"GLSL.std.450\"\n";
  const OperandCase cases[] = {
      {kGlsl, "%5 = OpExtInst %1 %2 Sqrt %3", Words{0x0006000C, 1, 5, 2, 31, 3}},
      {kGlsl, "%5 = OpExtInst %1 %2 31 %3", Words{0x0006000C, 1, 5, 2, 31, 3}},
      {kGlsl, "%5 = OpExtInst %1 %2 FMix %3 %4 %6", Words{0x0008000C, 1, 5, 2, 46, 3, 4, 6}},
      {kGlsl, "%5 = OpExtInst %1 %2 Sqrt", Error::ExpectedOperand},
      {kGlsl, "%5 = OpExtInst %1 %2 Sqrt %3 %4", Error::TooManyOperands},
      {kGlsl, "%5 = OpExtInst %1 %2 sqrt %3", Error::InvalidInteger},
      {"%2 = OpExtInstImport \"OpenCL.std\"\n", "%5 = OpExtInst %1 %2 sqrt %3", Words{0x0006000C, 1, 5, 2, 61, 3}},
      {"%2 = OpExtInstImport \"NonSemantic.Other\"\n", "%5 = OpExtInst %1 %2 7 %3 %4",
       Words{0x0007000C, 1, 5, 2, 7, 3, 4}},
      {"%2 = OpExtInstImport \"NonSemantic.Other\"\n", "%5 = OpExtInst %1 %2 Sqrt %3", Error::InvalidInteger},
      {"%2 = OpExtInstImport \"OpenCL.DebugInfo.100\"\n", "%5 = OpExtInst %1 %2 DebugSource %3",
       Words{0x0006000C, 1, 5, 2, 35, 3}},
      {"%2 = OpExtInstImport \"OpenCL.DebugInfo.100\"\n", "%5 = OpExtInst %1 %2 DebugTypeBasic %3 %4 Signed",
       Words{0x0008000C, 1, 5, 2, 2, 3, 4, 4}},
      {"", "%5 = OpSpecConstantOp %1 IAdd %3 %4", Words{0x00060034, 1, 5, 128, 3, 4}},
      {"", "%5 = OpSpecConstantOp %1 CompositeExtract %3 0 1", Words{0x00070034, 1, 5, 81, 3, 0, 1}},
      // A number names no operation, so no operands may follow it.
      {"", "%5 = OpSpecConstantOp %1 128 %3 %4", Error::TooManyOperands},
      {"", "%5 = OpSpecConstantOp %1 OpIAdd %3 %4", Error::InvalidInteger},
  };
  checkCases(cases);
}

}  // namespace
