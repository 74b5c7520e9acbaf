#include "frontend/encode/backend_adapter.hpp"

#include <gtest/gtest.h>

#include <limits>
#include <optional>
#include <vector>

#include "common/ascii.hpp"
#include "common/error_of.hpp"
#include "frontend/encode/x86_line.hpp"

namespace {

using frontend::backend_adapter::FixupFact;
using frontend::backend_adapter::ResolvedOperand;
using frontend::backend_adapter::RiscvPatchContext;
using frontend::target::Target;
using qovrin::Error;
using qovrin::testing::errorOf;

TEST(BackendAdapter, NamesTheRiscvBranchesAndJumps) {
  const std::pair<const char*, bool> cases[] = {
      {"beqz a0, done", true}, {"  BNE a0, a1, x", true}, {"j back", true},        {"jal ra, f", true},
      {"c.j back", true},      {"c.beqz a0, x", true},    {"lui a0, value", false}, {"addi a0, a0, 1", false},
      {"jalr ra, 0(a0)", false}, {"nonsense x", false},
  };
  for (const auto& [text, relative] : cases)
    EXPECT_EQ(frontend::backend_adapter::riscvMnemonicIsPcRelative(text), relative) << text;
  EXPECT_FALSE(frontend::backend_adapter::riscvMnemonicIsPcRelative(std::string(97, 'j') + " x"));
}

struct PatchCase {
  const char* text;
  bool pc_relative;
  std::optional<std::int64_t> value;  // none: absent
  std::optional<Error> error;
  unsigned xlen;
};

TEST(BackendAdapter, AnswersRiscvOperandsFromTheirResolvedValues) {
  constexpr __int128 kTwo64 = static_cast<__int128>(1) << 64;
  const ResolvedOperand operands[] = {{"done", 0x1010},
                                      {"big", static_cast<__int128>(1) << 63},
                                      {"low", 0x10},
                                      {"back - 8", -8},
                                      {"wide", kTwo64},
                                      {"under", -kTwo64 / 2 - 1},
                                      {"top", kTwo64 - 0x800}};
  // A value is its 64-bit pattern; a distance wraps at the XLEN.
  const PatchCase cases[] = {
      {" done ", true, 0x10, std::nullopt, 64},
      {"done", false, 0x1010, std::nullopt, 64},
      {"Done", true, std::nullopt, std::nullopt, 64},
      {"low", true, -0xff0, std::nullopt, 64},
      {"big", false, std::numeric_limits<std::int64_t>::min(), std::nullopt, 64},
      {"top", false, -0x800, std::nullopt, 64},
      {"top", true, -0x1800, std::nullopt, 64},
      {"wide", false, std::nullopt, Error::ImmediateOutOfRange, 64},
      {"under", true, std::nullopt, Error::ImmediateOutOfRange, 64},
      {"back - 8", false, -8, std::nullopt, 64},
      {"back - 8", true, -0x1008, std::nullopt, 64},
      {"low", true, 0xfffff010, std::nullopt, 32},
      {"top", true, 0xffffe800, std::nullopt, 32},
  };
  for (const auto& [text, pc_relative, value, error, xlen] : cases) {
    RiscvPatchContext context{0x1000, operands, pc_relative, xlen};
    const auto answer = frontend::backend_adapter::resolveRiscvExpression(&context, text);
    EXPECT_EQ(errorOf(answer), error) << text;
    if (answer) {
      EXPECT_EQ(answer->value, value) << text;
    }
  }
}

TEST(BackendAdapter, FoldsX86ConstantsAndRecordsEverythingElse) {
  std::vector<FixupFact> facts;
  frontend::backend_adapter::X86ResolverContext context{&facts, Target::x86(64)};
  const auto constant = frontend::backend_adapter::unknownX86ExpressionResolver(&context, "2*8+1");
  ASSERT_TRUE(constant && *constant);
  EXPECT_EQ((*constant)->value, 17);
  EXPECT_TRUE((*constant)->known);
  EXPECT_TRUE(facts.empty());

  const auto label = frontend::backend_adapter::unknownX86ExpressionResolver(&context, " later ");
  ASSERT_TRUE(label && *label);
  EXPECT_TRUE((*label)->symbolic);
  ASSERT_EQ(facts.size(), 1u);
  EXPECT_EQ(facts[0].text, "later");
  EXPECT_EQ(facts[0].width, 64);

  EXPECT_EQ(errorOf(frontend::backend_adapter::unknownX86ExpressionResolver(&context, "1 +")),
            Error::ExpressionResolutionFailed);
  frontend::backend_adapter::X86ResolverContext riscv{&facts, Target::riscv(64)};
  const auto other = frontend::backend_adapter::unknownX86ExpressionResolver(&riscv, "later");
  ASSERT_TRUE(other);
  EXPECT_FALSE(*other);
}

struct X86ResolveCase {
  const char* text;
  std::optional<std::int64_t> folded;  // else a fact with the trimmed text, unless error
  std::optional<Error> error;
};

// Names are recorded without a parse; everything else the expression parser
// sees, so the two roads must agree at their border.
TEST(BackendAdapter, RecordsX86NamesAndFoldsOnlyConstants) {
  const X86ResolveCase cases[] = {
      {"L5", std::nullopt, std::nullopt},      {" _x$1\t", std::nullopt, std::nullopt},
      {"true", std::nullopt, std::nullopt},    {"a.b", std::nullopt, std::nullopt},
      {"L1+4", std::nullopt, std::nullopt},    {"-(3)", -3, std::nullopt},
      {"0x10", 16, std::nullopt},              {"$x", std::nullopt, Error::ExpressionResolutionFailed},
      {"1x", std::nullopt, Error::ExpressionResolutionFailed},
      {"a b", std::nullopt, Error::ExpressionResolutionFailed},
      {".loop", std::nullopt, std::nullopt},   {"._x$2", std::nullopt, std::nullopt},
      {".a.b", std::nullopt, std::nullopt},    {".L + 4", std::nullopt, std::nullopt},
      {"x - (.y)", std::nullopt, std::nullopt}, {".", std::nullopt, Error::ExpressionResolutionFailed},
      {".5", std::nullopt, Error::ExpressionResolutionFailed},
      {"..x", std::nullopt, Error::ExpressionResolutionFailed},
      {".$", std::nullopt, Error::ExpressionResolutionFailed},
      {"a.", std::nullopt, Error::ExpressionResolutionFailed},
  };
  for (const auto& [text, folded, error] : cases) {
    std::vector<FixupFact> facts;
    frontend::backend_adapter::X86ResolverContext context{&facts, Target::x86(32)};
    const auto answer = frontend::backend_adapter::unknownX86ExpressionResolver(&context, text);
    EXPECT_EQ(errorOf(answer), error) << text;
    if (!answer) continue;
    ASSERT_TRUE(*answer) << text;
    EXPECT_EQ((*answer)->symbolic, !folded) << text;
    if (folded) {
      EXPECT_EQ((*answer)->value, *folded) << text;
      EXPECT_TRUE(facts.empty()) << text;
    } else {
      ASSERT_EQ(facts.size(), 1u) << text;
      EXPECT_EQ(facts[0].text, qovrin::trim(text, " \t")) << text;
    }
  }
}

struct SplitCase {
  const char* line;
  const char* mnemonic;
  std::vector<std::string_view> operands;
  bool lock;
  std::uint8_t repeat;
};

TEST(IsaText, SplitsX86LinesAndTakesPrefixWords) {
  const SplitCase cases[] = {
      {"rep movsb", "movsb", {}, false, 1},
      {"repnz scasb", "scasb", {}, false, 3},
      {"REPE cmpsb", "cmpsb", {}, false, 2},
      {"lock add dword [rax], 1", "add", {"dword [rax]", "1"}, true, 0},
      {"rep bsf eax, ecx", "bsf", {"eax", "ecx"}, false, 1},
      {"repnz\tbsr eax,\tecx", "bsr", {"eax", "ecx"}, false, 3},
      {"xacquire lock add dword [rax], 1", "add", {"dword [rax]", "1"}, true, 4},
      {"LOCK XRELEASE xchg [rax], eax", "xchg", {"[rax]", "eax"}, true, 5},
      {"bnd jmp rax", "jmp", {"rax"}, false, 6},
      {"nobnd ret", "ret", {}, false, 7},
      {"rep repne movsb", "repne", {"movsb"}, false, 1},
      {"lock lock inc dword [rax]", "lock", {"inc dword [rax]"}, true, 0},
      {"rep", "rep", {}, false, 0},
      {"bnd0", "bnd0", {}, false, 0},
      {"lock", "lock", {}, false, 0},
      {"lock a b, c, d, e, f", "lock", {"a b", "c", "d", "e", "f"}, false, 0},
      {"mov eax, f(1, 2)", "mov", {"eax", "f(1, 2)"}, false, 0},
      {"db 'a,b', [x, y], {z, w}", "db", {"'a,b'", "[x, y]", "{z, w}"}, false, 0},
      {" \tnop\r\n", "nop", {}, false, 0},
      {"op a), b", "op", {"a)", "b"}, false, 0},
      {"op {a, [b}, c], d", "op", {"{a, [b}, c]", "d"}, false, 0},
      {"op 'a''b', c\t,\v d", "op", {"'a''b'", "c", "d"}, false, 0},
      {"op x, \"a, b", "op", {"x", "\"a, b"}, false, 0},
      {"op\tx", "op", {"x"}, false, 0},
  };
  // One record for every line: nothing of a line may stay for the next.
  frontend::x86_line::ParsedInstruction parsed;
  for (const auto& [line, mnemonic, operands, lock, repeat] : cases) {
    ASSERT_TRUE(frontend::x86_line::parseX86Line(line, parsed)) << line;
    EXPECT_EQ(parsed.mnemonic, mnemonic) << line;
    EXPECT_EQ(std::vector(parsed.operands().begin(), parsed.operands().end()), operands) << line;
    EXPECT_EQ(parsed.lock, lock) << line;
    EXPECT_EQ(parsed.repeat, repeat) << line;
  }
  frontend::x86_line::ParsedInstruction blank;
  EXPECT_EQ(errorOf(frontend::x86_line::parseX86Line(" \t", blank)), Error::InvalidInstructionText);
  std::string wide = "op x";
  for (std::size_t count = 1; count < frontend::x86_line::kMaxOperands; ++count) wide += ", x";
  EXPECT_TRUE(frontend::x86_line::parseX86Line(wide, blank));
  EXPECT_EQ(errorOf(frontend::x86_line::parseX86Line(wide + ", y", blank)), Error::UnsupportedOperands);
  // A comma stands only between two operands.
  for (const std::string_view line : {"mov eax,,1", "mov eax, 1,", "mov , eax, 1", "nop ,", "op a, \t, b"})
    EXPECT_EQ(errorOf(frontend::x86_line::parseX86Line(line, blank)), Error::MissingOperand) << line;
}

}  // namespace
