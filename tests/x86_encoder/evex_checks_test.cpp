#include "x86_encoder/evex_checks.hpp"

#include <gtest/gtest.h>

#include "x86_encoder/encode_test_support.hpp"

namespace x86_encoder::testing {
namespace {

using evex_checks::Reason;

struct Case {
  std::uint8_t bits;
  const char* line;
  Reason reason;
  std::uint8_t operand;
};

// Lines a form takes whose bytes the processor would refuse or read as
// another operand: each is refused and says why; the same lines written so
// that the processor runs them still encode.
TEST(EvexChecks, RefusesFormsTheProcessorCannotRun) {
  const Case cases[] = {
      {64, "vaddps zmm1{z}, zmm2, zmm3", Reason::zeroing_without_mask, 0},
      {64, "vaddps zmm1{k0}{z}, zmm2, zmm3", Reason::zeroing_without_mask, 0},
      {32, "vmovaps xmm1{z}, [eax]", Reason::zeroing_without_mask, 0},
      {64, "vpgatherdd zmm1, [rax+zmm2*4]", Reason::vector_address_without_mask, 0},
      {64, "vpgatherdd zmm1{k0}, [rax+zmm2*4]", Reason::vector_address_without_mask, 0},
      {32, "vgatherqpd ymm1, [eax+ymm2*8]", Reason::vector_address_without_mask, 0},
      {64, "vpscatterdd [rax+zmm2*4], zmm1", Reason::vector_address_without_mask, 0},
      {64, "vgatherpf0dps [rax+zmm2*4]{k0}", Reason::vector_address_without_mask, 0},
      {64, "vscatterpf1qpd [rax+zmm2*8]", Reason::vector_address_without_mask, 0},
      {64, "vfmaddcph zmm1, zmm1, zmm2", Reason::destination_is_source, 1},
      {64, "vfcmulcsh xmm3{k1}, xmm2, xmm3", Reason::destination_is_source, 2},
      {64, "vfmulcph ymm17, ymm17, [rax]", Reason::destination_is_source, 1},
      {64, "vfcmaddcph xmm5, xmm6", Reason::destination_is_source, 0},
      {64, "vfmaddcsh xmm1, xmm2", Reason::destination_is_source, 0},
      {32, "vcvtsi2sh xmm1, xmm2, qword [ebx+8]", Reason::qword_integer_outside_64, 0},
      {16, "vcvtusi2ss xmm1, qword [bx+si]", Reason::qword_integer_outside_64, 0},
      {32, "vcvtsi2sd xmm1, xmm2, qword [ebx+8]", Reason::qword_integer_outside_64, 0},
      {32, "vcvtusi2sh xmm1, xmm2, qword [ebx+8]", Reason::qword_integer_outside_64, 0},
      {32, "vpinsrq xmm1, xmm2, qword [ebx], 1", Reason::qword_integer_outside_64, 0},
      {16, "vpextrq qword [bx], xmm1, 1", Reason::qword_integer_outside_64, 0},
  };
  for (const Case& refused : cases) {
    encode::OwnedEncodeResult result;
    evex_checks::Refusal refusal;
    api::X86EncodeOptions options = modeOptions(refused.bits);
    options.refusal = &refusal;
    EXPECT_FALSE(encodeLine(result, refused.line, options)) << refused.line;
    EXPECT_EQ(refusal.reason, refused.reason) << refused.line;
    EXPECT_EQ(refusal.operand, refused.operand) << refused.line;
  }
  const std::pair<std::uint8_t, const char*> runnable[] = {
      {64, "vaddps zmm1{k1}{z}, zmm2, zmm3"}, {64, "vaddps zmm1, zmm2, zmm3"},
      {64, "vpgatherdd zmm1{k1}, [rax+zmm2*4]"}, {64, "vpgatherdd xmm1, [rax+xmm2*4], xmm3"},
      {64, "vpscatterdd [rax+zmm2*4]{k7}, zmm1"}, {64, "vgatherpf0dps [rax+zmm2*4]{k1}"},
      {64, "vfmaddcph zmm1, zmm2, zmm3"}, {64, "vfcmulcsh xmm3{k1}{z}, xmm2, [rax]"},
      {64, "vcvtsi2sh xmm1, xmm2, qword [rbx+8]"}, {32, "vcvtsi2sh xmm1, xmm2, dword [ebx+8]"},
      {32, "vcvtusi2sd xmm1, xmm2, eax"}, {64, "add rax, rbx, 5"},
      {64, "vpinsrq xmm1, xmm2, qword [rbx], 1"}, {32, "vpinsrd xmm1, xmm2, dword [ebx], 1"},
      {32, "vmovq xmm1, qword [ebx]"},
  };
  for (const auto& [bits, line] : runnable) EXPECT_EQ(encodeToHex(line, bits).rfind("error", 0), std::string::npos) << line;
}

}  // namespace
}  // namespace x86_encoder::testing
