#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <string_view>

#include "x86_encoder/tables.hpp"
#include "x86_encoder/test_text.hpp"

namespace {

namespace tables = x86_encoder::tables;

TEST(RegisterTable, RowsRunFromAhToZmm31WithIdsRowPlusOne) {
  const auto rows = tables::registers();
  ASSERT_EQ(rows.size(), 344u);
  EXPECT_EQ(rows.front().name, "ah");
  EXPECT_EQ(rows.back().name, "zmm31");
  for (std::size_t row = 0; row < rows.size(); ++row) {
    EXPECT_EQ(rows[row].id, static_cast<std::int16_t>(row + 1)) << rows[row].name;
    EXPECT_LE(rows[row].number, 31u) << rows[row].name;
    EXPECT_TRUE(rows[row].flags & 1u) << rows[row].name << " lacks the register bit";
    EXPECT_EQ(tables::registerById(rows[row].id), &rows[row]);
  }
}

TEST(RegisterTable, EveryRegisterIsFoundByItsNameInAnyCase) {
  for (const auto& row : tables::registers()) {
    EXPECT_EQ(tables::findRegister(row.name), &row) << row.name;
    EXPECT_EQ(tables::findRegister(x86_encoder::test::upperAscii(row.name)), &row) << row.name;
  }
}

struct KnownRegister {
  std::string_view text;
  int id;
  std::uint32_t number;
};

TEST(RegisterTable, KnownRegistersInMixedCase) {
  const KnownRegister cases[] = {
      {"k1", 99, 1}, {"K0", 98, 0}, {"k7", 105, 7}, {"Es", 93, 0},      {"cS", 47, 1}, {"SS", 224, 2},
      {"ds", 85, 3}, {"Fs", 96, 4}, {"gS", 97, 5},  {"zMm31", 344, 31}, {"AH", 1, 4},  {"r8B", 115, 8},
  };
  for (const auto& known : cases) {
    const auto* row = tables::findRegister(known.text);
    ASSERT_NE(row, nullptr) << known.text;
    EXPECT_EQ(row->id, known.id) << known.text;
    EXPECT_EQ(row->number, known.number) << known.text;
  }
}

TEST(RegisterTable, NamedIdsAreTheSegmentRegisters) {
  const std::pair<std::string_view, std::int16_t> named[] = {
      {"cs", tables::kRegisterIdCs}, {"ds", tables::kRegisterIdDs}, {"es", tables::kRegisterIdEs},
      {"fs", tables::kRegisterIdFs}, {"gs", tables::kRegisterIdGs}, {"ss", tables::kRegisterIdSs},
  };
  for (const auto& [name, id] : named) {
    const auto* row = tables::registerById(id);
    ASSERT_NE(row, nullptr) << name;
    EXPECT_EQ(row->name, name);
    EXPECT_TRUE(row->flags & 0x200u) << name << " lacks the segment class";
  }
}

TEST(RegisterTable, OpmaskRowsHoldK0ToK7) {
  ASSERT_EQ(tables::kOpmaskRegisterRows.last - tables::kOpmaskRegisterRows.first, 7);
  for (std::uint32_t n = 0; n < 8; ++n) {
    const auto& row = tables::registers()[tables::kOpmaskRegisterRows.first + n];
    const char name[] = {'k', static_cast<char>('0' + n)};
    EXPECT_EQ(row.name, std::string_view(name, 2));
    EXPECT_EQ(row.number, n);
    EXPECT_TRUE(row.flags & (1u << 15)) << row.name << " lacks the opmask class";
  }
}

TEST(RegisterTable, TextsThatAreNoRegister) {
  const std::string_view cases[] = {
      "",
      "k8",
      "zmm32",
      "eaxx",
      "ea",
      "e ax",
      " eax",
      "eax ",
      "\xC5\x9F",
      std::string_view("al\0", 3),
      "xmm0000000000000000",
      "rax\n",
  };
  for (const auto text : cases) EXPECT_EQ(tables::findRegister(text), nullptr) << text;
}

TEST(RegisterTable, IdsOutsideTheTable) {
  EXPECT_EQ(tables::registerById(0), nullptr);
  EXPECT_EQ(tables::registerById(-1), nullptr);
  EXPECT_EQ(tables::registerById(345), nullptr);
  EXPECT_EQ(tables::registerById(1)->name, "ah");
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
