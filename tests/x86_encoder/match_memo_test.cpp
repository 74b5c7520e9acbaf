#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <string_view>

#include "encode_test_support.hpp"
#include "x86_encoder/match.hpp"
#include "x86_encoder/match_memo.hpp"
#include "x86_encoder/operand_flags.hpp"
#include "x86_encoder/size.hpp"

namespace x86_encoder::testing {
namespace {

// Bytes and warnings of a line, or its error.
std::string outcome(std::string_view line, std::uint8_t bits, match::MatchMemo* memo) {
  api::X86EncodeOptions options = modeOptions(bits);
  options.match_memo = memo;
  encode::OwnedEncodeResult result;
  const auto status = encodeLine(result, line, options);
  if (!status) return "error: " + std::string(qovrin::errorName(status.error()));
  std::string text = hexBytes(result);
  for (const std::string_view warning : result.warnings()) text += " | " + std::string(warning);
  return text;
}

// Lines that differ from one another only in what the memo's key must tell
// apart: the accumulator forms, immediate widths, sized and unsized memory,
// address sizes, modes, prefixes and decorators. Every line must come out as
// it does without the memo, the first time and from the memo.
TEST(MatchMemo, RememberedSearchesEncodeAsFreshOnes) {
  struct Case {
    std::string_view line;
    std::uint8_t bits;
  };
  constexpr Case kCases[] = {
      {"add rax, 1", 64},
      {"add rcx, 1", 64},
      {"add rcx, 1000", 64},
      {"add al, 1", 64},
      {"add cl, 1", 64},
      {"mov eax, [ebx]", 64},
      {"mov eax, [rbx]", 64},
      {"mov eax, [rbx+rcx*4+8]", 64},
      {"mov eax, [0x1000]", 64},
      {"mov eax, [ebx]", 32},
      {"mov ax, [bx]", 16},
      {"inc dword [rax]", 64},
      {"inc [rax]", 64},
      {"movaps xmm0, [rsi]", 64},
      {"lea rcx, [rax+16]", 64},
      {"push 5", 64},
      {"push 500", 64},
      {"push 5", 32},
      {"shl eax, 1", 64},
      {"shl eax, 3", 64},
      {"shl eax, cl", 64},
      {"lock add [rax], ecx", 64},
      {"xacquire lock add [rax], ecx", 64},
      {"rep movsb", 64},
      {"vaddps zmm0{k1}{z}, zmm1, [rax]", 64},
      {"vaddps zmm0, zmm1, [rax]{1to16}", 64},
      {"vaddps zmm0, zmm1, zmm2", 64},
      {"jmp 0x10", 64},
      {"jmp 0x1000", 64},
      {"mov al, 300", 64},
      {"mov eax, ebx, ecx", 64},
      {"add byte [rax], 1", 64},
      {"mov [rax], ecx", 64},
      {"movss xmm0, [rax]", 64},
      {"movss [rbx+8], xmm1", 64},
      {"cvtsi2sd xmm0, [rax]", 64},
  };
  const auto memo = std::make_unique<match::MatchMemo>();
  for (int round = 0; round < 2; ++round)
    for (const Case& test : kCases)
      EXPECT_EQ(outcome(test.line, test.bits, memo.get()), outcome(test.line, test.bits, nullptr))
          << test.line << " in " << int{test.bits} << "-bit mode, round " << round;
}

// "movss xmm0, [rax]": the search sizes the memory operand from the
// template. A hit must hand back the same sized class words, template and
// program as the search, the program from the memo's own copy.
TEST(MatchMemo, AHitRestoresWhatTheSearchDecided) {
  api::X86Instruction ins;
  ins.mode_bits = 64;
  ins.address_bits = 64;
  ins.opcode = *tables::findMnemonic("movss");
  ins.operand_count = 2;
  const tables::RegisterRow& xmm0 = *tables::findRegister("xmm0");
  ins.operands[0].kind = api::OperandKind::reg;
  ins.operands[0].flags = xmm0.flags;
  ins.operands[0].base = xmm0.id;
  ins.operands[1].kind = api::OperandKind::memory;
  ins.operands[1].flags = api::kMemoryWithRegisters | api::kMemoryUnsized;
  ins.operands[1].base = tables::findRegister("rax")->id;

  api::X86Instruction searched = ins;
  ASSERT_GE(match::findMatch(searched), match::kMatchSuccess);
  EXPECT_NE(searched.operands[1].flags, ins.operands[1].flags);

  const auto memo = std::make_unique<match::MatchMemo>();
  api::X86Instruction first = ins;
  ASSERT_GE(match::findMatchRemembered(first, *memo), match::kMatchSuccess);
  EXPECT_TRUE(first.remembered_program.empty());
  api::X86Instruction hit = ins;
  ASSERT_GE(match::findMatchRemembered(hit, *memo), match::kMatchSuccess);
  for (unsigned i = 0; i < 2; ++i) EXPECT_EQ(hit.operands[i].flags, searched.operands[i].flags) << i;
  EXPECT_EQ(hit.template_index, searched.template_index);
  EXPECT_EQ(hit.template_position, searched.template_position);
  const auto pool = size::programOf(searched.template_index);
  ASSERT_FALSE(hit.remembered_program.empty());
  EXPECT_NE(hit.remembered_program.data(), pool.data());
  EXPECT_TRUE(std::ranges::equal(size::programFor(hit), pool));
}

}  // namespace
}  // namespace x86_encoder::testing
