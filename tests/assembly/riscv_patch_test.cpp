// RISC-V instructions are patched by encoding them again with their resolved
// operands; a store into one takes its place for good.

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "assembly/flat.hpp"
#include "common/error_of.hpp"
#include "frontend/encode/pass.hpp"

namespace {

using frontend::module::Module;
using frontend::target::Target;

void appendAt(Module& module, std::string_view text) {
  const auto size = frontend::pass::appendSettledInstruction(module, 0, Target::riscv(64), text, {});
  ASSERT_TRUE(size);
  ASSERT_GT(*size, 0u);
}

TEST(RiscvPatch, EncodesTheInstructionAgainAtItsAddress) {
  Module module(Target::riscv(64));
  module.sections()[0].base = 0x1000;
  appendAt(module, "beq a0, a1, done");
  appendAt(module, "lui a0, done");
  ASSERT_TRUE(module.defineAnchoredLabel("done", 0, 8, 2, {}));
  const auto result = assembly::assembleFlat(module, {});
  ASSERT_TRUE(result);
  EXPECT_EQ(result->pending_fixups, 0u);
  // beq a0, a1, +8 and lui a0, 0x1008 (the value itself, not a distance).
  EXPECT_EQ(result->image, (std::vector<std::uint8_t>{0x63, 0x04, 0xb5, 0x00, 0x37, 0x85, 0x00, 0x01}));
}

TEST(RiscvPatch, AStoreIntoAnInstructionDropsItsFixups) {
  Module module(Target::riscv(64));
  appendAt(module, "j nowhere");
  ASSERT_TRUE(module.storeIntegerAt(0, 0, 0x00000013, 4));
  const auto result = assembly::assembleFlat(module, {});
  ASSERT_TRUE(result);
  EXPECT_EQ(result->pending_fixups, 0u);
  EXPECT_EQ(result->image, (std::vector<std::uint8_t>{0x13, 0, 0, 0}));
}

}  // namespace
