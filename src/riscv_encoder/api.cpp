#include "riscv_encoder/api.hpp"

#include <array>
#include <optional>

#include "common/ascii.hpp"

namespace riscv_encoder::api {

namespace {

// Index = register number; "fp" is the one second name.
constexpr std::array<std::string_view, 32> kIntegerNames{
    "zero", "ra", "sp", "gp", "tp", "t0", "t1", "t2", "s0", "s1", "a0", "a1", "a2", "a3", "a4", "a5",
    "a6", "a7", "s2", "s3", "s4", "s5", "s6", "s7", "s8", "s9", "s10", "s11", "t3", "t4", "t5", "t6"};
constexpr std::array<std::string_view, 32> kFloatNames{
    "ft0", "ft1", "ft2", "ft3", "ft4", "ft5", "ft6", "ft7", "fs0", "fs1", "fa0", "fa1", "fa2", "fa3", "fa4", "fa5",
    "fa6", "fa7", "fs2", "fs3", "fs4", "fs5", "fs6", "fs7", "fs8", "fs9", "fs10", "fs11", "ft8", "ft9", "ft10", "ft11"};

std::optional<std::uint8_t> findName(const std::array<std::string_view, 32>& names, std::string_view text) noexcept {
  for (std::size_t number = 0; number < names.size(); ++number)
    if (qovrin::equalsIgnoreCase(names[number], text)) return static_cast<std::uint8_t>(number);
  return std::nullopt;
}

}  // namespace

qovrin::Result<std::uint8_t> parseRegister(std::string_view text) noexcept {
  using qovrin::Error;
  text = qovrin::trim(text, " \t\r\n");
  if (text.empty()) return qovrin::fail(Error::RegisterOutOfRange);
  if (const auto number = findName(kIntegerNames, text)) return *number;
  if (qovrin::equalsIgnoreCase(text, "fp")) return std::uint8_t{8};
  if (const auto number = findName(kFloatNames, text)) return *number;
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

}  // namespace riscv_encoder::api
