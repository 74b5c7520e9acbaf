#include "x86_encoder/bytecode.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <set>

#include "x86_encoder/tables.hpp"

namespace {

namespace tables = x86_encoder::tables;
using x86_encoder::bytecode::describeCode;
using x86_encoder::bytecode::Emission;
using x86_encoder::bytecode::Sizing;

// Walked with the payload lengths both walkers read, every program lands on
// its terminator as its last byte, and every code it uses is one that
// sizing and generation both carry out.
TEST(BytecodeDescriptors, EveryTemplateProgramWalksToItsTerminator) {
  std::set<std::uint8_t> used;
  for (std::uint32_t t = 0; t < tables::kTemplateCount; ++t) {
    const auto program = tables::TemplateRef{t}.program();
    ASSERT_FALSE(program.empty()) << t;
    std::size_t position = 0;
    while (position < program.size() && program[position] != 0) {
      const std::uint8_t code = program[position];
      used.insert(code);
      EXPECT_NE(describeCode(code).sizing, Sizing::unsupported) << "template " << t << " code 0" << std::oct << +code;
      EXPECT_NE(describeCode(code).emission, Emission::unsupported)
          << "template " << t << " code 0" << std::oct << +code;
      position += 1 + describeCode(code).payload;
    }
    EXPECT_EQ(position + 1, program.size()) << "template " << t;
  }
  EXPECT_GT(used.size(), 100u);
}

// The two columns of one code describe the same thing: a code that one walker
// refuses the other refuses too, and a code that adds bytes to the size is
// one that generation emits something for.
TEST(BytecodeDescriptors, SizingAndEmissionAgreePerCode) {
  for (unsigned c = 0; c < 256; ++c) {
    const auto& code = describeCode(static_cast<std::uint8_t>(c));
    EXPECT_EQ(code.sizing == Sizing::unsupported, code.emission == Emission::unsupported) << std::oct << c;
    const bool emits_nothing =
        code.emission == Emission::nothing || code.emission == Emission::bump || code.emission == Emission::finish;
    const bool sized_by_operands = code.sizing == Sizing::word_or_dword || code.sizing == Sizing::address_width ||
                                   code.sizing == Sizing::effective_address;
    if (emits_nothing) {
      EXPECT_EQ(code.size, 0u) << std::oct << c;
      EXPECT_FALSE(sized_by_operands) << std::oct << c;
    }
    if (code.emission == Emission::literal) {
      EXPECT_EQ(code.payload, code.size) << std::oct << c;
    }
  }
}

}  // namespace
