#include "x86_encoder/operand_parse.hpp"

#include <gtest/gtest.h>

#include "operand_test_support.hpp"
#include "x86_encoder/operand_flags.hpp"
#include "x86_encoder/tables.hpp"

namespace x86_encoder::api {
namespace {

using qovrin::Error;
using testing::errorOf;
using testing::RecordingResolver;

constexpr std::int32_t kAh = 1, kBx = 12, kDi = 50, kEax = 87, kEbx = 89, kZmm0 = 313, kZmm1 = 314;
constexpr std::uint32_t kCs = 47, kDs = 85, kEs = 93;
constexpr std::uint64_t kDword = 1ull << 34;

std::uint64_t registerFlags(std::int32_t id) { return tables::registerById(id)->flags; }

TEST(ParseOperandText, Registers) {
  // Text, register id, flags beyond the register's own, decorators.
  const std::tuple<std::string_view, std::int32_t, std::uint64_t, std::uint16_t> cases[] = {
      {"ah", kAh, 0, 0},
      {"  EAX ", kEax, 0, 0},
      {"dword eax", kEax, kDword, 0},
      {"zmm1 {k2}{z}", kZmm1, 0, 0x12},
      {"zmm0+0", kZmm0, 0, 0},
      {"zmm0+1", kZmm0, 1ull << 48, 0},
      {"zmm0+3", kZmm0, 1ull << 49, 0},
      {"zmm0 + 7", kZmm0, 1ull << 50, 0},
      {"zmm0+15", kZmm0, 1ull << 51, 0},
  };
  for (const auto& [text, id, extra_flags, decorators] : cases) {
    X86Instruction context;
    RecordingResolver recording;
    const auto operand = parseOperandText(context, text, recording.resolver());
    ASSERT_TRUE(operand.has_value()) << text << ": " << qovrin::errorName(operand.error());
    EXPECT_EQ(operand->kind, OperandKind::reg) << text;
    EXPECT_EQ(operand->base, id) << text;
    EXPECT_EQ(operand->flags, registerFlags(id) | extra_flags) << text;
    EXPECT_EQ(operand->decorators, decorators) << text;
    EXPECT_TRUE(recording.asked().empty()) << text;
  }
}

// Literals stay out of the resolver; other text reaches it with the
// qualifiers and brackets taken off.
TEST(ParseOperandText, ImmediatesAndResolvedText) {
  X86Instruction context;
  RecordingResolver recording;
  recording.on("abh", testing::knownValue(3)).otherwise(testing::forwardReference());
  const std::pair<std::string_view, std::int64_t> cases[] = {{"0ah", 10}, {"abh", 3}, {"'['", '['}, {"'{'", '{'}};
  for (const auto& [text, value] : cases) {
    const auto operand = parseOperandText(context, text, recording.resolver());
    ASSERT_TRUE(operand.has_value()) << text;
    EXPECT_EQ(operand->kind, OperandKind::immediate) << text;
    EXPECT_EQ(operand->value, value) << text;
  }
  const auto jump = parseOperandText(context, "short target", recording.resolver());
  ASSERT_TRUE(jump.has_value());
  EXPECT_EQ(jump->kind, OperandKind::immediate);
  EXPECT_EQ(jump->flags, kShort | 0x2040002);
  EXPECT_EQ(jump->value_flags, kValueUnknown);
  EXPECT_TRUE(jump->symbolic);
  const auto load = parseOperandText(context, "[rbp + off - 8]", recording.resolver());
  ASSERT_TRUE(load.has_value());
  EXPECT_EQ(load->value_flags, kValueUnknown);
  EXPECT_EQ(recording.asked(), (std::vector<std::string>{"abh", "target", "off - 8"}));
  EXPECT_EQ(context.prefixes, X86Instruction{}.prefixes);
}

struct MemoryCase {
  std::string_view text;
  testing::Address address;
  std::uint32_t segment;
  std::uint32_t address_size;
  std::uint8_t address_bits;
};

TEST(ParseOperandText, MemoryOperands) {
  constexpr std::uint64_t kRegisters = 0x7001F90C;  // below 16
  constexpr std::uint64_t kUnsized = 0x80000004;
  const MemoryCase cases[] = {
      {"dword ptr [eax+ebx*4+8]", {kEax, kEbx, 4, 8, kRegisters | kDword}, 0, 0, 0},
      {"[eax]", {kEax, kNone, 0, 0, kRegisters | kUnsized}, 0, 0, 0},
      {"word [eax]", {kEax, kNone, 0, 0, kRegisters | kUnsized | (1ull << 33)}, 0, 0, 0},
      {"es:[di]", {kDi, kNone, 0, 0, kRegisters | kUnsized}, kEs, 0, 0},
      {"[es:di]", {kDi, kNone, 0, 0, kRegisters | kUnsized}, kEs, 0, 0},
      {"ES : [ di ]", {kDi, kNone, 0, 0, kRegisters | kUnsized}, kEs, 0, 0},
      {"cs:[bx]", {kBx, kNone, 0, 0, kRegisters | kUnsized}, kCs, 0, 0},
      {"[a32 dword 0x10]", {kNone, kNone, 0, 16, 0x7005F90E | kUnsized}, 0, kPrefixA32, 32},
      {"es:[a32 di]", {kDi, kNone, 0, 0, kRegisters | kUnsized}, kEs, kPrefixA32, 0},
      {"dword [ds:a16 byte bx+1]", {kBx, kNone, 0, 1, kRegisters | kDword}, kDs, kPrefixA16, 8},
  };
  for (const MemoryCase& c : cases) {
    X86Instruction context;
    RecordingResolver recording;
    const auto operand = parseOperandText(context, c.text, recording.resolver());
    ASSERT_TRUE(operand.has_value()) << c.text << ": " << qovrin::errorName(operand.error());
    testing::expectAddress(*operand, c.address, c.text);
    EXPECT_EQ(operand->address_bits, c.address_bits) << c.text;
    EXPECT_EQ(context.prefix(PrefixSlot::segment), c.segment) << c.text;
    EXPECT_EQ(context.prefix(PrefixSlot::address_size), c.address_size) << c.text;
    EXPECT_TRUE(recording.asked().empty()) << c.text;
  }
}

TEST(ParseOperandText, DecoratorsAndQualifiersTravelWithMemory) {
  X86Instruction context;
  RecordingResolver recording;
  const auto operand = parseOperandText(context, "rel qword [rax]{1to8}", recording.resolver());
  ASSERT_TRUE(operand.has_value());
  EXPECT_EQ(operand->decorators, 0x2020);
  EXPECT_EQ(operand->ea_flags, kEaRel);
  EXPECT_EQ(operand->flags & kSizeMask, 1ull << 35);
}

TEST(ParseOperandText, SegmentSlotConflicts) {
  RecordingResolver recording;
  X86Instruction context;
  context.prefix(PrefixSlot::segment) = kDs;
  EXPECT_EQ(errorOf(parseOperandText(context, "es:[di]", recording.resolver())), Error::UnsupportedPrefixes);
  EXPECT_EQ(errorOf(parseOperandText(context, "[es:di]", recording.resolver())), Error::UnsupportedPrefixes);
  EXPECT_TRUE(parseOperandText(context, "ds:[di]", recording.resolver()).has_value());
  EXPECT_EQ(context.prefix(PrefixSlot::segment), kDs);

  // A second operand of the same instruction sees the first one's override.
  X86Instruction shared;
  ASSERT_TRUE(parseOperandText(shared, "es:[di]", recording.resolver()).has_value());
  EXPECT_EQ(errorOf(parseOperandText(shared, "fs:[si]", recording.resolver())), Error::UnsupportedPrefixes);
  EXPECT_EQ(shared.prefix(PrefixSlot::segment), kEs);
}

TEST(ParseOperandText, FillsTheGivenRecordFromScratch) {
  RecordingResolver recording;
  X86Instruction context;
  X86Operand slot{.flags = ~0ull, .value = 99, .index = 5, .decorators = 0xFFFF};
  ASSERT_TRUE(parseOperandText(context, "eax", recording.resolver(), slot).has_value());
  EXPECT_EQ(slot, (X86Operand{.flags = registerFlags(kEax), .base = kEax, .kind = OperandKind::reg}));
}

TEST(ParseOperandText, FailuresLeaveTheRecordEmptyAndTheSlotsAlone) {
  const std::pair<Error, std::vector<std::string_view>> cases[] = {
      {Error::UnsupportedOperandSyntax,
       {"", "{k1}", "zmm1 {k9}", "zmm1 {rn-sae}", "zmm0+2", "zmm0+31", "zmm0+-1", "zmm0+lbl", "[]", "[ ]", "[eax",
        "eax]", "es:di", "es:[]", "[eax+ebx+ecx]", "12ab", "fs:[a16 nothing]"}},
      {Error::IntegerOverflow, {"zmm0+0x7FFFFFFFFFFFFFFF"}},
      {Error::InvalidMemoryScale, {"[eax*3]", "es:[eax*3]"}},
      {Error::InvalidRspIndexRegister, {"[eax+esp*2]", "[es:a32 eax+esp*2]"}},
      {Error::InvalidIntegerLiteral, {"0zh"}},
  };
  for (const auto& [error, texts] : cases) {
    for (const auto text : texts) {
      X86Instruction context;
      RecordingResolver recording;
      X86Operand slot{.flags = ~0ull, .value = 99, .base = 3, .decorators = 0xFFFF};
      EXPECT_EQ(errorOf(parseOperandText(context, text, recording.resolver(), slot)), error) << text;
      EXPECT_EQ(slot, X86Operand{}) << text;
      EXPECT_EQ(context.prefixes, X86Instruction{}.prefixes) << text;
    }
  }
}

// Only words whose parentheses or quotes hide every sign the operand scans
// look for may skip them.
TEST(ReadsAsPlainWord, TakesWholeParenthesisedWordsAndCharacterConstants) {
  for (const std::string_view word : {"(12)", "(-5)", "(x.y)", "'a'", "'{k1}'"})
    EXPECT_TRUE(readsAsPlainWord(word)) << word;
  for (const std::string_view word :
       {"()", "(12", "(1+2)", "(a)+(b)", "(es:x)", "((1))", "(1){k1}", "[x]", "'a'+1", "('a')", "( 1 )"})
    EXPECT_FALSE(readsAsPlainWord(word)) << word;
}

}  // namespace
}  // namespace x86_encoder::api
