#include <gtest/gtest.h>

#include <cctype>
#include <ostream>
#include <string>
#include <string_view>

#include "x86_encoder/encode_test_support.hpp"
#include "x86_encoder/operand_test_support.hpp"

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
      case '+':
        name += "plus_";
        break;
      case '-':
        name += "minus_";
        break;
      case '*':
        name += "times_";
        break;
      case ':':
        name += "colon_";
        break;
      case '.':
        name += "dot_";
        break;
      default:
        break;
    }
  }
  while (name.back() == '_') name.pop_back();
  return name;
}

// Names for the vectors that address memory through the resolver.
RecordingResolver labels() {
  RecordingResolver resolver;
  resolver.on("table", relocatable(0x10)).on("later", forwardReference());
  return resolver;
}

TEST_P(EncodeVectors, GivesExactBytes) {
  const Vector& vector = GetParam();
  RecordingResolver resolver = labels();
  EXPECT_EQ(encodeToHex(vector.line, vector.bits, resolver.resolver()), vector.expected)
      << int{vector.bits} << "-bit: " << vector.line;
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

// An absolute address never stands for an immediate, also when a name gives it.
INSTANTIATE_TEST_SUITE_P(BracketedMemoryIsNoImmediate, EncodeVectors,
                         ::testing::Values(Vector{16, "vpermq zmm1,zmm3,[0x10]", "62 F2 E5 48 36 0E 10 00"},
                                           Vector{32, "vpermq zmm1,zmm3,[0x10]", "62 F2 E5 48 36 0D 10 00 00 00"},
                                           Vector{64, "vpermq zmm1,zmm3,[0x10]", "62 F2 E5 48 36 0C 25 10 00 00 00"},
                                           Vector{32, "vpermq zmm1,zmm3,[table]", "62 F2 E5 48 36 0D 00 00 00 00"},
                                           Vector{16, "vpermq zmm1,zmm3,[later]", "62 F2 E5 48 36 0E 00 00"},
                                           Vector{32, "vpsrldq xmm1,[0x10]", "error: NoMatchingTemplate"},
                                           Vector{16, "vshufps xmm1,xmm2,[0x10]", "error: NoMatchingTemplate"},
                                           Vector{32, "vshufps xmm1,xmm2,[table]", "error: NoMatchingTemplate"},
                                           Vector{32, "vpsrldq xmm1,[later]", "error: NoMatchingTemplate"},
                                           Vector{32, "mov al,[0x10]", "A0 10 00 00 00"}),
                         vectorName);

// Another operand, the size-match set or the instruction itself gives the size.
INSTANTIATE_TEST_SUITE_P(
    UnsizedMemorySizedByTheInstruction, EncodeVectors,
    ::testing::Values(
        Vector{32, "imul eax,[ebx]", "0F AF 03"}, Vector{16, "imul cx,[bp]", "0F AF 4E 00"},
        Vector{64, "imul dx,[rdx-0x80],-32768", "66 69 52 80 00 80"}, Vector{64, "cmpxchg [rax],eax", "0F B1 00"},
        Vector{64, "mov [rax],byte 1", "C6 00 01"}, Vector{64, "jmp [rax]", "FF 20"}, Vector{64, "call [rax]", "FF 10"},
        Vector{16, "call [bx]", "FF 17"}, Vector{32, "jmp far [eax]", "FF 28"}, Vector{64, "setz [rax]", "0F 94 00"},
        Vector{64, "lgdt [rax]", "0F 01 10"}, Vector{64, "movd xmm0,[rax]", "66 0F 6E 00"},
        Vector{64, "movq xmm0,[rax]", "F3 0F 7E 00"}, Vector{64, "cvtsi2ss xmm0,[rax]", "F3 0F 2A 00"},
        Vector{64, "vcvtpd2ps xmm0,[rax]", "C5 F9 5A 00"}, Vector{64, "vcvtdq2ps xmm0,[rax]", "C5 F8 5B 00"},
        Vector{64, "movaps xmm0,[rax]", "0F 28 00"}, Vector{64, "cmpxchg8b [rax]", "0F C7 08"},
        Vector{64, "lea eax,[rax]", "8D 00"}, Vector{64, "vaddps zmm0,zmm1,[rax]{1to16}", "62 F1 74 58 58 00"},
        Vector{64, "push qword [rax]", "FF 30"}),
    vectorName);

// More than one size would fit: refused as nasm does, never a silent guess.
INSTANTIATE_TEST_SUITE_P(UnsizedMemoryLeftOpen, EncodeVectors,
                         ::testing::Values(Vector{64, "mov [rax],1", "error: AmbiguousMemorySize"},
                                           Vector{64, "mov [rax],0x12345678", "error: AmbiguousMemorySize"},
                                           Vector{64, "mov [rax],later", "error: AmbiguousMemorySize"},
                                           Vector{64, "add [rax],1", "error: AmbiguousMemorySize"},
                                           Vector{64, "shl [rax],cl", "error: AmbiguousMemorySize"},
                                           Vector{64, "test [rax],1", "error: AmbiguousMemorySize"},
                                           Vector{64, "bt [rax],1", "error: AmbiguousMemorySize"},
                                           Vector{64, "push [rax]", "error: AmbiguousMemorySize"},
                                           Vector{32, "push [eax]", "error: AmbiguousMemorySize"},
                                           Vector{16, "pop [bx]", "error: AmbiguousMemorySize"},
                                           Vector{64, "nop [rax]", "error: AmbiguousMemorySize"},
                                           Vector{64, "fld [rax]", "error: AmbiguousMemorySize"},
                                           Vector{64, "fstp [rax]", "error: AmbiguousMemorySize"},
                                           Vector{64, "fist [rax]", "error: AmbiguousMemorySize"},
                                           Vector{64, "movzx eax,[rax]", "error: AmbiguousMemorySize"},
                                           Vector{32, "imul [eax]", "error: AmbiguousMemorySize"}),
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
