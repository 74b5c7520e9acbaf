#pragma once
// The project file qovrin.toml as the build command reads it.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "common/error.hpp"
#include "data/toml_parser.hpp"

namespace data::config {

struct ProjectDefine {
  std::string name;
  std::variant<std::uint64_t, bool, std::string> value;
};

struct ProjectConfig {
  std::optional<std::string> source;
  std::optional<std::string> output;
  std::optional<std::string> target;
  std::optional<std::string> isa;
  std::optional<std::string> os;
  std::optional<std::string> abi;
  std::optional<std::uint16_t> bits;
  std::vector<ProjectDefine> defines;  // document order
  std::vector<std::string> includeFiles;
};

// A copy of the string under `key` of a table node; nothing when `node` is no
// table or has no such key; InvalidBuildConfig when the value is no string.
qovrin::Result<std::optional<std::string>> optionalString(const toml_parser::Node& node, std::string_view key);

// A place in the project file and what is wrong there.
struct ConfigNote {
  toml_parser::TextPosition at;
  std::string message;
};

// Maps the parsed document: InvalidBuildConfig, InvalidTargetConfig or
// InvalidDefineValue for values of the wrong shape, in the order
// build, target, defines, include. On failure `why`, when given, receives
// the key and the shape it needed.
qovrin::Result<ProjectConfig> projectConfigFromToml(const toml_parser::Node& root, ConfigNote* why = nullptr);

// The tables and keys that the build does not read, in document order: most
// often a misspelt one that silently leaves its setting at the default.
std::vector<ConfigNote> unknownKeys(const toml_parser::Node& root);

// Where the value under [table] key was written; none when absent.
std::optional<toml_parser::TextPosition> valuePosition(const toml_parser::Node& root, std::string_view table,
                                                       std::string_view key);

}  // namespace data::config
