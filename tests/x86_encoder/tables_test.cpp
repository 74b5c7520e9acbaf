#include "x86_encoder/tables.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <map>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "x86_encoder/bytecode.hpp"

namespace {

namespace tables = x86_encoder::tables;
namespace pools = x86_encoder::generated_match_tables;
using tables::Iflag;
using tables::TemplateRef;

// Table names are lower case; lookups must find them in upper case too.
std::string upperAscii(std::string_view text) {
  std::string result(text);
  for (char& c : result)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return result;
}

TEST(InstructionTables, Sizes) {
  EXPECT_EQ(tables::x86_mnemonic_names.size(), 2639u);
  EXPECT_EQ(tables::x86_templates.size(), 12319u);
  EXPECT_EQ(pools::bytecodes.size(), 73483u);
  EXPECT_EQ(pools::iflag_fields.size(), 654u);
  EXPECT_EQ(pools::iflag_fields[0].size(), 7u);
  EXPECT_EQ(pools::operand_flags_pool.size(), 174u);
  EXPECT_EQ(pools::decorator_flags_pool.size(), 14u);
  EXPECT_EQ(tables::registers().size(), 344u);
}

TEST(MnemonicTable, KnownMnemonicsInMixedCase) {
  const std::tuple<std::string_view, std::uint16_t, std::uint32_t, std::uint32_t> cases[] = {
      {"MOV", 20, 84, 19},     {"Add", 24, 80, 129}, {"jMp", 116, 31, 2232},
      {"call", 171, 23, 2719}, {"db", 0, 0, 0},      {"Hint_Nop63", 2638, 3, 12316},
  };
  for (const auto& [text, opcode, count, first] : cases) {
    EXPECT_EQ(tables::findMnemonic(text), opcode) << text;
    EXPECT_EQ(tables::templatesOf(opcode).count, count) << text;
    EXPECT_EQ(tables::templatesOf(opcode).first, first) << text;
  }
}

// Each mnemonic is found by its name in either case and owns the next run of
// templates; only the data directives own none.
TEST(MnemonicTable, EveryMnemonicIsFoundAndOwnsAContiguousRun) {
  std::vector<std::string_view> without;
  std::uint32_t next = 0;
  for (std::uint16_t opcode = 0; opcode < tables::kMnemonicCount; ++opcode) {
    const auto name = tables::mnemonicName(opcode);
    EXPECT_EQ(tables::findMnemonic(name), opcode) << name;
    EXPECT_EQ(tables::findMnemonic(upperAscii(name)), opcode) << name;
    EXPECT_EQ(tables::x86_mnemonic_index[opcode].opcode, opcode);
    const auto range = tables::templatesOf(opcode);
    if (range.empty()) {
      without.push_back(name);
      EXPECT_EQ(tables::x86_mnemonic_index[opcode].first_template, tables::kNoTemplate) << name;
      continue;
    }
    ASSERT_EQ(range.first, next) << name;
    for (std::uint32_t t = range.first; t < range.first + range.count; ++t)
      ASSERT_EQ(tables::x86_templates[t].opcode, opcode) << "template " << t;
    next += range.count;
  }
  EXPECT_EQ(next, tables::kTemplateCount);
  EXPECT_EQ(without, (std::vector<std::string_view>{"db", "dw", "dd", "dq", "dt", "do", "dy", "dz", "incbin"}));
}

// A program split into its literal opcode bytes and everything else.
struct OpcodeSplit {
  std::vector<std::uint8_t> rest;
  std::vector<std::uint8_t> opcode;
};

OpcodeSplit splitOpcode(std::span<const std::uint8_t> program) {
  OpcodeSplit split;
  for (std::size_t at = 0; at < program.size() && program[at] != 0;) {
    const std::uint8_t code = program[at];
    const std::size_t end = std::min(program.size(), at + 1 + x86_encoder::bytecode::payloadLength(code));
    const bool literal = code >= 01 && code <= 04;
    split.rest.push_back(code);
    auto& payload = literal ? split.opcode : split.rest;
    payload.insert(payload.end(), program.begin() + static_cast<std::ptrdiff_t>(at + 1),
                   program.begin() + static_cast<std::ptrdiff_t>(end));
    at = end;
  }
  return split;
}

// One operation has one opcode: two forms of a mnemonic that take the same
// operands the same way and differ in the opcode alone would write two
// instructions for one line, depending on which the search meets first.
TEST(TemplateTable, NoTwoFormsOfAMnemonicDifferOnlyInTheOpcode) {
  for (std::uint16_t opcode = 0; opcode < tables::kMnemonicCount; ++opcode) {
    const auto range = tables::templatesOf(opcode);
    for (std::uint32_t first = range.first; first < range.first + range.count; ++first) {
      const TemplateRef one{first};
      const OpcodeSplit one_split = splitOpcode(one.program());
      for (std::uint32_t second = first + 1; second < range.first + range.count; ++second) {
        const TemplateRef other{second};
        if (one.row().operand_count != other.row().operand_count ||
            one.row().operand_classes != other.row().operand_classes ||
            one.row().operand_decorators != other.row().operand_decorators || one.row().iflags != other.row().iflags)
          continue;
        const OpcodeSplit other_split = splitOpcode(other.program());
        if (one_split.rest != other_split.rest) continue;
        EXPECT_EQ(one_split.opcode, other_split.opcode)
            << tables::mnemonicName(opcode) << ": templates " << first << " and " << second;
      }
    }
  }
}

TEST(MnemonicTable, TextsThatAreNoMnemonic) {
  for (const std::string_view text :
       {"", "movv", "mo", "m0v", " mov", "mov ", "mov\t", "\xC3\xA9", "eax", "vcvtneps2bf16vcvtneps2bf16"})
    EXPECT_FALSE(tables::findMnemonic(text).has_value()) << text;
  EXPECT_FALSE(tables::findMnemonic(std::string_view("mov\0", 4)).has_value());
  EXPECT_EQ(tables::mnemonicName(2639), "");
  EXPECT_TRUE(tables::templatesOf(2639).empty());
}

// Every row points inside its pools, and exactly the templates whose program
// starts with a jump-class byte are relaxable jumps.
TEST(TemplateTable, EveryRowPointsInsideItsTables) {
  std::size_t relaxable = 0;
  for (std::uint32_t t = 0; t < tables::kTemplateCount; ++t) {
    const TemplateRef ref{t};
    const auto& row = ref.row();
    const auto program = ref.program();
    EXPECT_LE(std::size_t{row.program_offset} + row.program_length, pools::bytecodes.size()) << t;
    ASSERT_FALSE(program.empty()) << "template " << t;
    EXPECT_LE(row.program_length, 12) << t;
    EXPECT_EQ(program.back(), 0) << "template " << t << " lacks its terminator";
    EXPECT_EQ(row.jump_class, program.front()) << t;
    EXPECT_LT(row.iflags, pools::iflag_fields.size()) << t;
    EXPECT_LE(row.operand_count, 4) << t;
    for (std::size_t slot = 0; slot < tables::kOperandSlots; ++slot) {
      EXPECT_LT(row.operand_classes[slot], pools::operand_flags_pool.size()) << t;
      EXPECT_LT(row.operand_decorators[slot], pools::decorator_flags_pool.size()) << t;
      EXPECT_TRUE(slot < row.operand_count || row.operand_classes[slot] == tables::kZeroOperandClassRow) << t;
    }
    const bool relax = ref.iflagTest(Iflag::kJmpRelax);
    EXPECT_EQ(relax, row.jump_class == 0370 || row.jump_class == 0371) << t;
    EXPECT_TRUE(row.jump_class != 0371 || row.opcode == tables::kMnemonicJmp) << t;
    EXPECT_TRUE(row.jump_class != 0370 || tables::kJccHintIflagRows.contains(row.iflags)) << t;
    relaxable += relax;
  }
  EXPECT_EQ(relaxable, 124u);
}

TEST(TemplateTable, KnownProgramsAndFlags) {
  const std::array<std::uint8_t, 5> add_byte_register{0273, 01, 00, 0101, 0};
  const auto add = tables::templatesOf(tables::kMnemonicAdd);
  bool found = false;
  for (std::uint32_t t = add.first; t < add.first + add.count; ++t)
    found |= std::ranges::equal(TemplateRef{t}.program(), add_byte_register);
  EXPECT_TRUE(found);

  const TemplateRef mov_sdword{tables::kMovSdwordTemplate};
  const auto mov = tables::templatesOf(tables::kMnemonicMov);
  EXPECT_TRUE(mov_sdword.index >= mov.first && mov_sdword.index < mov.first + mov.count);
  EXPECT_EQ(mov_sdword.row().iflags, tables::kSdwordIflagRow);
  EXPECT_TRUE(mov_sdword.iflagTest(Iflag::kSdword));
  EXPECT_FALSE(mov_sdword.iflagTest(224));
  EXPECT_FALSE(mov_sdword.iflagTest(0xFFFFFFFFu));
  EXPECT_FALSE(tables::iflagTest(654, Iflag::kSdword));
  EXPECT_TRUE(std::ranges::equal(mov_sdword.program(), std::array<std::uint8_t, 6>{0324, 01, 0307, 0200, 0255, 0}));
}

// The traits worked out when the tables are built agree with the programs
// and operand words they summarise.
TEST(TemplateTable, TraitsAgreeWithProgramsAndOperandWords) {
  std::size_t sized = 0;
  for (std::uint32_t t = 0; t < tables::kTemplateCount; ++t) {
    const TemplateRef ref{t};
    const auto& traits = ref.traits();
    const auto fixed = x86_encoder::bytecode::findCode(
        ref.program(), [](std::uint8_t code) { return code == 0310 || code == 0311 || code == 0313; });
    const std::uint8_t expected_bits = fixed == 0310 ? 16 : fixed == 0311 ? 32 : fixed == 0313 ? 64 : 0;
    EXPECT_EQ(traits.fixed_address_bits, expected_bits) << t;
    const bool size_64 = x86_encoder::bytecode::findCode(ref.program(), [](std::uint8_t c) { return c == 0324; });
    EXPECT_TRUE(!traits.overridable || (ref.iflagTest(Iflag::kOpt) && !size_64)) << t;
    for (std::size_t slot = 0; slot < tables::kOperandSlots; ++slot) {
      const unsigned code = (traits.exact_sizes >> (4 * slot)) & 15u;
      if (code == 0) continue;
      ++sized;
      EXPECT_LT(slot, ref.row().operand_count) << t;
      // Exactly the named size bit among the size bits, and no immediate or jump slot.
      EXPECT_EQ(ref.operandClass(slot) & 0xF0FF'0000'0000ull, 1ull << (31 + code)) << t << " slot " << slot;
      EXPECT_EQ(ref.operandClass(slot) & 0x0600'0000'0002ull, 0u) << t << " slot " << slot;
    }
  }
  EXPECT_GT(sized, tables::kTemplateCount);
}

TEST(NamedRows, IflagRowsHoldWhatTheyName) {
  std::size_t jcc_hint = 0;
  std::map<std::string_view, int> late_vex;
  for (std::uint32_t t = 0; t < tables::kTemplateCount; ++t) {
    const TemplateRef ref{t};
    const auto iflags = ref.row().iflags;
    const auto name = tables::mnemonicName(ref.row().opcode);
    const bool lock1 = tables::kLock1IflagRows.contains(iflags);
    EXPECT_EQ(lock1, ref.iflagTest(Iflag::kLock1)) << t;
    EXPECT_TRUE(!lock1 || ref.row().opcode == tables::kMnemonicXchg) << t;
    if (tables::kJccHintIflagRows.contains(iflags)) {
      ++jcc_hint;
      EXPECT_TRUE(name.starts_with('j') && name != "jmp" && ref.iflagTest(Iflag::kJccHint)) << name;
    }
    if (tables::kLateVexIflagRows.contains(iflags)) {
      ++late_vex[name];
      EXPECT_TRUE(ref.iflagTest(Iflag::kVex) && !ref.iflagTest(Iflag::kEvex)) << t;
    }
  }
  EXPECT_GT(jcc_hint, 0u);
  // Two templates of each of these mnemonics, and of no other.
  const std::string_view expected[] = {
      "vcvtneps2bf16", "vpdpbusd",  "vpdpbusds", "vpdpwssd",    "vpdpwssds",   "vpdpbssd",  "vpdpbssds",
      "vpdpbsud",      "vpdpbsuds", "vpdpbuud",  "vpdpbuuds",   "vpdpwsud",    "vpdpwsuds", "vpdpwusd",
      "vpdpwusds",     "vpdpwuud",  "vpdpwuuds", "vpmadd52huq", "vpmadd52luq",
  };
  EXPECT_EQ(late_vex.size(), std::size(expected));
  for (const auto name : expected) EXPECT_EQ(late_vex[name], 2) << name;

  std::size_t nf = 0, zu = 0;
  for (std::uint16_t row = 0; row < tables::kIflagRowCount; ++row) {
    const auto word = tables::x86_iflag_extra_words[row];
    EXPECT_EQ(word & ~(tables::kExtraWordNfFlip | tables::kExtraWordZuFlip), 0u) << row;
    EXPECT_TRUE(word == 0 || tables::iflagTest(row, Iflag::kEvex)) << row;
    nf += (word & tables::kExtraWordNfFlip) != 0;
    zu += (word & tables::kExtraWordZuFlip) != 0;
  }
  EXPECT_GT(nf, 0u);
  EXPECT_GT(zu, 0u);
}

TEST(NamedRows, PoolRows) {
  EXPECT_EQ(pools::operand_flags_pool[tables::kZeroOperandClassRow], 0u);
  for (std::uint32_t row = 0; row < tables::kOperandPoolSize; ++row)
    EXPECT_EQ((pools::operand_flags_pool[row] & (0x1Full << 48)) != 0, tables::kRegisterSetOperandRows.contains(row))
        << row;
  for (std::uint32_t row = 0; row < tables::kDecoratorPoolSize; ++row)
    EXPECT_EQ((pools::decorator_flags_pool[row] & 0x20u) == 0,
              ((tables::kDecoratorRowsWithoutBroadcast >> row) & 1u) != 0)
        << row;
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

TEST(RegisterTable, RowsRunFromAhToZmm31AndAreFoundByName) {
  const auto rows = tables::registers();
  EXPECT_EQ(rows.front().name, "ah");
  EXPECT_EQ(rows.back().name, "zmm31");
  for (std::size_t row = 0; row < rows.size(); ++row) {
    const auto& reg = rows[row];
    EXPECT_EQ(reg.id, static_cast<std::int16_t>(row + 1)) << reg.name;
    EXPECT_LE(reg.number, 31u) << reg.name;
    EXPECT_TRUE(reg.flags & 1u) << reg.name << " lacks the register bit";
    EXPECT_EQ(tables::registerById(reg.id), &reg);
    EXPECT_EQ(tables::findRegister(reg.name), &reg) << reg.name;
    EXPECT_EQ(tables::findRegister(upperAscii(reg.name)), &reg) << reg.name;
  }
}

TEST(RegisterTable, KnownRegistersInMixedCase) {
  const std::tuple<std::string_view, int, std::uint32_t> cases[] = {
      {"k1", 99, 1}, {"K0", 98, 0}, {"k7", 105, 7}, {"Es", 93, 0},      {"cS", 47, 1}, {"SS", 224, 2},
      {"ds", 85, 3}, {"Fs", 96, 4}, {"gS", 97, 5},  {"zMm31", 344, 31}, {"AH", 1, 4},  {"r8B", 115, 8},
  };
  for (const auto& [text, id, number] : cases) {
    const auto* row = tables::findRegister(text);
    ASSERT_NE(row, nullptr) << text;
    EXPECT_EQ(row->id, id) << text;
    EXPECT_EQ(row->number, number) << text;
  }
}

TEST(RegisterTable, NamedRowsAreTheSegmentAndOpmaskRegisters) {
  const std::pair<std::string_view, std::int16_t> segments[] = {
      {"cs", tables::kRegisterIdCs}, {"ds", tables::kRegisterIdDs}, {"es", tables::kRegisterIdEs},
      {"fs", tables::kRegisterIdFs}, {"gs", tables::kRegisterIdGs}, {"ss", tables::kRegisterIdSs},
  };
  for (const auto& [name, id] : segments) {
    EXPECT_EQ(tables::registerById(id)->name, name);
    EXPECT_TRUE(tables::registerById(id)->flags & 0x200u) << name << " lacks the segment class";
  }
  ASSERT_EQ(tables::kOpmaskRegisterRows.last - tables::kOpmaskRegisterRows.first, 7);
  for (std::uint32_t n = 0; n < 8; ++n) {
    const auto& row = tables::registers()[tables::kOpmaskRegisterRows.first + n];
    const char name[] = {'k', static_cast<char>('0' + n)};
    EXPECT_EQ(row.name, std::string_view(name, 2));
    EXPECT_EQ(row.number, n);
    EXPECT_TRUE(row.flags & (1u << 15)) << row.name << " lacks the opmask class";
  }
}

TEST(RegisterTable, TextsAndIdsThatAreNoRegister) {
  for (const std::string_view text :
       {"", "k8", "zmm32", "eaxx", "ea", "e ax", " eax", "eax ", "\xC5\x9F", "xmm0000000000000000", "rax\n"})
    EXPECT_EQ(tables::findRegister(text), nullptr) << text;
  EXPECT_EQ(tables::findRegister(std::string_view("al\0", 3)), nullptr);
  for (const int id : {0, -1, 345}) EXPECT_EQ(tables::registerById(id), nullptr) << id;
}

TEST(OperandQualifiers, WordsAndFlags) {
  const std::pair<std::string_view, std::uint64_t> expected[] = {
      {"strict", 0x40},      {"byte", 1ull << 32},  {"word", 1ull << 33},  {"dword", 1ull << 34}, {"qword", 1ull << 35},
      {"tword", 1ull << 36}, {"oword", 1ull << 37}, {"xword", 1ull << 37}, {"yword", 1ull << 38}, {"zword", 1ull << 39},
      {"near", 1ull << 41},  {"far", 1ull << 40},   {"short", 1ull << 42}, {"abs", 1ull << 43},
  };
  const auto qualifiers = tables::operandQualifiers();
  ASSERT_EQ(qualifiers.size(), std::size(expected));
  for (std::size_t i = 0; i < qualifiers.size(); ++i) {
    EXPECT_EQ(qualifiers[i].word, expected[i].first);
    EXPECT_EQ(qualifiers[i].flag, expected[i].second) << expected[i].first;
  }
}

}  // namespace

// Matching turns templates away by their filters alone, so a filter that
// demanded a bit its operand words do not, or named another size, would
// silently lose a template; one that demanded less would only cost time.
TEST(TemplateTable, FiltersAgreeWithOperandWordsAndSizes) {
  constexpr std::uint64_t kIgnored = 0x1F'F0FF'0000'0000;
  for (std::uint32_t t = 0; t < tables::kTemplateCount; ++t) {
    const TemplateRef ref{t};
    const auto& filter = ref.filter();
    ASSERT_EQ(filter.operand_count, ref.row().operand_count) << t;
    for (unsigned slot = 0; slot < tables::kFilterSlots; ++slot) {
      const bool present = slot < ref.row().operand_count;
      EXPECT_EQ(filter.demands[slot], present ? ref.operandClass(slot) & ~kIgnored : 0u) << t << " slot " << slot;
      const unsigned code = (ref.traits().exact_sizes >> (4 * slot)) & 15u;
      EXPECT_EQ((filter.sizes >> (tables::kFilterSlotBits * slot)) & 0xFFFFu, 1u << code) << t << " slot " << slot;
    }
  }
}
