#include "x86_encoder/operand_immediate.hpp"

#include <gtest/gtest.h>

#include "operand_test_support.hpp"
#include "x86_encoder/operand_flags.hpp"
#include "x86_encoder/operand_text.hpp"

namespace x86_encoder::api {
namespace {

using qovrin::Error;
using testing::RecordingResolver;

// Subclass words, written out so that the table reads as the class rules.
constexpr std::uint64_t kLiteral = 0x2040002;
constexpr std::uint64_t kOne = 0x30C0002;
constexpr std::uint64_t kSmall = 0x3040002;
constexpr std::uint64_t kDwordByte = 0x200002;
constexpr std::uint64_t kWordByte = 0x100002;
constexpr std::uint64_t kUnsigned32 = 0x800002;
constexpr std::uint64_t kSigned32 = 0x400002;

struct ClassCase {
  std::string_view text;  // qualifiers and literal
  std::int64_t value;
  std::uint64_t flags;
};

qovrin::Result<std::optional<X86Operand>> immediate(std::string_view text, const X86ExpressionResolver& resolver) {
  const auto qualified = stripOperandQualifiers(text);
  if (!qualified) return qovrin::fail(qualified.error());
  return immediateOperandFromCore(qualified->text, qualified->flags, qualified->ea_flags, 0, resolver);
}

TEST(ImmediateOperandFromCore, LiteralsGetTheSizeClassesTheyFit) {
  const ClassCase cases[] = {
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
  };
  RecordingResolver recording;
  for (const ClassCase& c : cases) {
    const auto operand = immediate(c.text, recording.resolver());
    ASSERT_TRUE(operand.has_value() && operand->has_value()) << c.text;
    EXPECT_EQ((*operand)->kind, OperandKind::immediate) << c.text;
    EXPECT_EQ((*operand)->value, c.value) << c.text;
    EXPECT_EQ((*operand)->flags, c.flags) << std::hex << c.text << " " << (*operand)->flags;
    EXPECT_EQ((*operand)->value_flags, kValueKnownAbsolute) << c.text;
  }
  EXPECT_TRUE(recording.asked().empty());
}

struct AnswerCase {
  std::string_view text;
  testing::Answer answer;
  std::int64_t value;
  std::uint64_t flags;
  std::uint32_t value_flags;
  bool symbolic;
};

TEST(ImmediateOperandFromCore, OtherTextIsResolved) {
  const AnswerCase cases[] = {
      {"size", testing::knownValue(4), 4, kLiteral | kSmall | kDwordByte | kWordByte | kUnsigned32 | kSigned32,
       kValueKnownAbsolute, false},
      {"ahead", testing::forwardReference(), 0, kLiteral, kValueUnknown, true},
      {"base", testing::relocatable(0x1000), 0x1000, 0x40002, 0, true},
  };
  for (const AnswerCase& c : cases) {
    RecordingResolver recording;
    recording.on(std::string(c.text), c.answer);
    const auto operand = immediate(c.text, recording.resolver());
    ASSERT_TRUE(operand.has_value() && operand->has_value()) << c.text;
    EXPECT_EQ((*operand)->value, c.value) << c.text;
    EXPECT_EQ((*operand)->flags, c.flags) << c.text;
    EXPECT_EQ((*operand)->value_flags, c.value_flags) << c.text;
    EXPECT_EQ((*operand)->symbolic, c.symbolic) << c.text;
    EXPECT_EQ(recording.asked(), std::vector<std::string>{std::string(c.text)});
  }
}

TEST(ImmediateOperandFromCore, FailingAndDisabledResolvers) {
  RecordingResolver recording;
  recording.otherwise(qovrin::fail(Error::ExpressionResolutionFailed));
  EXPECT_EQ(immediate("broken", recording.resolver()).error(), Error::ExpressionResolutionFailed);
  EXPECT_FALSE(immediate("name", recording.resolver(false)).value().has_value());
  EXPECT_EQ(recording.asked(), std::vector<std::string>{"broken"});
}

}  // namespace
}  // namespace x86_encoder::api
