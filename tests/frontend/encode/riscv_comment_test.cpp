#include "frontend/encode/riscv_comment.hpp"

#include <gtest/gtest.h>

#include <string_view>
#include <vector>

namespace {

using frontend::riscv_comment::commentedInstructions;
using frontend::riscv_comment::commentWarning;

struct Line {
  std::string_view text;
  unsigned xlen;
  std::vector<std::string_view> left_out;
};

TEST(RiscvComment, FindsTheInstructionsAfterAMarkButNotProse) {
  for (const Line& c : std::vector<Line>{
           {"addi a0, a0, 1 ; addi a1, a1, 2", 64, {"addi a1, a1, 2"}},
           {"addi a0, a0, 1;addi a1, a1, 2;ret", 64, {"addi a1, a1, 2", "ret"}},
           {"addi a0, a0, 1 # addi a1, a1, 2", 32, {"addi a1, a1, 2"}},
           {"nop ; j loop", 64, {"j loop"}},
           {"nop # loop counter ; ret", 64, {"ret"}},
           {"nop # loop counter", 64, {}},
           {"addi a0, a0, 1 ; add one", 64, {}},
           {"nop ; addiw a0, a0, 1", 32, {}},
           {"nop ; addiw a0, a0, 1", 64, {"addiw a0, a0, 1"}},
           {"nop;", 64, {}},
           {"nop ;; #", 64, {}},
           {"nop", 64, {}},
       })
    EXPECT_EQ(commentedInstructions(c.text, c.xlen), c.left_out) << c.text;
}

TEST(RiscvComment, TheWarningNamesTheFirstMark) {
  EXPECT_EQ(commentWarning("nop ; ret # x"), "an instruction after ';' is a comment and is not assembled");
  EXPECT_EQ(commentWarning("nop # ret ; x"), "an instruction after '#' is a comment and is not assembled");
}

}  // namespace
