// Instruction lines lowered into a module: the text each fragment keeps for
// the encoders, and the failures lowering reports for them.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "frontend/lower/lower_test_support.hpp"

namespace {

using frontend::target::Target;

struct LineCase {
  Target target;
  const char* source;
  std::vector<std::string> texts;        // of the instruction fragments, in order
  std::vector<std::string> diagnostics;  // errors lowering reports
};

std::vector<std::string> instructionTexts(const frontend::module::Module& module) {
  std::vector<std::string> texts;
  for (const auto& fragment : module.fragments())
    if (const auto* line = fragment.instruction()) texts.emplace_back(line->text());
  return texts;
}

TEST(IsaLowering, ReplacesMetaIntegersAndBuiltinCalls) {
  const Target x86 = Target::x86(64);
  const Target riscv = Target::riscv(64);
  const LineCase cases[] = {
      {x86, "let n = 4\nmov eax, n\n", {"mov eax, 4"}, {}},
      {x86, "const r = \"x\"\nmov eax, r\n", {"mov eax, r"}, {}},
      {x86, "const size = 16\nadd rsp, size\njmp start\nstart:\n", {"add rsp, 16", "jmp start"}, {}},
      {x86, "mov eax, here\n", {"mov eax, here"}, {}},
      {x86, "nop\nmov eax, here()\n", {"nop", "mov eax, 1"}, {}},
      {x86, "let eax = 7\nmov eax, 1\n", {"mov eax, 1"}, {}},
      {riscv, "let eax = 7\naddi a0, a0, eax\n", {"addi a0, a0, 7"}, {}},
      {x86, "let add = 1\nlock add [x], 1\n", {"lock add [x], 1"}, {}},
      {x86, "const h = 3\nmov eax, 10h + h\nmov eax, 0x10\n", {"mov eax, 10h + 3", "mov eax, 0x10"}, {}},
      {x86, "let off = -8\nmov eax, [rbp+off]\n", {"mov eax, [rbp+18446744073709551608]"}, {}},
      {x86, "let s = 1\nmov eax, 's'\n", {"mov eax, 's'"}, {}},
      {x86, "let n = 2\nlea eax, [n + n*4 + 's''n']\n", {"lea eax, [2 + 2*4 + 's''n']"}, {}},
      {x86, "let n = 2\nmov eax, (n)\nmov eax, (1)\n", {"mov eax, (2)", "mov eax, (1)"}, {}},
      {x86, "let a = 5\nnop\nmov eax, here() + a\n", {"nop", "mov eax, 1 + 5"}, {}},
      {x86, "mov eax, k\nconst k = 3\nmov eax, k\nlet w = 2\nmov eax, w+k\n", {"mov eax, k", "mov eax, 3", "mov eax, 2+3"}, {}},
      {Target::spirv(), "const id = 5\n%id = OpTypeVoid\n", {"%5 = OpTypeVoid"}, {}},
      {x86, "mov eax, 'oops\n", {}, {"main.qov:1:1: lowering failed: InvalidExpression"}},
      {x86, "mov eax, 'a''b' + \"c\"\nmov eax, 'a', \"b\n", {"mov eax, 'a''b' + \"c\""},
       {"main.qov:2:1: lowering failed: InvalidExpression"}},
      {x86, "const z = 1\nmov eax, 'a''b'\nmov eax, 'a', \"b\n", {"mov eax, 'a''b'"},
       {"main.qov:3:1: lowering failed: InvalidExpression"}},
      {x86, "mov eax, label_addr(nowhere)\n", {}, {"main.qov:1:1: lowering failed: UndefinedSymbol"}},
      // A SPIR-V string takes backslash escapes, with or without names to replace.
      {Target::spirv(), "OpName %1 \"a\\\"b\"\n", {"OpName %1 \"a\\\"b\""}, {}},
      {Target::spirv(),
       "const b = 2\nOpEntryPoint Fragment %b \"a\\\" b\\\\\" %b\n",
       {"OpEntryPoint Fragment %2 \"a\\\" b\\\\\" %2"},
       {}},
      {Target::spirv(), "OpName %1 \"a\\\"\n", {}, {"main.qov:1:1: lowering failed: InvalidExpression"}},
      {x86, "mov eax, \"a\\\"b\"\n", {}, {"main.qov:1:1: lowering failed: InvalidExpression"}},
  };
  for (const auto& [target, source, texts, diagnostics] : cases) {
    frontend::module::Module module(target);
    module.setJoinsSettledInstructions(false);
    const auto lowered = lower_test::lower(module, source);
    EXPECT_EQ(lowered.diagnostics, diagnostics) << source;
    EXPECT_EQ(instructionTexts(module), texts) << source;
  }
}

TEST(IsaLowering, LabelsAfterAnInstructionSeeItsSize) {
  frontend::module::Module module(Target::riscv(64));
  const auto lowered = lower_test::lower(module, "a:\nc.nop\nnop\nb:\n");
  ASSERT_TRUE(lowered.status) << lowered.diagnostics.front();
  const auto* b = module.findSymbol("b")->label();
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(b->offset, 6u);
}

}  // namespace
