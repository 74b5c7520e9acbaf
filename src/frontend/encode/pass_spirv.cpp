#include "frontend/encode/pass_spirv.hpp"

namespace frontend::pass {

using qovrin::Error;
using qovrin::fail;

namespace {

// Bytes, space or padding of any other fragment would land inside the module.
bool blocksModule(const fragment::Fragment& piece) noexcept {
  switch (piece.kind()) {
    case fragment::FragmentKind::bytes:
      return !piece.bytes()->data.empty();
    case fragment::FragmentKind::reserve:
      return piece.reserve()->size != 0;
    case fragment::FragmentKind::alignment:
      return true;
    case fragment::FragmentKind::instruction:
      return !isSpirvInstruction(piece);
  }
  return true;
}

std::unexpected<SpirvFailure> checkFailed(Error cause, std::string_view message,
                                          std::span<const fragment::Fragment> fragments, std::size_t at) {
  return std::unexpected(SpirvFailure{{cause, message, at, {}, {}, {}}, fragments[at].location()});
}

}  // namespace

bool isSpirvInstruction(const fragment::Fragment& piece) noexcept {
  const fragment::Instruction* line = piece.instruction();
  return line != nullptr && line->target.isa == target::Isa::spirv;
}

std::expected<SpirvModule, SpirvFailure> assembleSpirvFragments(std::span<const fragment::Fragment> fragments) {
  SpirvModule module;
  const fragment::Fragment* first = nullptr;
  for (std::size_t index = 0; index < fragments.size(); ++index) {
    const fragment::Fragment& piece = fragments[index];
    if (!isSpirvInstruction(piece)) continue;
    if (!first) {
      first = &piece;
    } else if (piece.section != first->section ||
               piece.instruction()->target.parameter != first->instruction()->target.parameter) {
      return checkFailed(Error::InvalidSection, kSpirvDisagreementMessage, fragments, index);
    }
    module.spirv_fragments.push_back(static_cast<std::uint32_t>(index));
  }
  if (!first) return module;
  for (std::size_t index = 0; index < fragments.size(); ++index)
    if (blocksModule(fragments[index]))
      return checkFailed(Error::UnsupportedInstructionTarget, kSpirvMixedOutputMessage, fragments, index);

  std::vector<std::string_view> texts;
  texts.reserve(module.spirv_fragments.size());
  for (const std::uint32_t index : module.spirv_fragments) texts.push_back(fragments[index].instruction()->text());
  auto words = spirv_encoder::module::assembleLines(texts, first->instruction()->target.parameter);
  if (!words) {
    SpirvFailure failure{words.error(), first->location()};
    spirv_encoder::module::ModuleFailure& failed = failure.failure;
    failed.at = module.spirv_fragments[failed.at];
    if (failed.first_definition) failed.first_definition = module.spirv_fragments[*failed.first_definition];
    // An id defined twice or never is the fault of one line, not of the
    // module's syntax as a whole.
    if (failed.id) failure.location = fragments[failed.at].location();
    return std::unexpected(failure);
  }
  module.words = std::move(*words);
  return module;
}

qovrin::Result<std::uint32_t> storeSpirvModule(std::span<fragment::Fragment> fragments,
                                               std::span<const std::uint32_t> spirv_fragments,
                                               std::span<const std::uint8_t> bytes) {
  for (const std::uint32_t index : spirv_fragments)
    if (index >= fragments.size() || !fragments[index].instruction()) return fail(Error::InvalidFragment);
  std::uint32_t changed = 0;
  for (std::size_t position = 0; position < spirv_fragments.size(); ++position) {
    auto& instruction = *fragments[spirv_fragments[position]].instruction();
    const std::span<const std::uint8_t> content = position == 0 ? bytes : std::span<const std::uint8_t>{};
    const bool unchanged = !instruction.pending && instruction.encoded == content;
    if (!unchanged) ++changed;
    instruction.encoded.assign(content);
    instruction.pending = false;
  }
  return changed;
}

}  // namespace frontend::pass
