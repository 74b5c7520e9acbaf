#include "riscv_encoder/encode_semantic.hpp"

#include <algorithm>
#include <array>

#include "riscv_encoder/encode_semantic_reader.hpp"

namespace riscv_encoder::encode {

using qovrin::Error;
using qovrin::fail;
using qovrin::Status;
using namespace semantic;

namespace {

// Operands by kind; kinds without rows take none.
constexpr std::array<std::uint8_t, 101> kOperandCounts = [] {
  std::array<std::uint8_t, 101> counts{};
  const auto set = [&counts](std::uint8_t count, std::initializer_list<int> kinds) {
    for (const int kind : kinds) counts[kind] = count;
  };
  set(1, {2, 3, 4, 34, 36, 68, 69, 70, 74, 80, 82, 87});
  set(2, {5, 6, 13, 14, 15, 16, 23, 27, 29, 31, 33, 35, 37, 44, 46, 52, 55, 56, 57, 64, 71, 72, 73, 75, 78, 79, 81,
          83, 84, 85, 86, 94, 96, 97});
  set(3, {7, 8, 9, 10, 11, 12, 17, 21, 22, 24, 25, 26, 28, 30, 32, 43, 45, 49, 50, 51, 53, 54, 65, 76, 77, 88, 89,
          90, 91, 92, 93, 95, 98, 100});
  set(4, {18, 20, 39, 41, 42, 47, 48, 58, 59, 66, 99});
  set(5, {19, 38, 40, 60, 61, 62, 63});
  return counts;
}();

}  // namespace

namespace {

Status readKind(Reader& reader, std::uint8_t kind) {
  if (kind <= 40) return scalarKind(reader, kind);
  if (kind <= 66) return vectorKind(reader, kind);
  if (kind <= 87) return compressedKind(reader, kind);
  return pairedKind(reader, kind);
}

// Reads stand-in operands of the right count to learn which field each
// position fills; a kind that stops early on a stand-in leaves the names out.
void nameOperands(const RiscvInstructionRow& row, RiscvFailure& failure) noexcept {
  std::array<RiscvOperand, kMaxOperands> stand_ins{};
  Reader reader(row, std::span(stand_ins).first(failure.operands), &failure, true);
  if (!readKind(reader, row.kind) ||
      std::any_of(failure.names.begin(), failure.names.begin() + failure.operands,
                  [](std::string_view name) { return name.empty(); }))
    failure.names = {};
}

}  // namespace

qovrin::Result<RiscvFieldValues> semanticFieldValues(const RiscvInstructionRow& row,
                                                     std::span<const RiscvOperand> operands,
                                                     RiscvFailure* failure) noexcept {
  const std::uint8_t kind = row.kind;
  if (kind == 0 || kind > 100) return fail(Error::UnsupportedInstruction);
  if (operands.size() != kOperandCounts[kind]) {
    if (failure != nullptr) {
      failure->part = RiscvFailure::Part::operand_count;
      failure->operands = kOperandCounts[kind];
      nameOperands(row, *failure);
    }
    return fail(Error::OperandCountMismatch);
  }
  Reader reader(row, operands, failure);
  const Status status = readKind(reader, kind);
  if (!status) {
    // The field a wrong kind of operand stands in is named as for a count.
    if (failure != nullptr && failure->part == RiscvFailure::Part::operand_kind) {
      failure->operands = kOperandCounts[kind];
      nameOperands(row, *failure);
    }
    return fail(status.error());
  }
  return reader.values;
}

}  // namespace riscv_encoder::encode
