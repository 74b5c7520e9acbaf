#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <string_view>

#include "encode_test_support.hpp"
#include "x86_encoder/match_memo.hpp"

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
  };
  const auto memo = std::make_unique<match::MatchMemo>();
  for (int round = 0; round < 2; ++round)
    for (const Case& test : kCases)
      EXPECT_EQ(outcome(test.line, test.bits, memo.get()), outcome(test.line, test.bits, nullptr))
          << test.line << " in " << int{test.bits} << "-bit mode, round " << round;
}

}  // namespace
}  // namespace x86_encoder::testing
