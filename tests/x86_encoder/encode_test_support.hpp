#pragma once
// Encoding whole instruction lines in tests: the line is split into its
// mnemonic and top-level comma-separated operands, as the encode pass does,
// and the bytes come back as spaced upper-case hex.

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "common/error.hpp"
#include "x86_encoder/api.hpp"

namespace x86_encoder::testing {

struct SplitLine {
  std::string mnemonic;
  std::vector<std::string> operands;
};

inline SplitLine splitInstructionLine(std::string_view line) {
  SplitLine split;
  const std::size_t space = line.find_first_of(" \t");
  split.mnemonic = std::string(line.substr(0, space));
  if (space == std::string_view::npos) return split;
  std::string current;
  int depth = 0;
  for (const char c : line.substr(space + 1)) {
    if (c == '[' || c == '{' || c == '(') ++depth;
    if (c == ']' || c == '}' || c == ')') --depth;
    if (c == ',' && depth == 0) {
      split.operands.push_back(current);
      current.clear();
    } else {
      current += c;
    }
  }
  split.operands.push_back(current);
  return split;
}

inline std::string hexBytes(const encode::OwnedEncodeResult& result) {
  std::string text;
  for (const auto& unit : result.units())
    for (const std::uint8_t byte : unit.bytes()) {
      char digits[4];
      std::snprintf(digits, sizeof digits, "%02X", byte);
      if (!text.empty()) text += ' ';
      text += digits;
    }
  return text;
}

// Leading "lock" and repeat words go into the options, as the encode pass
// strips them before the mnemonic.
inline std::string_view takePrefixWords(std::string_view line, api::X86EncodeOptions& options) {
  struct Word {
    std::string_view text;
    std::uint8_t rep;
  };
  constexpr Word kWords[] = {{"lock", 0},  {"rep", 1},      {"repe", 2},     {"repz", 2}, {"repne", 3},
                             {"repnz", 3}, {"xacquire", 4}, {"xrelease", 5}, {"bnd", 6},  {"nobnd", 7}};
  for (bool more = true; more;) {
    more = false;
    for (const Word& word : kWords) {
      if (line.size() > word.text.size() && line.starts_with(word.text) && line[word.text.size()] == ' ') {
        if (word.text == "lock")
          options.lock = 1;
        else
          options.rep = word.rep;
        line.remove_prefix(word.text.size() + 1);
        more = true;
      }
    }
  }
  return line;
}

inline qovrin::Status encodeLine(encode::OwnedEncodeResult& result, std::string_view line,
                                 api::X86EncodeOptions options, const api::X86ExpressionResolver& resolver = {}) {
  const SplitLine split = splitInstructionLine(takePrefixWords(line, options));
  std::vector<std::string_view> views(split.operands.begin(), split.operands.end());
  return api::encodeBuiltinUnitsWithResolver(result, split.mnemonic, views, options, resolver);
}

inline api::X86EncodeOptions modeOptions(std::uint8_t bits) {
  api::X86EncodeOptions options;
  options.bits = bits;
  return options;
}

// Hex of the line's bytes, or "error: <name>".
inline std::string encodeToHex(std::string_view line, std::uint8_t bits,
                               const api::X86ExpressionResolver& resolver = {}) {
  encode::OwnedEncodeResult result;
  const auto status = encodeLine(result, line, modeOptions(bits), resolver);
  if (!status) return "error: " + std::string(qovrin::errorName(status.error()));
  return hexBytes(result);
}

}  // namespace x86_encoder::testing
