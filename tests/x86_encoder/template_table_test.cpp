#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "x86_encoder/tables.hpp"
#include "x86_encoder/test_text.hpp"

namespace {

namespace tables = x86_encoder::tables;
namespace pools = x86_encoder::generated_match_tables;
using tables::Iflag;
using tables::TemplateRef;

TEST(InstructionTables, Sizes) {
  EXPECT_EQ(tables::x86_mnemonic_names.size(), 2639u);
  EXPECT_EQ(tables::x86_mnemonic_index.size(), 2639u);
  EXPECT_EQ(tables::x86_templates.size(), 12319u);
  EXPECT_EQ(pools::bytecodes.size(), 73483u);
  EXPECT_EQ(pools::iflag_fields.size(), 654u);
  EXPECT_EQ(pools::iflag_fields[0].size(), 7u);
  EXPECT_EQ(pools::operand_flags_pool.size(), 174u);
  EXPECT_EQ(pools::decorator_flags_pool.size(), 14u);
  EXPECT_EQ(tables::x86_iflag_extra_words.size(), 654u);
  EXPECT_EQ(tables::x86_registers.size(), 344u);
}

struct KnownMnemonic {
  std::string_view text;
  std::uint16_t opcode;
  std::uint32_t count;
  std::uint32_t first;
};

TEST(MnemonicTable, KnownMnemonicsInMixedCase) {
  const KnownMnemonic cases[] = {
      {"MOV", 20, 84, 19},     {"Add", 24, 80, 129}, {"jMp", 116, 31, 2232},
      {"call", 171, 23, 2719}, {"xchg", 113, 0, 0},  {"RESB", 8, 0, 0},
      {"resz", 15, 0, 0},      {"db", 0, 0, 0},      {"Hint_Nop63", 2638, 0, 0},
  };
  for (const auto& known : cases) {
    const auto opcode = tables::findMnemonic(known.text);
    ASSERT_TRUE(opcode.has_value()) << known.text;
    EXPECT_EQ(*opcode, known.opcode) << known.text;
    if (known.count == 0) continue;
    const auto range = tables::templatesOf(*opcode);
    EXPECT_EQ(range.first, known.first) << known.text;
    EXPECT_EQ(range.count, known.count) << known.text;
  }
}

TEST(MnemonicTable, EveryMnemonicIsFoundByItsNameInAnyCase) {
  for (std::uint16_t opcode = 0; opcode < tables::kMnemonicCount; ++opcode) {
    const auto name = tables::mnemonicName(opcode);
    EXPECT_EQ(tables::findMnemonic(name), opcode) << name;
    EXPECT_EQ(tables::findMnemonic(x86_encoder::test::upperAscii(name)), opcode) << name;
  }
}

TEST(MnemonicTable, TextsThatAreNoMnemonic) {
  const std::string_view cases[] = {
      "",
      "movv",
      "mo",
      "m0v",
      " mov",
      "mov ",
      "mov\t",
      std::string_view("mov\0", 4),
      "\xC3\xA9",
      "eax",
      "vcvtneps2bf16vcvtneps2bf16",
  };
  for (const auto text : cases) EXPECT_FALSE(tables::findMnemonic(text).has_value()) << text;
  EXPECT_EQ(tables::mnemonicName(2639), "");
}

TEST(MnemonicTable, OnlyTheDataDirectivesHaveNoTemplates) {
  std::vector<std::string_view> without;
  for (std::uint16_t opcode = 0; opcode < tables::kMnemonicCount; ++opcode) {
    if (!tables::templatesOf(opcode).empty()) continue;
    without.push_back(tables::mnemonicName(opcode));
    EXPECT_EQ(tables::x86_mnemonic_index[opcode].first_template, tables::kNoTemplate);
    EXPECT_EQ(tables::x86_mnemonic_index[opcode].template_count, 0);
  }
  const std::vector<std::string_view> expected{"db", "dw", "dd", "dq", "dt", "do", "dy", "dz", "incbin"};
  EXPECT_EQ(without, expected);
  EXPECT_TRUE(tables::templatesOf(2639).empty());
}

TEST(MnemonicTable, TemplateRunsAreContiguousAndCoverEveryTemplate) {
  std::uint32_t next = 0;
  for (std::uint16_t opcode = 0; opcode < tables::kMnemonicCount; ++opcode) {
    EXPECT_EQ(tables::x86_mnemonic_index[opcode].opcode, opcode);
    const auto range = tables::templatesOf(opcode);
    if (range.empty()) continue;
    ASSERT_EQ(range.first, next) << tables::mnemonicName(opcode);
    for (std::uint32_t t = range.first; t < range.first + range.count; ++t)
      ASSERT_EQ(tables::x86_templates[t].opcode, opcode) << "template " << t;
    next += range.count;
  }
  EXPECT_EQ(next, tables::kTemplateCount);
}

TEST(TemplateTable, EveryRowPointsInsideItsTables) {
  for (std::uint32_t t = 0; t < tables::kTemplateCount; ++t) {
    const TemplateRef ref{t};
    const auto& row = ref.row();
    const auto program = ref.program();
    ASSERT_FALSE(program.empty()) << "template " << t;
    EXPECT_LE(std::size_t{row.program_offset} + row.program_length, pools::bytecodes.size()) << t;
    EXPECT_GE(row.program_length, 1) << t;
    EXPECT_LE(row.program_length, 12) << t;
    EXPECT_EQ(program.back(), 0) << "template " << t << " lacks its terminator";
    EXPECT_EQ(row.jump_class, program.front()) << t;
    EXPECT_LT(row.iflags, pools::iflag_fields.size()) << t;
    EXPECT_LE(row.operand_count, 4) << t;
    for (std::size_t slot = 0; slot < tables::kOperandSlots; ++slot) {
      EXPECT_LT(row.operand_classes[slot], pools::operand_flags_pool.size()) << t;
      EXPECT_LT(row.operand_decorators[slot], pools::decorator_flags_pool.size()) << t;
      if (slot >= row.operand_count) {
        EXPECT_EQ(row.operand_classes[slot], tables::kZeroOperandClassRow) << t;
        EXPECT_EQ(ref.operandClass(slot), 0u) << t;
      }
    }
  }
}

// First template of the opcode whose program starts with the byte; none past the run.
std::uint32_t firstWithJumpClass(std::uint16_t opcode, std::uint8_t jump_class) {
  const auto range = tables::templatesOf(opcode);
  std::uint32_t t = range.first;
  while (t < range.first + range.count && tables::x86_templates[t].jump_class != jump_class) ++t;
  return t;
}

TEST(TemplateTable, RelaxableJumpsAreExactlyTheJumpClassTemplates) {
  std::size_t relaxable = 0;
  for (std::uint32_t t = 0; t < tables::kTemplateCount; ++t) {
    const TemplateRef ref{t};
    const auto jump_class = ref.row().jump_class;
    EXPECT_EQ(jump_class == 0370 || jump_class == 0371, ref.iflagTest(Iflag::kJmpRelax)) << "template " << t;
    if (jump_class == 0371) {
      EXPECT_EQ(ref.row().opcode, tables::kMnemonicJmp) << t;
    } else if (jump_class == 0370) {
      EXPECT_TRUE(tables::kJccHintIflagRows.contains(ref.row().iflags)) << t;
    }
    relaxable += ref.iflagTest(Iflag::kJmpRelax);
  }
  EXPECT_EQ(relaxable, 124u);
}

TEST(TemplateTable, IflagTestReadsTheRowBits) {
  const auto mov = tables::templatesOf(tables::kMnemonicMov);
  bool mov_relaxable = false;
  for (std::uint32_t t = mov.first; t < mov.first + mov.count; ++t) mov_relaxable |= TemplateRef{t}.iflagTest(25);
  EXPECT_FALSE(mov_relaxable);
  const auto jmp = tables::templatesOf(tables::kMnemonicJmp);
  const TemplateRef relaxable_jmp{firstWithJumpClass(tables::kMnemonicJmp, 0371)};
  ASSERT_LT(relaxable_jmp.index, jmp.first + jmp.count);
  EXPECT_TRUE(relaxable_jmp.iflagTest(25));
  EXPECT_FALSE(TemplateRef{jmp.first}.iflagTest(25));
  EXPECT_FALSE(relaxable_jmp.iflagTest(Iflag::kVex));
  EXPECT_FALSE(relaxable_jmp.iflagTest(224));
  EXPECT_FALSE(relaxable_jmp.iflagTest(0xFFFFFFFFu));
  EXPECT_FALSE(tables::iflagTest(654, 25));
  // One bit in every word, read against the raw row.
  const auto& words = pools::iflag_fields[relaxable_jmp.row().iflags];
  for (const std::uint32_t bit : {0u, 31u, 32u, 45u, 64u, 65u, 100u, 160u, 223u})
    EXPECT_EQ(relaxable_jmp.iflagTest(bit), ((words[bit / 32] >> (bit % 32)) & 1u) != 0) << bit;
  const auto jz = tables::findMnemonic("JZ");
  ASSERT_TRUE(jz.has_value());
  const TemplateRef short_jz{firstWithJumpClass(*jz, 0370)};
  EXPECT_TRUE(short_jz.iflagTest(Iflag::kJmpRelax));
  EXPECT_TRUE(short_jz.iflagTest(Iflag::kJccHint));
  const auto vaddps = tables::findMnemonic("VADDPS");
  ASSERT_TRUE(vaddps.has_value());
  const TemplateRef vex{tables::templatesOf(*vaddps).first};
  EXPECT_TRUE(vex.iflagTest(Iflag::kVex) || vex.iflagTest(Iflag::kEvex));
}

TEST(TemplateTable, AddByteRegisterFormProgram) {
  const std::array<std::uint8_t, 5> expected{0273, 01, 00, 0101, 0};
  const auto add = tables::templatesOf(tables::kMnemonicAdd);
  bool found = false;
  for (std::uint32_t t = add.first; t < add.first + add.count && !found; ++t) {
    const auto program = TemplateRef{t}.program();
    found = std::ranges::equal(program, expected);
  }
  EXPECT_TRUE(found);
}

TEST(NamedRows, XchgOwnsTheLock1Rows) {
  for (std::uint32_t t = 0; t < tables::kTemplateCount; ++t) {
    const TemplateRef ref{t};
    const bool in_rows = tables::kLock1IflagRows.contains(ref.row().iflags);
    EXPECT_EQ(in_rows, ref.iflagTest(Iflag::kLock1)) << t;
    if (in_rows) {
      EXPECT_EQ(ref.row().opcode, tables::kMnemonicXchg) << t;
    }
  }
  EXPECT_EQ(tables::kLock1IflagRows.first, 181);
  EXPECT_EQ(tables::kLock1IflagRows.last, 183);
}

TEST(NamedRows, JccHintRowsBelongToConditionalJumps) {
  std::size_t templates = 0;
  for (std::uint32_t t = 0; t < tables::kTemplateCount; ++t) {
    const TemplateRef ref{t};
    if (!tables::kJccHintIflagRows.contains(ref.row().iflags)) continue;
    ++templates;
    const auto name = tables::mnemonicName(ref.row().opcode);
    EXPECT_TRUE(name.starts_with('j') && name != "jmp") << name;
    EXPECT_TRUE(ref.iflagTest(Iflag::kJccHint)) << t;
  }
  EXPECT_GT(templates, 0u);
  EXPECT_EQ(tables::kJccHintIflagRows.first, 206);
  EXPECT_EQ(tables::kJccHintIflagRows.last, 212);
}

TEST(NamedRows, LateVexRowsHoldTwoTemplatesOfEachListedMnemonic) {
  std::map<std::string_view, int> per_mnemonic;
  for (std::uint32_t t = 0; t < tables::kTemplateCount; ++t) {
    const TemplateRef ref{t};
    if (!tables::kLateVexIflagRows.contains(ref.row().iflags)) continue;
    ++per_mnemonic[tables::mnemonicName(ref.row().opcode)];
    EXPECT_TRUE(ref.iflagTest(Iflag::kVex) && !ref.iflagTest(Iflag::kEvex)) << t;
  }
  const std::string_view expected[] = {
      "vcvtneps2bf16", "vpdpbusd",  "vpdpbusds", "vpdpwssd",    "vpdpwssds",   "vpdpbssd",  "vpdpbssds",
      "vpdpbsud",      "vpdpbsuds", "vpdpbuud",  "vpdpbuuds",   "vpdpwsud",    "vpdpwsuds", "vpdpwusd",
      "vpdpwusds",     "vpdpwuud",  "vpdpwuuds", "vpmadd52huq", "vpmadd52luq",
  };
  EXPECT_EQ(per_mnemonic.size(), std::size(expected));
  for (const auto name : expected) EXPECT_EQ(per_mnemonic[name], 2) << name;
  EXPECT_EQ(tables::kLateVexIflagRows.first, 488);
  EXPECT_EQ(tables::kLateVexIflagRows.last, 497);
}

TEST(NamedRows, MovSignExtendedImmediateTemplate) {
  const TemplateRef ref{tables::kMovSdwordTemplate};
  const auto mov = tables::templatesOf(tables::kMnemonicMov);
  EXPECT_GE(ref.index, mov.first);
  EXPECT_LT(ref.index, mov.first + mov.count);
  EXPECT_EQ(ref.row().iflags, tables::kSdwordIflagRow);
  const std::array<std::uint8_t, 6> expected{0324, 01, 0307, 0200, 0255, 0};
  EXPECT_TRUE(std::ranges::equal(ref.program(), expected));
}

TEST(NamedRows, PoolRows) {
  EXPECT_EQ(pools::operand_flags_pool[tables::kZeroOperandClassRow], 0u);
  constexpr std::uint64_t kSetBits = 0x1Full << 48;
  for (std::uint32_t row = 0; row < tables::kOperandPoolSize; ++row)
    EXPECT_EQ((pools::operand_flags_pool[row] & kSetBits) != 0, tables::kRegisterSetOperandRows.contains(row)) << row;
  EXPECT_EQ(tables::kRegisterSetOperandRows.first, 169);
  EXPECT_EQ(tables::kRegisterSetOperandRows.last, 171);
  EXPECT_EQ(tables::kDecoratorRowsWithoutBroadcast, 0x4C3u);
  for (std::uint32_t row = 0; row < tables::kDecoratorPoolSize; ++row)
    EXPECT_EQ((pools::decorator_flags_pool[row] & 0x20u) == 0,
              ((tables::kDecoratorRowsWithoutBroadcast >> row) & 1u) != 0)
        << row;
}

TEST(NamedRows, ExtraWordsOnlyMarkEvexRows) {
  std::size_t nf = 0;
  std::size_t zu = 0;
  for (std::uint16_t row = 0; row < tables::kIflagRowCount; ++row) {
    const auto word = tables::x86_iflag_extra_words[row];
    EXPECT_EQ(word & ~(tables::kExtraWordNfFlip | tables::kExtraWordZuFlip), 0u) << row;
    if (word != 0) {
      EXPECT_TRUE(tables::iflagTest(row, Iflag::kEvex)) << row;
    }
    nf += (word & tables::kExtraWordNfFlip) != 0;
    zu += (word & tables::kExtraWordZuFlip) != 0;
  }
  EXPECT_GT(nf, 0u);
  EXPECT_GT(zu, 0u);
}

TEST(NamedRows, MnemonicConstantsMatchTheirNames) {
  const std::pair<std::string_view, std::uint16_t> named[] = {
      {"mov", tables::kMnemonicMov},   {"add", tables::kMnemonicAdd},   {"jmp", tables::kMnemonicJmp},
      {"call", tables::kMnemonicCall}, {"cmp", tables::kMnemonicCmp},   {"xchg", tables::kMnemonicXchg},
      {"aadd", tables::kMnemonicAadd}, {"aand", tables::kMnemonicAand}, {"aor", tables::kMnemonicAor},
      {"axor", tables::kMnemonicAxor}, {"dec", tables::kMnemonicDec},   {"div", tables::kMnemonicDiv},
      {"inc", tables::kMnemonicInc},   {"mul", tables::kMnemonicMul},   {"neg", tables::kMnemonicNeg},
      {"not", tables::kMnemonicNot},   {"imul", tables::kMnemonicImul}, {"idiv", tables::kMnemonicIdiv},
  };
  for (const auto& [name, opcode] : named) EXPECT_EQ(tables::mnemonicName(opcode), name);
  const std::string_view reserve[] = {"resb", "resw", "resd", "resq", "rest", "reso", "resy", "resz"};
  ASSERT_EQ(tables::kReserveMnemonics.last - tables::kReserveMnemonics.first + 1, 8);
  for (std::uint16_t i = 0; i < 8; ++i)
    EXPECT_EQ(tables::mnemonicName(tables::kReserveMnemonics.first + i), reserve[i]);
}

}  // namespace
