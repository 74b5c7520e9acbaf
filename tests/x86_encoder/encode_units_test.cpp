#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "x86_encoder/encode_test_support.hpp"
#include "x86_encoder/operand_test_support.hpp"

namespace x86_encoder::testing {
namespace {

using encode::OwnedEncodeResult;

std::string unitHex(const encode::EncodeUnit& unit) {
  std::string text;
  for (const std::uint8_t byte : unit.bytes()) {
    char digits[3];
    std::snprintf(digits, sizeof digits, "%02X", byte);
    text += digits;
  }
  return text;
}

// "form:kind:hex" of every unit, space separated.
std::string unitsOf(const OwnedEncodeResult& result) {
  std::string text;
  for (const auto& unit : result.units()) {
    if (!text.empty()) text += ' ';
    text += std::string(unit.form) + ":" + std::string(unitKindLabel(unit.kind)) + ":" + unitHex(unit);
  }
  return text;
}

std::vector<std::string> warningsOf(const OwnedEncodeResult& result) {
  return {result.warnings().begin(), result.warnings().end()};
}

struct UnitCase {
  std::uint8_t bits;
  const char* line;
  const char* units;
};

TEST(EncodeUnits, FollowTheProgramInOrder) {
  const UnitCase cases[] = {
      {64, "nop", "literal opcode:raw:90"},
      {64, "lock add dword [rax],1", "legacy prefixes:raw:F0 literal opcode:raw:83 modrm/sib:raw:00 ib,s:raw:01"},
      {64, "crc32 rax,bl", "legacy prefixes:raw:F2 emit_rex:raw:480F38 literal opcode:raw:F0 modrm/sib:raw:C3"},
      {64, "vaddps xmm0,xmm1,xmm2", "vex2:raw:C5F0 literal opcode:raw:58 modrm/sib:raw:C2"},
      {64, "vprotb xmm0,xmm1,xmm2", "vex3/xop:raw:8FE968 literal opcode:raw:90 modrm/sib:raw:C1"},
      {64, "vaddps zmm0,zmm1,zmm2", "evex prefix:raw:62F17448 literal opcode:raw:58 modrm/sib:raw:C2"},
      {64, "mov eax,[rbx+8]", "literal opcode:raw:8B modrm/sib:raw:43 disp8:raw:08"},
      {64, "mov eax,[rbx+0x12345678]", "literal opcode:raw:8B modrm/sib:raw:83 displacement:raw:78563412"},
      {64, "mov r8,0x1122334455667788", "emit_rex:raw:49 +r opcode:raw:B8 iq:raw:8877665544332211"},
      {16, "mov ax,[bp+di+0x80]", "literal opcode:raw:8B modrm/sib:raw:83 displacement:raw:8000"},
      {32, "mov eax,[bx]", "legacy prefixes:raw:67 literal opcode:raw:8B modrm/sib:raw:07"},
      {16, "jmp 0x10:0x2000", "literal opcode:raw:EA iw:raw:0020 iw:raw:1000"},
      {64, "vpdpbusd xmm0,xmm1,xmm2", "evex prefix:raw:62F27508 literal opcode:raw:50 modrm/sib:raw:C2"},
      {32, "mov eax,cr0", "emit_rex:raw:0F literal opcode:raw:20 modrm/sib:raw:C0"},
  };
  for (const auto& [bits, line, units] : cases) {
    OwnedEncodeResult result;
    ASSERT_TRUE(encodeLine(result, line, modeOptions(bits))) << line;
    EXPECT_EQ(unitsOf(result), units) << line;
    EXPECT_EQ(result.emitted, result.instruction_size) << line;
    EXPECT_TRUE(result.template_used) << line;
  }
}

struct WarningCase {
  std::uint8_t bits;
  const char* line;
  const char* hex;
  std::vector<std::string> warnings;
};

TEST(EncodeWarnings, KeepTheBytesAndNameTheProblem) {
  const WarningCase cases[] = {
      {64, "mov al,300", "B0 2C", {"value exceeds bounds"}},
      {64, "add rax,0x100000000", "48 83 C0 00", {"signed dword exceeds bounds"}},
      {64, "add rax,0x80000000", "48 05 00 00 00 80", {"value exceeds bounds"}},
      {64, "mov eax,[rax+0x100000000]", "8B 80 00 00 00 00", {"displacement exceeds bounds"}},
      // 64-bit addressing sign-extends the 32-bit field.
      {64, "mov eax,[rbp-200]", "8B 85 38 FF FF FF", {}},
      {64, "mov eax,[rax-0x80000000]", "8B 80 00 00 00 80", {}},
      {64, "mov eax,[rax+0xffffffff]", "8B 80 FF FF FF FF", {"displacement exceeds bounds"}},
      {64, "mov eax,[rbx+0x80000000]", "8B 83 00 00 00 80", {"displacement exceeds bounds"}},
      {64, "mov eax,[0x80000000]", "8B 04 25 00 00 00 80", {"displacement exceeds bounds"}},
      // Narrower addressing wraps; a value beyond the address size still warns,
      // also where it wrapped to no displacement at all.
      {32, "mov eax,[eax+0xffffffff]", "8B 40 FF", {}},
      {32, "mov eax,[eax+0x100000000]", "8B 00", {"displacement exceeds bounds"}},
      {32, "mov eax,[eax+0x100000010]", "8B 40 10", {"displacement exceeds bounds"}},
      {16, "mov ax,[bx-200]", "8B 87 38 FF", {}},
      {16, "mov ax,[bx+0x10000]", "8B 07", {"displacement exceeds bounds"}},
      {64, "add eax,0xFFFFFF80", "83 C0 80", {}},
      {64, "mov eax,[es:rax]", "26 8B 00", {"segment override ignored in 64-bit mode"}},
      {64, "mov eax,[fs:rax]", "64 8B 00", {}},
      {32, "mov eax,[es:eax]", "26 8B 00", {}},
      {16, "mov al,[byte bx+0x100]", "8A 47 00", {"displacement exceeds bounds"}},
      {64, "mov eax,1", "B8 01 00 00 00", {}},
  };
  for (const auto& [bits, line, hex, warnings] : cases) {
    OwnedEncodeResult result;
    ASSERT_TRUE(encodeLine(result, line, modeOptions(bits))) << line;
    EXPECT_EQ(hexBytes(result), hex) << line;
    EXPECT_EQ(warningsOf(result), warnings) << line;
  }
}

struct StandaloneCase {
  std::uint8_t bits;
  const char* word;
  std::optional<qovrin::Error> error;
  const char* hex;
};

TEST(StandalonePrefixes, GiveOneByteOrNoneOrTheModesError) {
  using qovrin::Error;
  const StandaloneCase cases[] = {
      {64, "lock", std::nullopt, "F0"},
      {64, "rep", std::nullopt, "F3"},
      {32, "CS", std::nullopt, "2E"},
      {32, "o16", std::nullopt, "66"},
      {16, "o16", std::nullopt, ""},
      {64, "a32", std::nullopt, "67"},
      {32, "a64", Error::InvalidAddressSize, ""},
      {64, "a16", Error::InvalidAddressSize, ""},
      {32, "o64", Error::InvalidOperandSize, ""},
      {64, "asp", Error::UnsupportedMnemonic, ""},
      {64, "foo", Error::UnsupportedMnemonic, ""},
  };
  for (const auto& [bits, word, error, hex] : cases) {
    OwnedEncodeResult result;
    api::X86EncodeOptions options = modeOptions(bits);
    options.offset = 0x100;
    const auto status = api::encodeBuiltinUnitsWithResolver(result, word, {}, options, {});
    EXPECT_EQ(errorOf(status), error) << word;
    EXPECT_EQ(hexBytes(result), hex) << word;
    if (!status || std::string_view(hex).empty()) {
      EXPECT_TRUE(result.units().empty()) << word;
      continue;
    }
    ASSERT_EQ(result.units().size(), 1u) << word;
    EXPECT_EQ(result.units()[0].form, "standalone legacy prefix") << word;
    EXPECT_EQ(result.offset, 0x101) << word;
  }
}

struct PlaceholderCase {
  std::uint8_t bits;
  const char* line;
  const char* hex;
  const char* form;  // of the one placeholder unit
  encode::UnitKind kind;
  std::int64_t value;
  std::int64_t base;
  std::uint8_t width;
};

// The resolver knows "ahead" 100 bytes on and "far_label" 200 bytes on (both
// recorded as fixups), "x" right after a ten-byte instruction, and nothing
// of "later".
RecordingResolver labels() {
  RecordingResolver resolver;
  resolver.on("ahead", relocatable(100)).on("far_label", relocatable(200)).on("x", relocatable(10));
  resolver.on("edge", relocatable(129)).on("past_edge", relocatable(130));
  resolver.on("later", forwardReference());
  return resolver;
}

TEST(EncodePlaceholders, LeaveFieldsForThePatcher) {
  using encode::UnitKind;
  const PlaceholderCase cases[] = {
      {64, "mov dword [rel x],5", "C7 05 00 00 00 00 05 00 00 00", "rip-relative displacement", UnitKind::rel, 10, 10,
       4},
      {64, "jmp later", "EB 00", "rel8", UnitKind::rel, 0, 2, 1},
      {64, "jmp ahead", "EB 00", "rel8", UnitKind::rel, 100, 2, 1},
      {64, "jmp far_label", "E9 00 00 00 00", "rel", UnitKind::rel, 200, 5, 4},
      {64, "jmp edge", "EB 00", "rel8", UnitKind::rel, 129, 2, 1},
      {64, "jmp past_edge", "E9 00 00 00 00", "rel", UnitKind::rel, 130, 5, 4},
      {64, "jmp [later]", "FF 24 25 00 00 00 00", "displacement", UnitKind::imm, 0, 0, 4},
      {64, "jmp [rel later]", "FF 25 00 00 00 00", "rip-relative displacement", UnitKind::rel, 0, 6, 4},
      {64, "jmp short later", "EB 00", "rel8", UnitKind::rel, 0, 2, 1},
      {64, "jmp near later", "E9 00 00 00 00", "rel", UnitKind::rel, 0, 5, 4},
      {64, "call later", "E8 00 00 00 00", "rel", UnitKind::rel, 0, 5, 4},
      {16, "jmp 0x7c00", "E9 00 00", "rel", UnitKind::rel, 0x7C00, 3, 2},
      {32, "jz 0x401000", "0F 84 00 00 00 00", "rel", UnitKind::rel, 0x401000, 6, 4},
      {64, "mov eax,later", "B8 00 00 00 00", "id", UnitKind::imm, 0, 0, 4},
      {64, "add eax,later", "05 00 00 00 00", "id", UnitKind::imm, 0, 0, 4},
      {64, "mov eax,[rbx+later]", "8B 83 00 00 00 00", "displacement", UnitKind::imm, 0, 0, 4},
  };
  for (const auto& [bits, line, hex, form, kind, value, base, width] : cases) {
    RecordingResolver resolver = labels();
    OwnedEncodeResult result;
    ASSERT_TRUE(encodeLine(result, line, modeOptions(bits), resolver.resolver())) << line;
    EXPECT_EQ(hexBytes(result), hex) << line;
    const encode::EncodeUnit* placeholder = nullptr;
    for (const auto& unit : result.units())
      if (unit.has_fixup) {
        EXPECT_EQ(placeholder, nullptr) << line << ": more than one placeholder";
        placeholder = &unit;
      }
    ASSERT_NE(placeholder, nullptr) << line;
    EXPECT_EQ(placeholder->form, form) << line;
    EXPECT_EQ(placeholder->kind, kind) << line;
    EXPECT_EQ(placeholder->value, value) << line;
    EXPECT_EQ(placeholder->base, base) << line;
    EXPECT_EQ(placeholder->width, width) << line;
    EXPECT_EQ(placeholder->segment, encode::kNoId) << line;
    EXPECT_EQ(placeholder->symbol, encode::kNoId) << line;
  }
}

TEST(EncodePlaceholders, NearJumpGuardForcesTheNearForm) {
  RecordingResolver resolver = labels();
  api::X86EncodeOptions options = modeOptions(64);
  const std::uint8_t guard = 0;
  options.near_jump_guard = &guard;
  options.jump_form_a = 1;
  options.jump_form_b = 1;
  OwnedEncodeResult result;
  ASSERT_TRUE(encodeLine(result, "jmp later", options, resolver.resolver()));
  EXPECT_EQ(hexBytes(result), "E9 00 00 00 00");
  ASSERT_TRUE(encodeLine(result, "jz later", options, resolver.resolver()));
  EXPECT_EQ(hexBytes(result), "0F 84 00 00 00 00");
  const std::uint8_t keep = 1;
  options.near_jump_guard = &keep;
  ASSERT_TRUE(encodeLine(result, "jmp later", options, resolver.resolver()));
  EXPECT_EQ(hexBytes(result), "EB 00");
}

struct ErrorCase {
  std::uint8_t bits;
  const char* line;
  qovrin::Error error;
};

TEST(EncodeErrors, LeaveTheResultEmpty) {
  using qovrin::Error;
  const ErrorCase cases[] = {
      {64, "mov ah,sil", Error::HighRegisterNotAllowed},
      {64, "lock xchg [rax],eax", Error::UnsupportedPrefixes},
      {64, "lock mov eax,ebx", Error::UnsupportedPrefixes},
      {64, "xacquire mov eax,[rax]", Error::UnsupportedPrefixes},
      {64, "xrelease lock", Error::UnsupportedPrefixes},
      {64, "lock a64", Error::UnsupportedPrefixes},
      {32, "rep fs", Error::UnsupportedPrefixes},
      // A repeat word would replace the F2 or F3 the opcode carries, add one
      // where it takes none, or stand before VEX or EVEX; bnd goes only with
      // near branches.
      {32, "rep movsd xmm0,qword [di]", Error::UnsupportedPrefixes},
      {64, "repne addss xmm0,xmm1", Error::UnsupportedPrefixes},
      {64, "repne lzcnt eax,ecx", Error::UnsupportedPrefixes},
      {64, "rep lzcnt eax,ecx", Error::UnsupportedPrefixes},
      {64, "rep addps xmm0,xmm1", Error::UnsupportedPrefixes},
      {64, "rep addpd xmm0,xmm1", Error::UnsupportedPrefixes},
      {64, "rep vaddps xmm0,xmm1,xmm2", Error::UnsupportedPrefixes},
      {64, "xrelease vaddps zmm0,zmm1,zmm2", Error::UnsupportedPrefixes},
      {64, "bnd jmp far [rax]", Error::UnsupportedPrefixes},
      {16, "nobnd call far [bx]", Error::UnsupportedPrefixes},
      {32, "bnd jmp 0x10:0x20", Error::UnsupportedPrefixes},
      // A far target has no near form to fall back on: that form would drop
      // the segment.
      {32, "jmp far ebx", Error::NoMatchingTemplate},
      {16, "call far bx", Error::NoMatchingTemplate},
      {64, "jmp far rax", Error::NoMatchingTemplate},
      {64, "bnd jmp short later", Error::UnsupportedPrefixes},
      {64, "vaddps {sae},zmm1,zmm2", Error::UnsupportedOperandSyntax},
      {64, "vaddps zmm0,zmm1,zmm2,{foo}", Error::UnsupportedOperandSyntax},
      {16, "mov ax,[bx+bp]", Error::InvalidEffectiveAddress},
      {16, "mov ax,[si+di]", Error::InvalidEffectiveAddress},
      {64, "mov eax,[rax+ecx]", Error::ImpossibleAddressSize},
      {32, "mov eax,[esp*2]", Error::InvalidRspIndexRegister},
      {32, "push r8", Error::NoMatchingTemplate},
      {64, "push eax", Error::InvalidOperandSize},
      {32, "mov cr8,eax", Error::InvalidOperandSize},
      {64, "add eax,ebx,ecx,edx,esi,edi", Error::UnsupportedOperands},
      {64, "ccmpe later,eax,ebx", Error::SymbolicSubByteImmediate},
      {64, "not [rax]", Error::AmbiguousMemorySize},
      {64, "cmp qword [rax],0x100000000", Error::CmpR64ImmediateOutOfRange},
      {32, "mov eax,[r8]", Error::ImpossibleAddressSize},
  };
  for (const auto& [bits, line, error] : cases) {
    RecordingResolver resolver = labels();
    OwnedEncodeResult result;
    const auto status = encodeLine(result, line, modeOptions(bits), resolver.resolver());
    EXPECT_EQ(errorOf(status), error) << line;
    EXPECT_TRUE(result.units().empty()) << line;
    EXPECT_TRUE(result.warnings().empty()) << line;
  }
}

TEST(EncodeMatching, PrefersTheFormTheOperandsAllow) {
  const UnitCase cases[] = {
      {64, "cmp eax,0x80000000", "3D 00 00 00 80"},
      {64, "inc dword [rax]", "FF 00"},
      {32, "inc eax", "40"},
      {64, "add rax,1", "48 83 C0 01"},
      {64, "add rax,0x80", "48 05 80 00 00 00"},
      {64, "mov rax,0x7fffffff", "B8 FF FF FF 7F"},
      {64, "mov rax,-0x80000000", "48 C7 C0 00 00 00 80"},
      {64, "mov eax,[rel 0x1000]", "8B 04 25 00 10 00 00"},
      {32, "mov al,[0x1000]", "A0 00 10 00 00"},
      {16, "mov al,[0x1000]", "A0 00 10"},
      {64, "vpdpbusd xmm0,xmm1,xmm2", "62 F2 75 08 50 C2"},
      {64, "ccmpe 3,eax,ebx", "62 F4 1C 04 39 D8"},
      {64, "aadd [rax],ecx", "0F 38 FC 08"},
      {64, "vaddps zmm0,zmm1,[rax+260]", "62 F1 74 48 58 80 04 01 00 00"},
      {64, "vaddps zmm0,zmm1,[rax+16]{1to16}", "62 F1 74 58 58 40 04"},
      {64, "vaddss xmm0,xmm1,xmm2,{rn-sae}", "62 F1 76 18 58 C2"},
      {64, "vcomiss xmm0,xmm1,{sae}", "62 F1 7C 18 2F C1"},
  };
  for (const auto& [bits, line, expected] : cases) EXPECT_EQ(encodeToHex(line, bits), expected) << line;
}

}  // namespace
}  // namespace x86_encoder::testing

namespace x86_encoder::testing {
namespace {

struct OptionCase {
  const char* line;
  api::X86EncodeOptions options;
  const char* expected;  // hex, or "error: <name>"
};

api::X86EncodeOptions with(void (*set)(api::X86EncodeOptions&)) {
  api::X86EncodeOptions options = modeOptions(64);
  set(options);
  return options;
}

TEST(EncodeOptions, SelectEncodingsMarkersAndSizes) {
  const OptionCase cases[] = {
      {"add eax,ebx", with([](auto& o) { o.marker_370 = 1; }), "62 F4 7C 0C 03 C3"},
      {"imul eax,ebx,5", with([](auto& o) { o.marker_371 = 1; }), "62 F4 7C 18 6B C3 05"},
      {"add eax,ebx", with([](auto& o) { o.encoding = 2; }), "D5 00 01 D8"},
      {"add eax,ebx", with([](auto& o) { o.encoding = 1; }), "40 01 D8"},
      {"vaddps xmm0,xmm1,xmm2", with([](auto& o) { o.encoding = 3; }), "62 F1 74 08 58 C2"},
      {"vaddps xmm0,xmm1,xmm2", with([](auto& o) { o.encoding = 6; }), "C4 E1 70 58 C2"},
      {"vaddpd ymm8,ymm9,[r12]", with([](auto& o) { o.encoding = 5; }), "error: InvalidPrefixEncoding"},
      {"vpdpbusd xmm0,xmm1,xmm2", with([](auto& o) { o.encoding = 4; }), "C4 E2 71 50 C2"},
      {"add eax,ebx", with([](auto& o) { o.encoding = 3; }), "62 F4 7C 08 03 C3"},
      {"mov ax,1", with([](auto& o) { o.operand_size = 2; }), "66 B8 01 00"},
      {"mov eax,1", with([](auto& o) { o.operand_size = 2; }), "error: InvalidOperandSize"},
      {"movsb", with([](auto& o) { o.rep = 1; }), "F3 A4"},
      {"jmp rax", with([](auto& o) { o.rep = 6; }), "F2 FF E0"},
      {"mov eax,[rax]", with([](auto& o) { o.segment_override = 96; }), "64 8B 00"},
      {"mov eax,[0x1000]", with([](auto& o) { o.default_rel = 1; }), "8B 04 25 00 10 00 00"},
      {"add eax,ebx", with([](auto& o) { o.bits = 8; }), "error: InvalidModeBits"},
      // The template's own 66 carries the word through sizing; the mode has no 64-bit operand size.
      {"paddd xmm0,xmm1", with([](auto& o) {
         o.bits = 32;
         o.operand_size = 4;
       }),
       "error: InvalidOperandSize"},
  };
  for (const auto& [line, options, expected] : cases) {
    OwnedEncodeResult result;
    const auto status = encodeLine(result, line, options);
    const std::string got = status ? hexBytes(result) : "error: " + std::string(qovrin::errorName(status.error()));
    EXPECT_EQ(got, expected) << line;
  }
}

}  // namespace
}  // namespace x86_encoder::testing
