// Encodes instruction lines for the nasm comparison: each input line is
// "<bits>\t<address>\t<instruction>", each output line the bytes as hex,
// "fixup" when a field other than a branch target was left for the patcher,
// or "error: <name>". Branch targets are patched here as the assembler's
// patcher would, measured from the line's address. One match memo serves all
// lines, as in a lowering run, so that every template also comes out of a
// remembered search. Lines are split, prefix words included, by the encode
// pass's own reading of an instruction line, so that the comparison covers
// what a source line gets. With --templates, the bytes are followed by a
// blank and the row of the template that made them.
//
// With --patched, each line takes the encode pass's own road instead: it is
// encoded as a source line is, and every branch target is patched by the
// patch phase's rule against the line's address, so the bytes are those the
// assembler writes there; a target the patch phase refuses gives
// "error: <name>" as well. A fourth field gives the address of the label
// 'L', which such a line may name as its branch target.

#include <array>
#include <cstdio>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "assembly/patch.hpp"
#include "common/little_endian.hpp"
#include "frontend/encode/pass_x86.hpp"
#include "frontend/encode/x86_line.hpp"
#include "x86_encoder/api.hpp"
#include "x86_encoder/encode.hpp"
#include "x86_encoder/match_memo.hpp"

namespace {

std::string hexOf(std::span<const std::uint8_t> bytes) {
  std::string hex;
  for (const std::uint8_t byte : bytes) {
    char digits[3];
    std::snprintf(digits, sizeof digits, "%02X", byte);
    hex += digits;
  }
  return hex;
}

// One line as the assembler writes it at address: its bytes, or the error of
// the encoder or of the patch phase.
std::string patchedLine(std::uint8_t bits, std::uint64_t address, std::string_view text,
                        std::optional<std::uint64_t> label, x86_encoder::match::MatchMemo& memo) {
  frontend::fragment::Instruction line;
  line.setText(text);
  line.target = frontend::target::Target::x86(bits);
  auto record = frontend::pass::encodeX86(line, &memo);
  if (!record) return std::string("error: ") + std::string(qovrin::errorName(record.error()));
  std::vector<std::uint8_t> bytes(record->bytes.data(), record->bytes.data() + record->bytes.size());
  for (const frontend::backend_adapter::FixupFact& fact : record->facts) {
    // Only literal branch targets and the label are written in these lines.
    const bool names_label = label && fact.text == "L";
    if (!fact.pc_relative || fact.text.empty() ||
        (!names_label && fact.text.find_first_not_of("0123456789") != std::string::npos))
      return "fixup";
    // The resolver reads an operand's text as a two's-complement word, and
    // a label's address as it stands.
    const auto target = names_label ? static_cast<assembly::WideValue>(*label) + fact.addend
                                    : static_cast<assembly::WideValue>(static_cast<std::int64_t>(
                                          std::stoull(fact.text) + static_cast<std::uint64_t>(fact.addend)));
    const std::size_t end = fact.offset + fact.width / 8u;
    const auto place = static_cast<assembly::WideValue>(address) + static_cast<assembly::WideValue>(end);
    const auto distance =
        assembly::relativePatchValue(target, place, fact.width, frontend::fixup::pointerBits(fact.pointer_width),
                                     frontend::fixup::addressSpaceBits(fact.pointer_width));
    if (!distance) return std::string("error: ") + std::string(qovrin::errorName(distance.error()));
    qovrin::writeLittleEndian(std::span(bytes).subspan(fact.offset, fact.width / 8u),
                              static_cast<std::uint64_t>(*distance));
  }
  return hexOf(bytes);
}

}  // namespace

int main(int argc, char** argv) {
  using namespace x86_encoder;
  const bool templates = argc > 1 && std::string_view(argv[1]) == "--templates";
  const bool patched = argc > 1 && std::string_view(argv[1]) == "--patched";
  std::string line;
  encode::OwnedEncodeResult result;
  frontend::x86_line::ParsedInstruction parsed;
  const auto memo = std::make_unique<match::MatchMemo>();
  while (std::getline(std::cin, line)) {
    const std::size_t tab = line.find('\t');
    const std::size_t second = tab == std::string::npos ? tab : line.find('\t', tab + 1);
    if (second == std::string::npos) {
      std::cout << "error: bad input\n";
      continue;
    }
    if (patched) {
      const std::size_t third = line.find('\t', second + 1);
      std::optional<std::uint64_t> label;
      if (third != std::string::npos) label = std::stoull(line.substr(third + 1), nullptr, 16);
      std::cout << patchedLine(static_cast<std::uint8_t>(std::stoi(line.substr(0, tab))),
                               std::stoull(line.substr(tab + 1, second - tab - 1), nullptr, 16),
                               std::string_view(line).substr(second + 1, third - second - 1), label, *memo)
                << '\n';
      continue;
    }
    if (const auto split = frontend::x86_line::parseX86Line(std::string_view(line).substr(second + 1), parsed);
        !split) {
      std::cout << "error: " << qovrin::errorName(split.error()) << '\n';
      continue;
    }
    api::X86EncodeOptions options;
    options.bits = static_cast<std::uint8_t>(std::stoi(line.substr(0, tab)));
    options.offset = std::stoll(line.substr(tab + 1, second - tab - 1), nullptr, 16);
    options.match_memo = memo.get();
    options.lock = parsed.lock ? 1 : 0;
    options.rep = parsed.repeat;
    const auto status = api::encodeBuiltinUnitsWithResolver(result, parsed.mnemonic, parsed.operands(), options, {});
    if (!status) {
      std::cout << "error: " << qovrin::errorName(status.error()) << '\n';
      continue;
    }
    bool placeholder = false;
    std::string hex;
    for (const auto& unit : result.units()) {
      const bool target = unit.kind == encode::UnitKind::rel && unit.symbol == encode::kNoId;
      placeholder = placeholder || (unit.has_fixup && !target) || unit.reserve_size != 0;
      std::array<std::uint8_t, 8> patched{};
      std::span<const std::uint8_t> bytes = unit.bytes();
      if (target) {
        encode::emitValueBytes(patched, unit.value - unit.base, unit.width);
        bytes = std::span(patched).first(unit.width);
      }
      hex += hexOf(bytes);
    }
    std::cout << (placeholder ? std::string("fixup") : hex);
    if (templates) std::cout << ' ' << result.template_index;
    std::cout << '\n';
  }
  return 0;
}
