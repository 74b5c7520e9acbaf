#include "x86_encoder/operand_immediate.hpp"

#include <gtest/gtest.h>

#include "operand_test_support.hpp"
#include "x86_encoder/operand_flags.hpp"
#include "x86_encoder/operand_text.hpp"

namespace x86_encoder::api {
namespace {

using qovrin::Error;
using testing::errorOf;
using testing::RecordingResolver;

// Subclass words, written out so that the table reads as the class rules.
constexpr std::uint64_t kLiteral = 0x2040002;
constexpr std::uint64_t kOne = 0x30C0002;
constexpr std::uint64_t kSmall = 0x3040002;
constexpr std::uint64_t kDwordByte = 0x200002;
constexpr std::uint64_t kWordByte = 0x100002;
constexpr std::uint64_t kUnsigned32 = 0x800002;
constexpr std::uint64_t kSigned32 = 0x400002;

qovrin::Result<std::optional<X86Operand>> immediate(std::string_view text, const X86ExpressionResolver& resolver) {
  const auto qualified = stripOperandQualifiers(text);
  if (!qualified) return qovrin::fail(qualified.error());
  return immediateOperandFromCore(qualified->text, qualified->flags, qualified->ea_flags, 0, resolver);
}

struct ImmediateCase {
  std::string_view text;  // qualifiers and operand
  std::int64_t value;
  std::uint64_t flags;
  std::uint32_t value_flags = kValueKnownAbsolute;
  bool symbolic = false;
  std::optional<testing::Answer> answer = std::nullopt;  // literals never reach the resolver
};

TEST(ImmediateOperandFromCore, SizeClassesOfLiteralsAndResolvedValues) {
  const ImmediateCase cases[] = {
      {"1", 1, kLiteral | kOne | kDwordByte | kWordByte | kUnsigned32 | kSigned32},
      {"0", 0, kLiteral | kSmall | kDwordByte | kWordByte | kUnsigned32 | kSigned32},
      {"-16", -16, kLiteral | kSmall | kDwordByte | kWordByte | kSigned32},
      {"16", 16, kLiteral | kDwordByte | kWordByte | kUnsigned32 | kSigned32},
      {"-17", -17, kLiteral | kDwordByte | kWordByte | kSigned32},
      {"0x7f", 127, kLiteral | kDwordByte | kWordByte | kUnsigned32 | kSigned32},
      {"0x80", 128, kLiteral | kUnsigned32 | kSigned32},
      {"0xFF80", 0xFF80, kLiteral | kWordByte | kUnsigned32 | kSigned32},
      {"0xFFFFFF80", 0xFFFFFF80, kLiteral | kDwordByte | kWordByte | kUnsigned32},
      {"0x7FFFFFFF", 0x7FFFFFFF, kLiteral | kWordByte | kUnsigned32 | kSigned32},
      {"0x80000000", 0x80000000, kLiteral | kWordByte | kUnsigned32},
      {"-0x80000000", -0x80000000LL, kLiteral | kWordByte | kSigned32},
      {"0x100000000", 0x100000000, kLiteral | kDwordByte | kWordByte},
      {"0x123456789", 0x123456789, kLiteral},
      {"strict byte 1", 1, kLiteral | kStrict | kSizeByte},
      {"strict 1", 1, kLiteral | kOne | kStrict},
      {"strict 0x80", 128, kLiteral | kStrict},
      {"byte 1", 1, kSizeByte | kLiteral | kOne | kDwordByte | kWordByte | kUnsigned32 | kSigned32},
      {"size", 4, kLiteral | kSmall | kDwordByte | kWordByte | kUnsigned32 | kSigned32, kValueKnownAbsolute, false,
       testing::knownValue(4)},
      {"ahead", 0, kLiteral, kValueUnknown, true, testing::forwardReference()},
      {"base", 0x1000, 0x40002, 0, true, testing::relocatable(0x1000)},
  };
  for (const ImmediateCase& c : cases) {
    RecordingResolver recording;
    if (c.answer) recording.on(std::string(c.text), *c.answer);
    const auto operand = immediate(c.text, recording.resolver());
    ASSERT_TRUE(operand.has_value() && operand->has_value()) << c.text;
    EXPECT_EQ((*operand)->kind, OperandKind::immediate) << c.text;
    EXPECT_EQ((*operand)->value, c.value) << c.text;
    EXPECT_EQ((*operand)->flags, c.flags) << std::hex << c.text << " " << (*operand)->flags;
    EXPECT_EQ((*operand)->value_flags, c.value_flags) << c.text;
    EXPECT_EQ((*operand)->symbolic, c.symbolic) << c.text;
    EXPECT_EQ(recording.asked().size(), c.answer ? 1u : 0u) << c.text;
  }
}

TEST(ImmediateOperandFromCore, FailingAndDisabledResolvers) {
  RecordingResolver recording;
  recording.otherwise(qovrin::fail(Error::ExpressionResolutionFailed));
  EXPECT_EQ(errorOf(immediate("broken", recording.resolver())), Error::ExpressionResolutionFailed);
  EXPECT_FALSE(immediate("name", recording.resolver(false)).value().has_value());
  EXPECT_EQ(recording.asked(), std::vector<std::string>{"broken"});
}

}  // namespace
}  // namespace x86_encoder::api
