#pragma once
// The data builtins: file queries, TOML and JSON readers.

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

#include "common/name_table.hpp"

namespace frontend::meta_data {

enum class MetaDataBuiltin : std::uint8_t {
  fs_exists,
  fs_read_text,
  fs_read_bytes,
  fs_list_dir,
  fs_is_dir,
  toml_parse,
  toml_file,
  json_parse,
  json_file,
};

// Source names, indexed by MetaDataBuiltin.
inline constexpr std::array<std::string_view, 9> kBuiltinNames = {
    "fs.exists",  "fs.read_text", "fs.read_bytes", "fs.list_dir", "fs.is_dir",
    "toml.parse", "toml.file",    "json.parse",    "json.file",
};

constexpr std::optional<MetaDataBuiltin> lookupBuiltin(std::string_view name) noexcept {
  const auto index = qovrin::indexOfName(kBuiltinNames, name);
  return index ? std::optional<MetaDataBuiltin>(static_cast<MetaDataBuiltin>(*index)) : std::nullopt;
}

}  // namespace frontend::meta_data
