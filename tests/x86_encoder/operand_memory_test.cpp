#include "x86_encoder/operand_memory.hpp"

#include <gtest/gtest.h>

#include "operand_test_support.hpp"

namespace x86_encoder::api {
namespace {

using qovrin::Error;
using testing::errorOf;
using testing::RecordingResolver;

constexpr std::int32_t kEax = 87, kEbx = 89, kRax = 210, kRbx = 212, kRbp = 211, kR8 = 114, kR16 = 146;
constexpr std::int32_t kXmm1 = 250, kYmm2 = 283, kZmm3 = 316;
constexpr std::uint64_t kRegisters = 0x6001F90C;
constexpr std::uint64_t kBelow16 = 0x10000000;
constexpr std::uint64_t kAbsolute = 0x7005F90E;

struct AddressCase {
  std::string_view text;
  testing::Address address;
  std::int32_t hint_base = kNone;
  std::int32_t hint_type = kHintNone;
};

TEST(ParseMemoryOperand, AddressesOfRegistersAndLiterals) {
  const AddressCase cases[] = {
      {"eax", {kEax, kNone, 0, 0, kRegisters | kBelow16}},
      {"r16", {kR16, kNone, 0, 0, kRegisters}},
      {"xmm1", {kNone, kXmm1, 1, 0, kRegisters | kBelow16 | 0x10000C}},
      {"0x10", {kNone, kNone, 0, 16, kAbsolute}},
      {"-8", {kNone, kNone, 0, -8, kAbsolute}},
      {"eax+ebx*4+8", {kEax, kEbx, 4, 8, kRegisters | kBelow16}},
      {" ebx * 4 + eax ", {kEax, kEbx, 4, 0, kRegisters | kBelow16}},
      {"2*ebx", {kNone, kEbx, 2, 0, kRegisters | kBelow16}},
      {"eax+ebx", {kEax, kEbx, 1, 0, kRegisters | kBelow16}},
      {"rbx+2*8", {kRbx, kNone, 0, 16, kRegisters | kBelow16}},
      {"0x1*2*3 + rbx", {kRbx, kNone, 0, 6, kRegisters | kBelow16}},
      {"rbp + 18446744073709551608", {kRbp, kNone, 0, -8, kRegisters | kBelow16}},
      {"-8 + rbp + 0x10", {kRbp, kNone, 0, 8, kRegisters | kBelow16}},
      {"ebx + '+'", {kEbx, kNone, 0, '+', kRegisters | kBelow16}},
      {"eax + xmm1*8", {kEax, kXmm1, 8, 0, kRegisters | kBelow16 | 0x10000C}},
      {"zmm3 + rax", {kRax, kZmm3, 1, 0, kRegisters | kBelow16 | 0x40000C}},
      {"rax + ymm2*4", {kRax, kYmm2, 4, 0, kRegisters | kBelow16 | 0x20000C}},
      {"r8 + r16", {kR8, kR16, 1, 0, kRegisters}},
      {"eax+8, ebx", {kEax, kEbx, 1, 8, kRegisters | kBelow16}, kEax, kHintMakeBase},
      {"8, ebx*2", {kNone, kEbx, 2, 8, kRegisters | kBelow16}, kEbx, kHintNotBase},
  };
  for (const AddressCase& c : cases) {
    RecordingResolver recording;
    const auto operand = parseMemoryOperand(c.text, recording.resolver());
    ASSERT_TRUE(operand.has_value()) << c.text << ": " << qovrin::errorName(operand.error());
    testing::expectAddress(*operand, c.address, c.text);
    EXPECT_EQ(operand->hint_base, c.hint_base) << c.text;
    EXPECT_EQ(operand->hint_type, c.hint_type) << c.text;
    EXPECT_EQ(operand->value_flags, 0u) << c.text;
    EXPECT_TRUE(recording.asked().empty()) << c.text;
  }
}

TEST(ParseMemoryOperand, RejectsAddressesNoFormTakes) {
  const std::pair<Error, std::vector<std::string_view>> cases[] = {
      {Error::InvalidMemoryScale, {"eax+ebx*0"}},
      {Error::InvalidRspIndexRegister, {"rsp*1", "eax + esp*2", "4*sp"}},
      {Error::UnsupportedOperandSyntax,
       {"", "eax*2+ebx*2", "eax+ebx+xmm1", "-eax", "ebx - ecx", "eax*ebx", "eax*lbl", "eax +", "eax ++ 4", "(eax + 4",
        "eax + 4)", "eax*2, ebx", "eax, ebx+ecx", "eax, ebx+4"}},
      {Error::InvalidIntegerLiteral, {"eax + 0zh", "eax*0zh"}},
      {Error::IntegerOverflow, {"0x7FFFFFFFFFFFFFFF + 1", "ebx - 0x8000000000000000", "4000000000*4000000000"}},
  };
  for (const auto& [error, texts] : cases) {
    for (const auto text : texts) {
      RecordingResolver recording;
      EXPECT_EQ(errorOf(parseMemoryOperand(text, recording.resolver())), error) << text;
      EXPECT_TRUE(recording.asked().empty()) << text;
    }
  }
}

TEST(ParseMemoryOperand, JoinsTheNonRegisterTermsIntoOneExpression) {
  const std::tuple<std::string_view, std::string, std::int32_t> cases[] = {
      {"rbx + a - b", "a - b", kRbx},     {"ebx - lbl", "0 - lbl", kEbx},
      {"rbx + lbl", "lbl", kRbx},         {"lbl + rbx*4", "lbl", kNone},
      {"rbx + a + 8", "a + 8", kRbx},     {"a + rbx*4 - 8 + b", "a + b - 8", kNone},
      {"rbx + 4*a", "4*a", kRbx},         {"rbx + a + 4*b", "a + (4*b)", kRbx},
      {"rbx - a<<2", "0 - (a<<2)", kRbx}, {"-lbl - 0x7FFFFFFFFFFFFFFF - 1", "0 - lbl - 9223372036854775808", kNone},
      {"rbx + a + 8 - 8", "a", kRbx},
      // Signs inside parentheses or quotes do not split the sum.
      {"rbx + (a+b)*2", "(a+b)*2", kRbx}, {"rbx + ('+'-a)", "('+'-a)", kRbx},
  };
  for (const auto& [text, asked, base] : cases) {
    RecordingResolver recording;
    recording.otherwise(testing::forwardReference());
    const auto operand = parseMemoryOperand(text, recording.resolver());
    ASSERT_TRUE(operand.has_value()) << text;
    EXPECT_EQ(recording.asked(), std::vector<std::string>{asked}) << text;
    EXPECT_EQ(operand->base, base) << text;
    EXPECT_EQ(operand->value, 0) << text;
    EXPECT_EQ(operand->value_flags, kValueUnknown) << text;
    EXPECT_TRUE(operand->symbolic) << text;
  }
}

TEST(ParseMemoryOperand, UsesTheResolversAnswer) {
  RecordingResolver recording;
  recording.on("size", testing::knownValue(24))
      .on("lbl", testing::forwardReference())
      .on("broken", qovrin::fail(Error::ExpressionResolutionFailed));

  const auto known = parseMemoryOperand("rbx + size", recording.resolver());
  ASSERT_TRUE(known.has_value());
  EXPECT_EQ(known->value, 24);
  EXPECT_EQ(known->value_flags, 0u);
  EXPECT_FALSE(known->symbolic);

  const auto absolute = parseMemoryOperand("lbl", recording.resolver());
  ASSERT_TRUE(absolute.has_value());
  EXPECT_EQ(absolute->flags, kAbsolute);
  EXPECT_EQ(absolute->value_flags, kValueUnknown);

  EXPECT_EQ(errorOf(parseMemoryOperand("rbx + broken", recording.resolver())), Error::ExpressionResolutionFailed);
  EXPECT_EQ(errorOf(parseMemoryOperand("rbx + nothing", recording.resolver())), Error::UnsupportedOperandSyntax);
  EXPECT_EQ(recording.asked(), (std::vector<std::string>{"size", "lbl", "broken", "nothing"}));

  RecordingResolver disabled;
  disabled.otherwise(testing::knownValue(1));
  EXPECT_EQ(errorOf(parseMemoryOperand("rbx + lbl", disabled.resolver(false))), Error::UnsupportedOperandSyntax);
  EXPECT_TRUE(disabled.asked().empty());
}

TEST(ParseEffectiveAddressMemoryOperand, ReadsModifierWords) {
  // Text, ea_flags, address_bits, address-size slot, displacement.
  const std::tuple<std::string_view, std::uint32_t, std::uint8_t, std::uint32_t, std::int64_t> cases[] = {
      {"a32 dword 0x10", kEaFullDisplacement, 32, kPrefixA32, 16},
      {"byte eax+1", kEaByteDisplacement, 8, 0, 1},
      {"WORD bx", kEaFullDisplacement, 16, 0, 0},
      {"long eax", kEaFullDisplacement, 32, 0, 0},
      {"qword byte 8", kEaFullDisplacement | kEaByteDisplacement, 8, 0, 8},
      {"nosplit abs rel ptr eax", kEaNoSplit | kEaAbs | kEaRel, 0, 0, 0},
      {"a16 a16 bx", 0, 0, kPrefixA16, 0},
      {"a64\trax", 0, 0, kPrefixA64, 0},
  };
  for (const auto& [text, ea_flags, address_bits, address_size, value] : cases) {
    X86Instruction context;
    RecordingResolver recording;
    const auto operand = parseEffectiveAddressMemoryOperand(context, text, recording.resolver());
    ASSERT_TRUE(operand.has_value()) << text;
    EXPECT_EQ(operand->ea_flags, ea_flags) << text;
    EXPECT_EQ(operand->address_bits, address_bits) << text;
    EXPECT_EQ(operand->value, value) << text;
    EXPECT_EQ(context.prefix(PrefixSlot::address_size), address_size) << text;
  }
}

TEST(ParseEffectiveAddressMemoryOperand, RejectsConflictsAndBareModifiers) {
  RecordingResolver recording;
  for (const std::string_view text : {"dword", "a32", "byte  ", "nosplit"}) {
    X86Instruction fresh;
    EXPECT_EQ(errorOf(parseEffectiveAddressMemoryOperand(fresh, text, recording.resolver())),
              Error::UnsupportedOperandSyntax)
        << text;
  }
  X86Instruction context;
  EXPECT_EQ(errorOf(parseEffectiveAddressMemoryOperand(context, "a16 a32 bx", recording.resolver())),
            Error::UnsupportedPrefixes);
  // A failed operand leaves the address-size slot as it found it.
  EXPECT_EQ(errorOf(parseEffectiveAddressMemoryOperand(context, "a32 eax*3", recording.resolver())),
            Error::InvalidMemoryScale);
  EXPECT_EQ(context.prefix(PrefixSlot::address_size), 0u);
  context.prefix(PrefixSlot::address_size) = kPrefixA16;
  EXPECT_EQ(errorOf(parseEffectiveAddressMemoryOperand(context, "a32 bx", recording.resolver())),
            Error::UnsupportedPrefixes);
  EXPECT_TRUE(parseEffectiveAddressMemoryOperand(context, "a16 bx", recording.resolver()).has_value());
}

TEST(ParseMemoryScale, AcceptsTheFourScales) {
  for (const auto& [text, scale] : {std::pair{"1", 1}, {"2", 2}, {"4", 4}, {"8", 8}, {"0x8", 8}})
    EXPECT_EQ(parseMemoryScale(text).value(), scale) << text;
  for (const std::string_view text : {"3", "-1", "16"})
    EXPECT_EQ(errorOf(parseMemoryScale(text)), Error::InvalidMemoryScale) << text;
  EXPECT_EQ(errorOf(parseMemoryScale("n")), Error::UnsupportedOperandSyntax);
}

}  // namespace
}  // namespace x86_encoder::api

namespace x86_encoder::api {
namespace {

// The one-pass reading must write exactly the record of the general reading
// wherever it takes an address, and leave every address that needs more (a
// symbol, a modifier word, a product of numbers, an error to report) to it.
TEST(FlatAddress, TakesWhatTheGeneralReadingTakesAndLeavesTheRest) {
  struct FlatCase {
    std::string_view text;
    bool flat;
  };
  const FlatCase cases[] = {
      {"rax", true},
      {"+rax", true},
      {" rbp - 8 ", true},
      {"-8", true},
      {"0X1f", true},
      {"10h", true},
      {"rax+rbx", true},
      {"rbx+rax*2", true},
      {"4 * rdx + rax + 16", true},
      {"rax*1+rsp", true},
      {"rsp+rax", true},
      {"bx+si+5", true},
      {"rax+xmm2*4", true},
      {"k1", true},
      {"rax + 18446744073709551608", true},
      {"0x7fffffffffffffff+1", false},
      {"-0x8000000000000000", false},
      {"rax+sym", false},
      {"abs 8", false},
      {"rel rax", false},
      {"nosplit eax*2", false},
      {"rax*3", false},
      {"rsp*2", false},
      {"-rax", false},
      {"rax+rbx+rcx", false},
      {"rax*2*2", false},
      {"2*8", false},
      {"rax+", false},
      {"rax rbx", false},
      {"es:rax", false},
      {"rax, rbx", false},
      {"rax+(8)", false},
      {"rax+'a'", false},
  };
  for (const FlatCase& c : cases) {
    X86Operand flat;
    EXPECT_EQ(fillFlatAddress(c.text, flat), c.flat) << c.text;
    X86Instruction context;
    X86Operand general;
    const auto status = fillEffectiveAddressOperand(context, c.text, testing::RecordingResolver{}.resolver(), general);
    if (c.flat) {
      ASSERT_TRUE(status.has_value()) << c.text;
      EXPECT_EQ(flat, general) << c.text;
    } else {
      EXPECT_EQ(flat, X86Operand{}) << c.text;
    }
  }
}

}  // namespace
}  // namespace x86_encoder::api
