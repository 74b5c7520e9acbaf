#pragma once

#include <string>
#include <string_view>

namespace x86_encoder::test {

// Table names are lower case; lookups must find them in upper case too.
inline std::string upperAscii(std::string_view text) {
  std::string result(text);
  for (char& c : result)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return result;
}

}  // namespace x86_encoder::test
