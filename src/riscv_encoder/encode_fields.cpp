#include "riscv_encoder/encode_fields.hpp"

namespace riscv_encoder::encode {

using qovrin::Error;
using qovrin::fail;

qovrin::Result<std::uint32_t> fieldValue(const RiscvFieldValues& values, std::string_view name) noexcept {
  const std::uint8_t slot = slotOf(name);
  if (slot == kNoSlot) return fail(Error::UnsupportedInstruction);
  return values.slots[slot];
}

qovrin::Result<std::uint32_t> packInstruction(const RiscvInstructionRow& row,
                                              const RiscvFieldValues& values) noexcept {
  std::uint32_t word = row.match;
  for (const RiscvFieldSpec& field : row.fields) {
    if (field.slot == kNoSlot) return fail(Error::UnsupportedInstruction);
    const std::uint64_t value = values.slots[field.slot];
    if (value >> field.width) return fail(Error::ImmediateOutOfRange);
    word |= static_cast<std::uint32_t>(value << field.low_bit);
  }
  return word;
}

bool hasField(Fields fields, std::string_view name) noexcept {
  for (const RiscvFieldSpec& field : fields)
    if (field.name == name) return true;
  return false;
}

qovrin::Result<std::uint8_t> fieldBits(Fields fields, std::string_view name) noexcept {
  for (const RiscvFieldSpec& field : fields)
    if (field.name == name) return field.width;
  return fail(Error::UnsupportedInstruction);
}

qovrin::Result<std::uint8_t> shamtBits(Fields fields) noexcept {
  if (auto bits = fieldBits(fields, "shamtw")) return bits;
  return fieldBits(fields, "shamtd");
}

qovrin::Result<std::uint8_t> pUimmBits(Fields fields) noexcept {
  for (const RiscvFieldSpec& field : fields)
    if (pUimmField(field.name)) return field.width;
  return fail(Error::UnsupportedInstruction);
}

qovrin::Result<std::uint8_t> cUimmBits(Fields fields) noexcept {
  for (const RiscvFieldSpec& field : fields) {
    if (field.name == "c_nzuimm5") return std::uint8_t{5};
    if (field.name == "c_nzuimm6hi") return std::uint8_t{6};
    // Without its high half the field holds only shift amounts below 32.
    if (field.name == "c_nzuimm6lo") return static_cast<std::uint8_t>(hasField(fields, "c_nzuimm6hi") ? 6 : 5);
  }
  return fail(Error::UnsupportedInstruction);
}

}  // namespace riscv_encoder::encode
