#include "x86_encoder/operand_pairs.hpp"

#include <gtest/gtest.h>

#include "operand_test_support.hpp"
#include "x86_encoder/operand_flags.hpp"

namespace x86_encoder::api {
namespace {

using qovrin::Error;
using testing::errorOf;
using testing::RecordingResolver;

TEST(SplitFarPointer, OnlyWhenNeitherHalfIsAnAddressOrRegister) {
  const auto plain = splitFarPointer("0x10:0x2000");
  ASSERT_TRUE(plain.has_value());
  EXPECT_EQ(plain->segment, "0x10");
  EXPECT_EQ(plain->offset, "0x2000");

  const auto qualified = splitFarPointer("far seg : entry");
  ASSERT_TRUE(qualified.has_value());
  EXPECT_EQ(qualified->qualifier_flags, kFar);
  EXPECT_EQ(qualified->segment, "seg");
  EXPECT_EQ(qualified->offset, "entry");

  for (const std::string_view text : {"cs:[bx]", "es:di", "0x10:[bx]", "seg:dword [x]", "[bx]:0x10", "0x10:eax",
                                      "dx:ax", "0x10", "1:2:3", "1:2 {k1}", "{z}"})
    EXPECT_FALSE(splitFarPointer(text).has_value()) << text;
}

TEST(ParseFarPointerOperands, TwoImmediatesTheFirstMarkedWithTheColon) {
  RecordingResolver recording;
  const auto pair = parseFarPointerOperands("0x10:0x2000", recording.resolver());
  ASSERT_TRUE(pair.has_value() && pair->has_value());
  EXPECT_EQ((*pair)->first.kind, OperandKind::immediate);
  EXPECT_EQ((*pair)->first.value, 0x10);
  EXPECT_NE((*pair)->first.flags & kColon, 0u);
  EXPECT_EQ((*pair)->second.value, 0x2000);
  EXPECT_EQ((*pair)->second.flags & kColon, 0u);
  EXPECT_TRUE(recording.asked().empty());

  recording.on("seg", testing::knownValue(8)).on("entry", testing::forwardReference());
  const auto resolved = parseFarPointerOperands("far seg:entry", recording.resolver());
  ASSERT_TRUE(resolved.has_value() && resolved->has_value());
  EXPECT_EQ((*resolved)->first.flags & (kFar | kColon), kFar | kColon);
  EXPECT_EQ((*resolved)->second.flags & kFar, 0u);
  EXPECT_EQ((*resolved)->second.value_flags, kValueUnknown);
  EXPECT_EQ(recording.asked(), (std::vector<std::string>{"seg", "entry"}));
  EXPECT_FALSE(parseFarPointerOperands("seg:nothing", recording.resolver()).value().has_value());

  // A segment override of a jump target is an address: the resolver is not asked.
  RecordingResolver answering;
  answering.otherwise(testing::knownValue(0));
  EXPECT_FALSE(parseFarPointerOperands("cs:[bx]", answering.resolver()).value().has_value());
  EXPECT_TRUE(answering.asked().empty());

  RecordingResolver failing;
  failing.otherwise(qovrin::fail(Error::ExpressionResolutionFailed));
  EXPECT_EQ(errorOf(parseFarPointerOperands("a:b", failing.resolver())), Error::ExpressionResolutionFailed);
}

TEST(ParseRegisterPair, TwoRegistersThatAreNoSegments) {
  const auto pair = parseRegisterPair(" dx : ax ");
  ASSERT_TRUE(pair.has_value());
  EXPECT_EQ(pair->first.kind, OperandKind::reg);
  EXPECT_EQ(pair->first.base, 86);
  EXPECT_NE(pair->first.flags & kColon, 0u);
  EXPECT_EQ(pair->second.base, 3);
  EXPECT_EQ(pair->second.flags & kColon, 0u);
  for (const std::string_view text : {"es:ax", "dx:es", "dx:lbl", "dx", "dx:ax:bx", "[dx]:ax"})
    EXPECT_FALSE(parseRegisterPair(text).has_value()) << text;
}

}  // namespace
}  // namespace x86_encoder::api
