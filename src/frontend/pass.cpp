#include "frontend/pass.hpp"

#include "frontend/layout.hpp"

namespace frontend::pass {

using qovrin::Error;
using qovrin::fail;

namespace {

// Checks the target's width and hands the line to its ISA's encoder. An ISA
// is reached only through an encoder the back-end adapter drives; a target
// whose encoder is not part of this build gets the fixed message for
// UnsupportedInstructionTarget, so the line is never emitted as wrong bytes.
qovrin::Status encodeByTarget(const fragment::Instruction& line) {
  switch (line.target.isa) {
    case target::Isa::x86:
      if (line.target.parameter != 16 && line.target.parameter != 32 && line.target.parameter != 64)
        return fail(Error::InvalidModeBits);
      break;
    case target::Isa::riscv:
      if (line.target.parameter != 32 && line.target.parameter != 64) return fail(Error::InvalidModeBits);
      break;
    case target::Isa::spirv:
      break;
  }
  return fail(Error::UnsupportedInstructionTarget);
}

}  // namespace

std::optional<std::string_view> encodeFailureMessage(Error error) noexcept {
  switch (error) {
    case Error::AmbiguousMemorySize:
      return "x86 memory operand size is ambiguous; add byte, word, dword, or qword";
    case Error::BackendFixupCountMismatch:
      return "backend fixup count did not match frontend symbolic operands";
    case Error::BackendFixupOffsetOverflow:
      return "backend fixup offset or addend overflowed the frontend range";
    case Error::BackendOutputMaterializationFailed:
      return "backend could not materialize instruction output";
    case Error::CmpR64ImmediateOutOfRange:
      return "x86-64 cmp r64 accepts only imm8 or sign-extended imm32 immediates; load wider constants into a "
             "register first";
    case Error::HighRegisterNotAllowed:
      return "x86 high 8-bit registers cannot be encoded with a REX prefix or extended register";
    case Error::ImpossibleAddressSize:
      return "x86 addressing registers do not match the active address size";
    case Error::InvalidBackendFixupWidth:
      return "backend produced an invalid fixup width";
    case Error::InvalidMemoryScale:
      return "x86 memory scale must be 1, 2, 4, or 8";
    case Error::InvalidRspIndexRegister:
      return "x86 SIB addressing cannot use rsp/esp/sp as an index register";
    case Error::SymbolicSubByteImmediate:
      return "symbolic sub-byte immediate is unsupported; use a compile-time constant";
    case Error::UnsupportedBackendFixupKind:
      return "backend produced a fixup kind this frontend cannot resolve";
    case Error::UnsupportedInstructionTarget:
      return "instruction text emission is not supported for this target ISA";
    case Error::UnsupportedRiscvInstruction:
      return "unsupported RISC-V instruction form";
    case Error::UnsupportedX86Instruction:
      return "unsupported x86 instruction form";
    case Error::UnsupportedOperandSyntax:
      return "unsupported x86 operand syntax";
    case Error::UnsupportedPrefixes:
      return "unsupported x86 prefix combination for this instruction";
    default:
      return std::nullopt;
  }
}

qovrin::Result<EncodePassCounts> encodeInstructionFragments(module::Module& module) {
  EncodePassCounts counts;
  for (const fragment::Fragment& piece : module.fragments()) {
    const fragment::Instruction* line = piece.instruction();
    if (line == nullptr) continue;
    if (const auto encoded = encodeByTarget(*line); !encoded) {
      const auto message = encodeFailureMessage(encoded.error());
      if (!message) return fail(encoded.error());
      module.diagnostics().add(diagnostic::Severity::error, piece.location, *message);
      return fail(Error::FrontendDiagnostics);
    }
    ++counts.instruction_fragments;
  }
  QOVRIN_TRY(syncAnchoredLabelOffsets(module));
  return counts;
}

qovrin::Status syncAnchoredLabelOffsets(module::Module& module) {
  const auto layout = layout::layoutModule(module);
  if (!layout) return fail(layout.error());
  const layout::LayoutIndex index(*layout, module.fragments().size());
  for (symbol::Symbol& symbol : module.symbols()) {
    symbol::Label* label = symbol.label();
    if (label == nullptr || !label->anchored) continue;
    if (!module.sections().contains(label->section)) return fail(Error::InvalidSection);
    const section::Section& section = module.sections()[label->section];
    if (label->fragment_position > section.fragments.size()) return fail(Error::InvalidFragment);
    const layout::SectionLayout* row = index.section(label->section);
    if (row == nullptr) return fail(Error::InvalidSection);
    if (label->fragment_position == section.fragments.size()) {
      label->offset = row->memory_size;
      continue;
    }
    const layout::FragmentLayout* anchor = index.fragment(*row, section.fragments[label->fragment_position]);
    if (anchor == nullptr) return fail(Error::InvalidFragment);
    label->offset = anchor->offset;
  }
  return {};
}

}  // namespace frontend::pass
