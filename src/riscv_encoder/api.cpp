#include "riscv_encoder/api.hpp"

#include <algorithm>
#include <array>
#include <optional>

#include "common/ascii.hpp"
#include "common/packed_words.hpp"
#include "riscv_encoder/encode_fields.hpp"
#include "riscv_encoder/source_operands.hpp"
#include "riscv_encoder/source_parsers.hpp"
#include "riscv_encoder/tables.hpp"

namespace riscv_encoder::api {

namespace {

// Index = register number; "fp" is the one second name.
constexpr std::array<std::string_view, 32> kIntegerNames{
    "zero", "ra", "sp", "gp", "tp", "t0", "t1", "t2", "s0", "s1", "a0", "a1", "a2", "a3", "a4", "a5",
    "a6", "a7", "s2", "s3", "s4", "s5", "s6", "s7", "s8", "s9", "s10", "s11", "t3", "t4", "t5", "t6"};
constexpr std::array<std::string_view, 32> kFloatNames{
    "ft0", "ft1", "ft2", "ft3", "ft4", "ft5", "ft6", "ft7", "fs0", "fs1", "fa0", "fa1", "fa2", "fa3", "fa4", "fa5",
    "fa6", "fa7", "fs2", "fs3", "fs4", "fs5", "fs6", "fs7", "fs8", "fs9", "fs10", "fs11", "ft8", "ft9", "ft10", "ft11"};
constexpr std::size_t kLongestName = [] {
  std::size_t longest = 2;  // "fp"
  for (const std::string_view name : kIntegerNames) longest = std::max(longest, name.size());
  for (const std::string_view name : kFloatNames) longest = std::max(longest, name.size());
  return longest;
}();
static_assert(kLongestName <= qovrin::kLongestPackedWord);

// The ABI names, packed in lower case, at the slot of their hash; probed
// linearly. A packed name is never 0, so 0 marks an empty slot. The length
// keeps a text with a trailing zero byte apart from the name without it.
struct NameSlot {
  std::uint64_t packed = 0;
  std::uint8_t length = 0;
  std::uint8_t number = 0;
};
constexpr std::size_t kNameSlotCount = 256;

constexpr std::size_t nameSlot(std::uint64_t packed) noexcept {
  return static_cast<std::size_t>((packed * 0x9E3779B97F4A7C15u) >> 56) & (kNameSlotCount - 1);
}

// Names go in in the order of the scan that the index replaces (integer
// names, "fp", floating-point names); a name already present keeps its first
// number.
constexpr std::array<NameSlot, kNameSlotCount> kNameIndex = [] {
  std::array<NameSlot, kNameSlotCount> slots{};
  const auto insert = [&slots](std::string_view name, std::size_t number) {
    const std::uint64_t packed = qovrin::packLowerWord(name);
    std::size_t slot = nameSlot(packed);
    while (slots[slot].packed != 0 && slots[slot].packed != packed) slot = (slot + 1) & (kNameSlotCount - 1);
    if (slots[slot].packed == 0)
      slots[slot] = {packed, static_cast<std::uint8_t>(name.size()), static_cast<std::uint8_t>(number)};
  };
  for (std::size_t number = 0; number < kIntegerNames.size(); ++number) insert(kIntegerNames[number], number);
  insert("fp", 8);
  for (std::size_t number = 0; number < kFloatNames.size(); ++number) insert(kFloatNames[number], number);
  return slots;
}();

std::optional<std::uint8_t> findName(std::string_view text) noexcept {
  if (text.size() > kLongestName) return std::nullopt;
  const std::uint64_t packed = qovrin::packLowerWord(text);
  for (std::size_t slot = nameSlot(packed); kNameIndex[slot].packed != 0; slot = (slot + 1) & (kNameSlotCount - 1))
    if (kNameIndex[slot].packed == packed && kNameIndex[slot].length == text.size()) return kNameIndex[slot].number;
  return std::nullopt;
}

}  // namespace

qovrin::Result<std::uint8_t> parseRegister(std::string_view text) noexcept {
  using qovrin::Error;
  text = qovrin::trim(text, " \t\r\n");
  if (text.empty()) return qovrin::fail(Error::RegisterOutOfRange);
  if (const auto number = findName(text)) return *number;
  const char letter = qovrin::lowerAscii(text.front());
  const std::string_view digits = text.substr(1);
  if ((letter != 'x' && letter != 'f' && letter != 'v') || digits.empty() || !qovrin::isAsciiDigit(digits.front()) ||
      !qovrin::isAsciiDigit(digits.back()))
    return qovrin::fail(Error::RegisterOutOfRange);
  unsigned value = 0;
  for (std::size_t index = 0; index < digits.size(); ++index) {
    const char c = digits[index];
    if (c == '_' && qovrin::isAsciiDigit(digits[index - 1])) continue;
    if (!qovrin::isAsciiDigit(c)) return qovrin::fail(Error::RegisterOutOfRange);
    value = value * 10 + static_cast<unsigned>(c - '0');
    if (value > 255) return qovrin::fail(Error::RegisterOutOfRange);
  }
  if (value >= 32) return qovrin::fail(Error::RegisterOutOfRange);
  return static_cast<std::uint8_t>(value);
}

bool namesOperandValue(std::string_view mnemonic, std::string_view word) noexcept {
  return source::rowsReadNamedValue(tables::rowsOfWritten(mnemonic), word);
}

}  // namespace riscv_encoder::api
