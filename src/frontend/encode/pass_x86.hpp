#pragma once
// The x86 road of the encode pass: one line split, encoded by the x86 encoder
// with the back-end adapter's resolver, and its units turned into bytes and
// fixup facts.

#include <optional>
#include <string>
#include <utility>

#include "common/error.hpp"
#include "frontend/encode/backend_adapter.hpp"
#include "frontend/module/fragment.hpp"
#include "x86_encoder/encode_result.hpp"
#include "x86_encoder/evex_checks.hpp"
#include "x86_encoder/match_memo.hpp"

namespace frontend::pass {

// Fails with the errors the pass reports (the encoder's kept errors,
// UnsupportedX86Instruction for the others, the unit conversion's errors),
// InvalidInstructionText or InstructionTooLarge.
// The memo, when given, remembers template searches across the pass's lines.
qovrin::Result<backend_adapter::InstructionFacts> encodeX86(const fragment::Instruction& line,
                                                            x86_encoder::match::MatchMemo* memo = nullptr);

// An operand text whose constant folding failed, with the error it gave.
using FoldFailure = std::pair<std::string, qovrin::Error>;

// The operand of a refused line whose folding failed, when one did: the
// line was refused for what its value is, not for its form.
std::optional<FoldFailure> operandFoldFailure(const fragment::Instruction& line);

// The template the encoder chose for a line it encoded.
std::optional<std::uint64_t> encodedTemplate(const fragment::Instruction& line);

// Why the encoder refused a line whose form it had matched, when it did.
std::optional<x86_encoder::evex_checks::Refusal> encoderRefusal(const fragment::Instruction& line);

// The first warning the encoder gave for a line it encoded, when it gave one:
// the cause of a line whose units could not be turned into bytes.
std::optional<std::string> encoderWarning(const fragment::Instruction& line);

// The encoder's units as bytes, and the facts the resolver recorded matched
// with the fields the encoder emitted for them, in order. A relative field
// with no fact left is a literal target: it gets a fact of its own, so that
// it is patched against the instruction's real address. A fact that no field
// claims fails with BackendFixupCountMismatch. A literal target below zero
// as a two's-complement word is written "0 - n" in its fact, as a line that
// writes a minus means it, unless words_unsigned: then as its unsigned word.
qovrin::Result<backend_adapter::InstructionFacts> convertUnits(const x86_encoder::encode::OwnedEncodeResult& result,
                                                               std::vector<backend_adapter::FixupFact>&& facts,
                                                               bool words_unsigned = false);

}  // namespace frontend::pass
