#include "frontend/encode/x86_register_sizes.hpp"

#include "x86_encoder/operand_flags.hpp"

namespace frontend::pass {

using x86_encoder::tables::RegisterRow;

std::uint64_t generalPurposeSize(const RegisterRow& row) noexcept {
  if ((row.flags & x86_encoder::api::kGeneralPurposeClass) == 0) return 0;
  return row.flags & (x86_encoder::api::kSizeByte | x86_encoder::api::kSizeWord | x86_encoder::api::kSizeDword |
                      x86_encoder::api::kSizeQword);
}

const RegisterRow* resized(const RegisterRow& row, std::uint64_t size) {
  for (const RegisterRow& other : x86_encoder::tables::registers())
    if (generalPurposeSize(other) == size && other.number == row.number && !other.name.ends_with('h')) return &other;
  return nullptr;
}

}  // namespace frontend::pass
