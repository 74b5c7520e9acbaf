#include "frontend/encode/pass.hpp"

#include <algorithm>
#include <array>
#include <charconv>
#include <limits>
#include <memory>
#include <string>

#include "common/display_text.hpp"
#include "common/little_endian.hpp"
#include "frontend/encode/backend_adapter.hpp"
#include "frontend/encode/refused_form_notes.hpp"
#include "frontend/encode/layout.hpp"
#include "frontend/encode/pass_spirv.hpp"
#include "frontend/encode/pass_x86.hpp"
#include "frontend/encode/riscv_comment.hpp"
#include "frontend/encode/open_quote_notes.hpp"
#include "frontend/encode/source_only_notes.hpp"
#include "frontend/encode/spirv_failure_notes.hpp"
#include "riscv_encoder/source.hpp"
#include "spirv_encoder/module.hpp"

namespace frontend::pass {

using qovrin::Error;
using qovrin::fail;

namespace {

using backend_adapter::FixupFact;
using backend_adapter::InstructionFacts;

// A RISC-V line's encoding with every operand the encoder could not read as
// a fact. The fixup covers the whole instruction, which the patch phase
// encodes again with the resolved values.
qovrin::Result<InstructionFacts> encodeRiscv(const fragment::Instruction& line) {
  InstructionFacts record;
  backend_adapter::RiscvFactContext context{&record.facts};
  const riscv_encoder::RiscvExpressionHook hook{&context, &backend_adapter::recordUnresolvedRiscvExpression, true};
  const auto encoded = riscv_encoder::source::encodeInstructionText(line.text(), line.target.parameter, hook);
  if (!encoded)
    return fail(encoded.error() == Error::OutOfMemory ? Error::OutOfMemory : Error::UnsupportedRiscvInstruction);
  record.size = encoded->size;
  record.bytes = fragment::SmallBytes(record.size, 0);
  qovrin::writeLittleEndian(record.bytes.view(), encoded->output_word);
  // Most lines have no facts; only those that do need their mnemonic's row again.
  const bool pc_relative = !record.facts.empty() && backend_adapter::riscvMnemonicIsPcRelative(line.text());
  for (FixupFact& fact : record.facts) {
    fact.width = static_cast<std::uint16_t>(8 * record.size);
    fact.pc_relative = pc_relative;
  }
  record.pending = !record.facts.empty();
  if (encoded->comment != std::string_view::npos) {
    const std::string_view comment = line.text().substr(encoded->comment);
    if (riscv_comment::mayHoldInstructions(comment)) {
      record.comment = comment;
      record.comment_xlen = static_cast<std::uint8_t>(line.target.parameter);
    }
  }
  return record;
}

// Checks the target's width and hands the line to its ISA's encoder. SPIR-V
// lines are never encoded one by one: they form one module together.
qovrin::Result<InstructionFacts> encodeByTarget(const fragment::Instruction& line,
                                                x86_encoder::match::MatchMemo* memo = nullptr) {
  switch (line.target.isa) {
    case target::Isa::x86:
      if (line.target.parameter != 16 && line.target.parameter != 32 && line.target.parameter != 64)
        return fail(Error::InvalidModeBits);
      return encodeX86(line, memo);
    case target::Isa::riscv:
      if (line.target.parameter != 32 && line.target.parameter != 64) return fail(Error::InvalidModeBits);
      return encodeRiscv(line);
    case target::Isa::spirv:
      break;
  }
  return fail(Error::UnsupportedInstructionTarget);
}

// "300 does not fit 8 bits: 0x2c is written"
std::string boundsNote(std::int64_t value, unsigned width, bool shown_unsigned) {
  const unsigned bits = width * 8;
  const auto written = static_cast<std::uint64_t>(value) & (bits >= 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << bits) - 1);
  std::array<char, 20> hex{};
  const auto end = std::to_chars(hex.data(), hex.data() + hex.size(), written, 16).ptr;
  const std::string shown = shown_unsigned ? std::to_string(static_cast<std::uint64_t>(value)) : std::to_string(value);
  return shown + " does not fit " + std::to_string(bits) + " bits: 0x" + std::string(hex.data(), end) + " is written";
}

bool sameFact(const FixupFact& left, const FixupFact& right) noexcept {
  return left.text == right.text && left.addend == right.addend && left.offset == right.offset &&
         left.width == right.width && left.pc_relative == right.pc_relative &&
         left.range_policy == right.range_policy && left.pointer_width == right.pointer_width;
}

bool fixupsFit(const module::Module& module, const InstructionFacts& record) noexcept {
  return std::uint64_t{module.fixups().size()} + record.facts.size() <= std::numeric_limits<std::uint32_t>::max();
}

// The line's warnings at its location and its facts as fixups of the
// fragment, their fields shift bytes in; a fact repeated within the line
// adds none.
qovrin::Status addFacts(module::Module& module, std::uint32_t fragment, std::uint32_t shift,
                        const SourceLocation& location, const InstructionFacts& record) {
  fixup::FixupStore& fixups = module.fixups();
  for (const std::string_view warning : record.warnings) {
    // Warnings are listed once each, so the text names the one the value raised.
    if (record.bounds_width == 0 || warning != record.bounds_warning) {
      module.diagnostics().add(diagnostic::Severity::warning, location, warning);
      continue;
    }
    const diagnostic::Note note{boundsNote(record.bounds_value, record.bounds_width, record.bounds_unsigned), std::nullopt};
    module.diagnostics().addWithNotes(diagnostic::Severity::warning, location, warning, std::span(&note, 1));
  }
  if (!record.comment.empty()) {
    std::vector<diagnostic::Note> notes;
    for (const std::string_view instruction : riscv_comment::commentedInstructions(record.comment, record.comment_xlen))
      notes.push_back({qovrin::quotedSubject(instruction) + " is left out; write it on a line of its own", std::nullopt});
    if (!notes.empty())
      module.diagnostics().addWithNotes(diagnostic::Severity::warning, location,
                                        riscv_comment::commentWarning(record.comment), notes);
  }
  for (std::size_t position = 0; position < record.facts.size(); ++position) {
    const FixupFact& fact = record.facts[position];
    if (std::any_of(record.facts.begin(), record.facts.begin() + static_cast<std::ptrdiff_t>(position),
                    [&](const FixupFact& earlier) { return sameFact(earlier, fact); }))
      continue;
    const fixup::FixupKind kind = fixup::classifyTargetText(fact.text);
    const auto added = fixups.addOwnedTarget(fragment, fixup::FixupTarget{fact.text, kind, fact.addend},
                                             fact.pc_relative, fact.offset + shift, fact.width);
    if (!added) return fail(added.error());
    fixups[*added].range_policy = fact.range_policy;
    fixups[*added].pointer_width = fact.pointer_width;
  }
  return {};
}

// Stores the encoding in the fragment and its facts as fixups; true when the
// fragment's bytes, size or pending flag changed. A fragment is stored once,
// so its fixups are added once.
qovrin::Result<bool> storeRecord(module::Module& module, std::uint32_t index, InstructionFacts&& record) {
  if (!fixupsFit(module, record)) return fail(Error::TooManyFixups);
  fragment::Instruction* line = module.fragments()[index].instruction();
  if (line == nullptr) return fail(Error::InvalidFragment);
  const bool changed = !(line->encoded == record.bytes) || line->pending != record.pending;
  line->encoded = std::move(record.bytes);
  line->pending = record.pending;
  line->settled = true;
  QOVRIN_TRY(addFacts(module, index, 0, module.fragments()[index].location(), record));
  return changed;
}

// Stores an encoded line in its new fragment and lets it open a run.
std::uint64_t settleEncoded(module::Module& module, std::uint32_t index, InstructionFacts&& record) {
  const std::uint64_t size = record.bytes.size();
  if (!storeRecord(module, index, std::move(record))) return module.fragments()[index].storedBytes()->size();
  // Its size cannot change any more: it becomes part of a run, unless it
  // waits for more than fields patched in place.
  module.settleIntoRun(index);
  return size;
}

// The SPIR-V road: every SPIR-V line of the module forms one module, stored
// in the first SPIR-V fragment.
qovrin::Result<EncodePassCounts> encodeSpirvModule(module::Module& module) {
  auto assembled = assembleSpirvFragments(module.fragments());
  if (!assembled) {
    const auto& [failure, location] = assembled.error();
    // The message stands at the module's first line; the notes find the line
    // that actually failed, however far down it is.
    module.diagnostics().add(diagnostic::Severity::error, location, failure.message);
    for (const diagnostic::Note& note : spirvFailureNotes(module, failure))
      module.diagnostics().add(diagnostic::Severity::note, note.location.value_or(location), note.message);
    return fail(Error::FrontendDiagnostics);
  }
  const auto bytes = spirv_encoder::module::moduleBytes(assembled->words);
  if (!bytes) return fail(bytes.error());
  const auto changed = storeSpirvModule(module.fragments(), assembled->spirv_fragments, *bytes);
  if (!changed) return fail(changed.error());
  QOVRIN_TRY(syncAnchoredLabelOffsets(module));
  return EncodePassCounts{assembled->spirv_fragments.size(), *changed};
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
  if (std::ranges::any_of(module.fragments(), isSpirvInstruction)) return encodeSpirvModule(module);
  EncodePassCounts counts;
  // Lines of a source repeat a few operand shapes; the memo spares most of
  // them the template search. It is too large for a small stack.
  const auto memo = std::make_unique<x86_encoder::match::MatchMemo>();
  const auto fragments = module.fragments();
  for (std::uint32_t index = 0; index < fragments.size(); ++index) {
    const fragment::Fragment& piece = fragments[index];
    const fragment::Instruction* line = piece.instruction();
    if (line == nullptr) continue;
    ++counts.instruction_fragments;
    if (line->settled) continue;
    auto record = encodeByTarget(*line, memo.get());
    if (!record) {
      const auto message = encodeFailureMessage(record.error());
      if (!message) return fail(record.error());
      std::vector<diagnostic::Note> notes;
      if (record.error() == Error::UnsupportedRiscvInstruction || record.error() == Error::UnsupportedX86Instruction ||
          record.error() == Error::ImpossibleAddressSize || record.error() == Error::UnsupportedOperandSyntax ||
          record.error() == Error::UnsupportedPrefixes ||
          record.error() == Error::BackendOutputMaterializationFailed) {
        if (auto note = sourceOnlyLineNote(module, line->text(), piece.location()))
          notes.push_back(std::move(*note));
        else if (auto quote = openQuoteNote(line->text(), line->target))
          notes.push_back({std::move(*quote), std::nullopt});
        else if (auto failure = encodeFailureNote(*line))
          notes.push_back({std::move(*failure), std::nullopt});
      }
      module.diagnostics().addWithNotes(diagnostic::Severity::error, piece.location(), *message, notes);
      return fail(Error::FrontendDiagnostics);
    }
    const auto changed = storeRecord(module, index, std::move(*record));
    if (!changed) return fail(changed.error());
    if (*changed) ++counts.changed;
  }
  // Instructions settled into runs count as they did when they had fragments.
  counts.instruction_fragments += module.coalescedInstructions();
  QOVRIN_TRY(syncAnchoredLabelOffsets(module));
  return counts;
}

qovrin::Result<std::uint64_t> appendSettledInstruction(module::Module& module, std::uint32_t section,
                                                       target::Target target, std::string_view text,
                                                       const SourceLocation& location,
                                                       x86_encoder::match::MatchMemo* memo) {
  // SPIR-V lines wait for the pass; longer texts fail as the fragment is
  // appended.
  if (target.isa == target::Isa::spirv || text.size() > std::numeric_limits<std::uint32_t>::max()) {
    const auto index = module.appendIsaInstruction(section, target, text, location);
    if (!index) return fail(index.error());
    return std::uint64_t{0};
  }
  fragment::Instruction line;
  line.setText(text);
  line.target = target;
  auto record = encodeByTarget(line, memo);
  if (record && fixupsFit(module, *record))
    if (const auto joined = module.joinOpenRun(section, target, record->pending, record->bytes, location)) {
      QOVRIN_TRY(addFacts(module, joined->run, joined->offset, location, *record));
      return record->bytes.size();
    }
  // Text nested past the expression limits never encodes: the line fails
  // here, where lowering names the limit at the line.
  if (!record && record.error() == Error::NestingTooDeep) return fail(Error::NestingTooDeep);
  const auto index = module.appendIsaInstruction(section, target, text, location);
  if (!index) return fail(index.error());
  // A line that cannot be encoded now waits for the pass, which reports it.
  if (!record) return 0;
  return settleEncoded(module, *index, std::move(*record));
}

qovrin::Status syncAnchoredLabelOffsets(module::Module& module) {
  const auto layout = layout::layoutModule(module);
  if (!layout) return fail(layout.error());
  const layout::LayoutIndex index(*layout, module.sections(), module.fragments().size());
  symbol::SymbolStore& symbols = module.symbols();
  for (std::size_t position = 0; position < symbols.size(); ++position) {
    symbol::Label* label = symbols[position].label();
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
    label->offset = anchor->offset + label->run_offset;
  }
  return {};
}

}  // namespace frontend::pass
