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
           {"nop ; j back to the top of the loop", 64, {}},
           {"nop ; beqz a0, we are done", 64, {}},
           {"nop ; beqz a0, done", 64, {"beqz a0, done"}},
           {"nop ; addi a0, a0, size - 1", 64, {"addi a0, a0, size - 1"}},
           {"nop ; amoadd.w.aqrl a0, a1, (a2)", 64, {"amoadd.w.aqrl a0, a1, (a2)"}},
           {"nop ; li a0, 1 ; la t0, table ; call f ; call ra, f ; tail f ; not a0, a1 ; fence", 64,
            {"li a0, 1", "la t0, table", "call f", "call ra, f", "tail f", "not a0, a1", "fence"}},
           {"nop ; li a0, a1 ; la the table ; call it a day ; tail a0 ; not a0, 1 ; fence it off", 64, {}},
       }) {
    const std::string_view comment = c.text.substr(c.text.find_first_of(";#"));
    EXPECT_EQ(frontend::riscv_comment::commentedInstructions(comment, c.xlen), c.left_out) << c.text;
    if (!c.left_out.empty()) {
      EXPECT_TRUE(frontend::riscv_comment::mayHoldInstructions(comment)) << c.text;
    }
  }
}

TEST(RiscvComment, PassesOverProseWithoutALookup) {
  for (const std::string_view comment : {"; add one to a0", "# increment the counter", ";; #", "",
                                         "; beqz a0, we are done ; j back to the top", "#  \t ; x, y z"})
    EXPECT_FALSE(frontend::riscv_comment::mayHoldInstructions(comment)) << comment;
}

}  // namespace
