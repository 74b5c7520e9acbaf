#include <gtest/gtest.h>

#include <cctype>
#include <ostream>
#include <string>
#include <string_view>

#include "x86_encoder/encode_test_support.hpp"

namespace x86_encoder::testing {
namespace {

struct Vector {
  std::uint8_t bits;
  const char* line;
  const char* expected;
};

void PrintTo(const Vector& vector, std::ostream* out) { *out << int{vector.bits} << "-bit " << vector.line; }

class EncodeVectors : public ::testing::TestWithParam<Vector> {};

// The mode and the instruction text, spelled in the characters a test name
// allows, so that a failure names the instruction and names stay the same
// from run to run.
std::string vectorName(const ::testing::TestParamInfo<Vector>& info) {
  std::string name = "m" + std::to_string(info.param.bits);
  const auto separate = [&name] {
    if (name.back() != '_') name += '_';
  };
  separate();
  for (const char c : std::string_view(info.param.line)) {
    if (std::isalnum(static_cast<unsigned char>(c)) != 0) {
      name += c;
      continue;
    }
    separate();
    switch (c) {
      case '+': name += "plus_"; break;
      case '-': name += "minus_"; break;
      case '*': name += "times_"; break;
      case ':': name += "colon_"; break;
      case '.': name += "dot_"; break;
      default: break;
    }
  }
  while (name.back() == '_') name.pop_back();
  return name;
}

TEST_P(EncodeVectors, GivesExactBytes) {
  const Vector& vector = GetParam();
  EXPECT_EQ(encodeToHex(vector.line, vector.bits), vector.expected) << vector.bits << "-bit: " << vector.line;
}

INSTANTIATE_TEST_SUITE_P(Mode16, EncodeVectors,
                         ::testing::Values(Vector{16, "mov al,[bp]", "8A 46 00"},
                                           Vector{16, "mov ax,[bp+di+0x80]", "8B 83 80 00"},
                                           Vector{16, "mov eax,1", "66 B8 01 00 00 00"},
                                           Vector{16, "jmp 0x10:0x2000", "EA 00 20 10 00"}),
                         vectorName);

INSTANTIATE_TEST_SUITE_P(Mode32, EncodeVectors,
                         ::testing::Values(Vector{32, "mov eax,[bx]", "67 8B 07"},
                                           Vector{32, "mov eax,[eax*2]", "8B 04 00"},
                                           Vector{32, "mov eax,[nosplit eax*2]", "8B 04 45 00 00 00 00"}),
                         vectorName);

INSTANTIATE_TEST_SUITE_P(Mode64, EncodeVectors,
                         ::testing::Values(Vector{64, "mov eax,[r13]", "41 8B 45 00"},
                                           Vector{64, "mov eax,[0x1000]", "8B 04 25 00 10 00 00"},
                                           Vector{64, "lock add dword [rax],1", "F0 83 00 01"},
                                           Vector{64, "mov sil,1", "40 B6 01"},
                                           Vector{64, "mov rax,-1", "48 C7 C0 FF FF FF FF"},
                                           Vector{64, "mov rax,0x100000000", "48 B8 00 00 00 00 01 00 00 00"},
                                           Vector{64, "add eax,strict dword 1", "05 01 00 00 00"},
                                           Vector{64, "imul eax,ebx,5", "6B C3 05"},
                                           Vector{64, "crc32 rax,bl", "F2 48 0F 38 F0 C3"}),
                         vectorName);

INSTANTIATE_TEST_SUITE_P(VexXopAmx, EncodeVectors,
                         ::testing::Values(Vector{64, "vaddps xmm0,xmm1,xmm2", "C5 F0 58 C2"},
                                           Vector{64, "vaddpd ymm8,ymm9,[r12]", "C4 41 35 58 04 24"},
                                           Vector{64, "vprotb xmm0,xmm1,xmm2", "8F E9 68 90 C1"},
                                           Vector{64, "tdpbssd tmm0,tmm1,tmm2", "C4 E2 6B 5E C1"}),
                         vectorName);

INSTANTIATE_TEST_SUITE_P(Evex, EncodeVectors,
                         ::testing::Values(Vector{64, "vaddps zmm0{k1}{z},zmm1,[rax+256]", "62 F1 74 C9 58 40 04"},
                                           Vector{64, "vaddps zmm0,zmm1,[rax+16]{1to16}", "62 F1 74 58 58 40 04"},
                                           Vector{64, "vaddps zmm0,zmm1,zmm2,{rn-sae}", "62 F1 74 18 58 C2"},
                                           Vector{64, "vpgatherdd zmm0{k1},[rax+zmm1*4]", "62 F2 7D 49 90 04 88"},
                                           Vector{64, "vpdpbusd xmm0,xmm1,xmm2", "62 F2 75 08 50 C2"}),
                         vectorName);

INSTANTIATE_TEST_SUITE_P(Apx, EncodeVectors,
                         ::testing::Values(Vector{64, "add r16,r17", "D5 58 01 C8"},
                                           Vector{64, "mov r31,[r20+r21*8]", "D5 7C 8B 3C EC"}),
                         vectorName);

INSTANTIATE_TEST_SUITE_P(Errors, EncodeVectors,
                         ::testing::Values(Vector{64, "inc [rax]", "error: AmbiguousMemorySize"},
                                           Vector{64, "cmp rax,0x100000000", "error: CmpR64ImmediateOutOfRange"},
                                           Vector{64, "mov eax,[bx]", "error: ImpossibleAddressSize"},
                                           Vector{64, "foo eax", "error: UnsupportedMnemonic"},
                                           Vector{64, "add eax,1,2,3,4,5", "error: UnsupportedOperands"}),
                         vectorName);

}  // namespace
}  // namespace x86_encoder::testing
