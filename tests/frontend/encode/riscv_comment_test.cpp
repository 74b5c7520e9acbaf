#include "frontend/encode/riscv_comment.hpp"

#include <gtest/gtest.h>

#include <string_view>
#include <vector>

namespace {

struct Line {
  std::string_view text;
  unsigned xlen;
  std::vector<std::string_view> left_out;
};

TEST(RiscvComment, FindsTheInstructionsAfterAMarkButNotProse) {
  for (const Line& c : std::vector<Line>{
           {"addi a0, a0, 1;addi a1, a1, 2 # loop counter; ret", 64, {"addi a1, a1, 2", "ret"}},
           {"nop ; j loop", 32, {"j loop"}},
           {"nop # loop counter", 64, {}},
           {"addi a0, a0, 1 ; add one", 64, {}},
           {"nop ; addiw a0, a0, 1", 32, {}},
           {"nop ;; #", 64, {}},
       })
    EXPECT_EQ(frontend::riscv_comment::commentedInstructions(c.text, c.xlen), c.left_out) << c.text;
}

}  // namespace
