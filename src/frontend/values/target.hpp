#pragma once
// The instruction set an instruction line is assembled for. Copied by value:
// every instruction fragment keeps the target that was in force when its line
// was lowered, so one module can mix x86 modes, RISC-V widths and SPIR-V.

#include <cstdint>
#include <optional>

#include "common/quoted_text.hpp"

namespace frontend::target {

enum class Isa : std::uint8_t { x86 = 0, riscv = 1, spirv = 2 };

// SPIR-V 1.6 as the module header writes it.
inline constexpr std::uint32_t kSpirvVersionWord = 0x00010600;

struct Target {
  Isa isa = Isa::x86;
  // x86: mode bits (16, 32, 64); RISC-V: XLEN (32, 64); SPIR-V: version word.
  std::uint32_t parameter = 64;

  static constexpr Target x86(std::uint16_t mode_bits) noexcept { return {Isa::x86, mode_bits}; }
  static constexpr Target riscv(std::uint8_t xlen) noexcept { return {Isa::riscv, xlen}; }
  static constexpr Target spirv() noexcept { return {Isa::spirv, kSpirvVersionWord}; }

  // Register width: x86 mode bits or RISC-V XLEN; SPIR-V has none.
  constexpr std::optional<std::uint16_t> bits() const noexcept {
    if (isa == Isa::spirv) return std::nullopt;
    return static_cast<std::uint16_t>(parameter);
  }

  // How the target's lines read quoted text.
  constexpr qovrin::quoted_text::Rules strings() const noexcept {
    return isa == Isa::spirv ? qovrin::quoted_text::kSpirv : qovrin::quoted_text::kSource;
  }

  friend constexpr bool operator==(const Target&, const Target&) = default;
};

}  // namespace frontend::target
