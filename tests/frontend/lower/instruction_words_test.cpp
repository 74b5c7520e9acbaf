#include "frontend/lower/instruction_words.hpp"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace {

using frontend::lower::instruction_words::findBuiltinCall;
using frontend::lower::instruction_words::shouldKeepIsaIdentifier;
using frontend::target::Target;

struct CallCase {
  const char* text;
  std::optional<std::string> call;  // the text of the first call found
};

TEST(IsaText, FindsTheFirstLayoutBuiltinCall) {
  const CallCase cases[] = {
      {"mov eax, here()", "here()"},
      {"mov eax, here", std::nullopt},
      {"mov eax, here ( )", "here ( )"},
      {"mov eax, sizeof(Point) + 1", "sizeof(Point)"},
      {"mov eax, sym.unique(\"a\")", "sym.unique(\"a\")"},
      {"mov eax, label_addr(\")\") + 1", "label_addr(\")\")"},
      {"mov eax, offset_of(P, (x))", "offset_of(P, (x))"},
      {"mov eax, f(here())", "here()"},
      {"mov eax, myhere()", std::nullopt},
      {"mov eax, 1here()", std::nullopt},  // inside a number
      {"mov eax, here(", std::nullopt},
      {"mov eax, label_addr('x)", std::nullopt},
      {"mov eax, load.u8(0)", std::nullopt},
      // Quoted text is data, whatever it spells.
      {"mov eax, 'here()'", std::nullopt},
      {"mov eax, 'it''s here()' + here()", "here()"},
      {"mov eax, 1'000 + here()", "here()"},
      {"mov eax, 'here()", std::nullopt},
  };
  for (const auto& [text, call] : cases) {
    const std::string_view line(text);
    const auto found = findBuiltinCall(line, 0, Target::x86(64));
    if (!call) {
      EXPECT_FALSE(found) << text;
      continue;
    }
    ASSERT_TRUE(found) << text;
    EXPECT_EQ(line.substr(found->start, found->end - found->start), *call) << text;
  }
}

// A SPIR-V string reads a backslash as taking the next character.
TEST(IsaText, FindsNoCallInsideATargetsStrings) {
  const std::string_view spirv_line = R"x(%1 = OpString "a\"here()")x";
  EXPECT_FALSE(findBuiltinCall(spirv_line, 0, Target::spirv()));
  const std::string_view x86_line = R"x(mov eax, "a\"here())x";
  const auto found = findBuiltinCall(x86_line, 0, Target::x86(64));
  ASSERT_TRUE(found);
  EXPECT_EQ(x86_line.substr(found->start, found->end - found->start), "here()");
}

struct KeepCase {
  Target target;
  const char* text;
  const char* word;  // its first occurrence in text
  bool kept;
};

TEST(IsaText, KeepsTheTargetsOwnWords) {
  const Target x86 = Target::x86(64);
  const Target riscv = Target::riscv(64);
  const Target spirv = Target::spirv();
  const KeepCase cases[] = {
      {x86, "  mov eax, n", "mov", true},       {x86, "mov EAX, n", "EAX", true},
      {x86, "mov r8d, n", "r8d", true},         {x86, "mov r16, n", "r16", false},
      {x86, "movq xmm31, n", "xmm31", true},    {x86, "movq xmm32, n", "xmm32", false},
      {x86, "mov dword [n], 1", "dword", true}, {x86, "lock add [x], 1", "add", true},
      {x86, "mov eax, n", "n", false},          {x86, "kmovw k7, n", "k7", true},
      {riscv, "addi sp, sp, n", "sp", true},    {riscv, "addi a7, a8, n", "a8", false},
      {riscv, "add s11, t6, x31", "s11", true}, {riscv, "add s11, t6, x31", "t6", true},
      {riscv, "add s11, t7, x31", "t7", false}, {riscv, "add a0, ZERO, eax", "ZERO", true},
      {riscv, "add a0, a1, eax", "eax", false}, {riscv, "fadd.s f0, f31, f32", "f32", false},
      {riscv, "addi fp, fp, n", "fp", true},     {riscv, "fadd.s fa7, ft11, fs11, rne", "fa7", true},
      {riscv, "fadd.s fa7, ft11, fs11, rne", "ft11", true},
      {riscv, "fadd.s fa7, ft11, fs11, rne", "fs11", true},
      {riscv, "fadd.s fa7, ft11, fs11, RNE", "RNE", true},
      {riscv, "vadd.vv v31, v0, v1", "v31", true}, {riscv, "vadd.vv v32, v0, v1", "v32", false},
      {riscv, "csrr a0, mstatus", "mstatus", true}, {riscv, "FENCE rw, iorw", "iorw", true},
      // Where the mnemonic's rows read no such operand, the word is a name.
      {riscv, "slli a0, a0, i", "i", false},     {riscv, "addi a0, a0, time", "time", false},
      {riscv, "csrrwi a0, mstatus, rw", "rw", false}, {riscv, "addi a0, a0, dyn", "dyn", false},
      {x86, "mov eax, rne", "rne", false},
      {spirv, "%1 = OpTypeInt n 0", "OpTypeInt", false},
      {spirv, "OpCapability Shader", "OpCapability", true},
  };
  for (const auto& [target, text, word, kept] : cases) {
    const std::string_view line(text);
    EXPECT_EQ(shouldKeepIsaIdentifier(target, line, line.find(word), word), kept) << text << " / " << word;
  }
}

}  // namespace
