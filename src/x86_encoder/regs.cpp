#include "x86_encoder/regs.hpp"

#include <limits>

#include "x86_encoder/instruction.hpp"
#include "x86_encoder/operand_flags.hpp"

namespace x86_encoder::regs {

using qovrin::Error;
using qovrin::fail;

qovrin::Result<const tables::RegisterRow*> registerRow(std::int32_t id) noexcept {
  if (id < 1 || static_cast<std::size_t>(id) > tables::kRegisterCount) return fail(Error::InvalidRegisterOperand);
  const tables::RegisterRow* row = tables::registerById(id);
  if (row == nullptr) return fail(Error::MissingRegisterMetadata);
  return row;
}

qovrin::Result<std::int32_t> regval(const api::X86Operand& operand) noexcept {
  if (operand.kind == api::OperandKind::immediate) {
    if (operand.value < std::numeric_limits<std::int32_t>::min() ||
        operand.value > std::numeric_limits<std::int32_t>::max())
      return fail(Error::InvalidImmediateValue);
    return static_cast<std::int32_t>(operand.value);
  }
  const auto row = registerRow(operand.base);
  if (!row) return fail(row.error());
  return static_cast<std::int32_t>((*row)->number);
}

}  // namespace x86_encoder::regs

namespace x86_encoder::ea {

using namespace api;

std::uint32_t rexflags(std::int32_t value, std::uint64_t class_flags, std::uint32_t mask) noexcept {
  if (value < 0 || (class_flags & kClassRegister) == 0) return 0;
  std::uint32_t flags = 0;
  if (value & 8) flags |= kRexB | kRexX | kRexR;
  if (value & 16) flags |= kRexFifthBits;
  constexpr std::uint64_t kVectorClasses = 0x27000;
  constexpr std::uint64_t kByteRegister = 0x100000104;
  constexpr std::uint64_t kHighByteRegister = 0x50200000;
  if (class_flags & kVectorClasses) {
    flags |= kRexVectorFifth;
  } else if ((class_flags & kByteRegister) == kByteRegister && value > 3) {
    flags |= (class_flags & kHighByteRegister) == kHighByteRegister ? kRexHighByte : kRexRequired;
  }
  return flags & mask;
}

std::uint32_t opRexflags(const X86Operand& operand, std::uint32_t mask) noexcept {
  if (operand.kind != OperandKind::reg) return 0;
  const tables::RegisterRow* row = tables::registerById(operand.base);
  if (row == nullptr) return 0;
  return rexflags(static_cast<std::int32_t>(row->number), row->flags, mask);
}

}  // namespace x86_encoder::ea
