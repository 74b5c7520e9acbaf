// Encodes instruction lines for the nasm comparison: each input line is
// "<bits>\t<instruction>", each output line the bytes as hex, "fixup" when a
// field was left for the patcher, or "error: <name>".

#include <cstdio>
#include <iostream>
#include <string>

#include "x86_encoder/encode_test_support.hpp"

int main() {
  using namespace x86_encoder;
  std::string line;
  encode::OwnedEncodeResult result;
  while (std::getline(std::cin, line)) {
    const std::size_t tab = line.find('\t');
    if (tab == std::string::npos) {
      std::cout << "error: bad input\n";
      continue;
    }
    const auto bits = static_cast<std::uint8_t>(std::stoi(line.substr(0, tab)));
    const auto status = testing::encodeLine(result, std::string_view(line).substr(tab + 1), testing::modeOptions(bits));
    if (!status) {
      std::cout << "error: " << qovrin::errorName(status.error()) << '\n';
      continue;
    }
    bool placeholder = false;
    std::string hex;
    for (const auto& unit : result.units()) {
      placeholder = placeholder || unit.has_fixup || unit.reserve_size != 0;
      for (const std::uint8_t byte : unit.bytes()) {
        char digits[3];
        std::snprintf(digits, sizeof digits, "%02X", byte);
        hex += digits;
      }
    }
    std::cout << (placeholder ? std::string("fixup") : hex) << '\n';
  }
  return 0;
}
