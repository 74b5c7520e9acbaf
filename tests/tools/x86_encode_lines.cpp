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

#include <array>
#include <cstdio>
#include <iostream>
#include <memory>
#include <string>
#include <string_view>

#include "frontend/encode/x86_line.hpp"
#include "x86_encoder/api.hpp"
#include "x86_encoder/encode.hpp"
#include "x86_encoder/match_memo.hpp"

int main(int argc, char** argv) {
  using namespace x86_encoder;
  const bool templates = argc > 1 && std::string_view(argv[1]) == "--templates";
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
      for (const std::uint8_t byte : bytes) {
        char digits[3];
        std::snprintf(digits, sizeof digits, "%02X", byte);
        hex += digits;
      }
    }
    std::cout << (placeholder ? std::string("fixup") : hex);
    if (templates) std::cout << ' ' << result.template_index;
    std::cout << '\n';
  }
  return 0;
}
