#include "data/config.hpp"

#include <algorithm>
#include <array>

#include "common/display_text.hpp"

namespace data::config {
namespace {

using toml_parser::Node;
using toml_parser::NodeKind;
using toml_parser::TableEntry;
using toml_parser::TextPosition;
using qovrin::Error;

const TableEntry* findTableEntry(const Node& table, std::string_view key) noexcept {
  const auto* entries = std::get_if<Node::Table>(&table.value);
  if (entries == nullptr) return nullptr;
  for (const auto& entry : *entries)
    if (entry.key == key) return &entry;
  return nullptr;
}

const Node* findEntry(const Node& table, std::string_view key) noexcept {
  const TableEntry* entry = findTableEntry(table, key);
  return entry != nullptr ? &entry->node : nullptr;
}

std::string_view shapeName(NodeKind kind) noexcept {
  static constexpr std::array<std::string_view, 7> kShapes = {"a string",       "an integer", "a float", "a boolean",
                                                               "a date or time", "an array",   "a table"};
  return kShapes[static_cast<std::size_t>(kind)];
}

TextPosition positionOf(const Node& node) noexcept { return {node.line, node.column}; }

// Records why a value was refused, and fails with `error`.
std::unexpected<Error> refuse(ConfigNote* why, const Node& node, std::string message, Error error) {
  if (why != nullptr) {
    message += ", not ";
    message += shapeName(node.kind());
    *why = {positionOf(node), std::move(message)};
  }
  return qovrin::fail(error);
}

std::string inTable(std::string_view key, std::string_view table) {
  return qovrin::quotedSubject(key) + " in [" + std::string(table) + "]";
}

// The table under `key`: nothing when absent, `failure` when it is no table.
qovrin::Result<const Node*> optionalTable(const Node& root, std::string_view key, Error failure, ConfigNote* why) {
  const Node* node = findEntry(root, key);
  if (node != nullptr && node->kind() != NodeKind::table)
    return refuse(why, *node, "'" + std::string(key) + "' must be a table", failure);
  return node;
}

// optionalString with the key named when the value is no string.
qovrin::Result<std::optional<std::string>> stringIn(const Node& table, std::string_view table_name,
                                                    std::string_view key, ConfigNote* why) {
  auto value = optionalString(table, key);
  if (!value) return refuse(why, *findEntry(table, key), inTable(key, table_name) + " must be a string", value.error());
  return value;
}

// A path is handed to the system up to its first NUL byte: one inside it
// would name another file than the one written.
qovrin::Status refuseNulInPath(const Node& node, std::string_view path, std::string what, ConfigNote* why) {
  if (path.find('\0') == std::string_view::npos) return {};
  if (why != nullptr) *why = {positionOf(node), std::move(what) + " holds a NUL byte, which no path can hold"};
  return qovrin::fail(Error::InvalidBuildConfig);
}

qovrin::Status readBuild(const Node& root, ProjectConfig& config, ConfigNote* why) {
  const auto build = optionalTable(root, "build", Error::InvalidBuildConfig, why);
  if (!build) return qovrin::fail(build.error());
  if (*build == nullptr) return {};
  std::optional<std::string>* fields[] = {&config.source, &config.output, &config.target};
  const std::string_view keys[] = {"source", "output", "target"};
  for (std::size_t index = 0; index < 3; ++index) {
    auto value = stringIn(**build, "build", keys[index], why);
    if (!value) return qovrin::fail(value.error());
    if (*value && keys[index] != "target")
      QOVRIN_TRY(refuseNulInPath(*findEntry(**build, keys[index]), **value, inTable(keys[index], "build"), why));
    *fields[index] = std::move(*value);
  }
  return {};
}

qovrin::Status readTarget(const Node& root, ProjectConfig& config, ConfigNote* why) {
  const auto target = optionalTable(root, "target", Error::InvalidTargetConfig, why);
  if (!target) return qovrin::fail(target.error());
  if (*target == nullptr) return {};
  auto isa = stringIn(**target, "target", "isa", why);
  if (!isa) return qovrin::fail(isa.error());
  config.isa = std::move(*isa);
  if (const Node* bits = findEntry(**target, "bits")) {
    const auto* value = std::get_if<std::int64_t>(&bits->value);
    if (value == nullptr || *value < 0 || *value > 65535) {
      if (value != nullptr && why != nullptr) {
        *why = {positionOf(*bits), inTable("bits", "target") + " must be from 0 to 65535, not " + std::to_string(*value)};
        return qovrin::fail(Error::InvalidTargetConfig);
      }
      return refuse(why, *bits, inTable("bits", "target") + " must be an integer", Error::InvalidTargetConfig);
    }
    config.bits = static_cast<std::uint16_t>(*value);
  }
  auto os = stringIn(**target, "target", "os", why);
  if (!os) return qovrin::fail(os.error());
  config.os = std::move(*os);
  auto abi = stringIn(**target, "target", "abi", why);
  if (!abi) return qovrin::fail(abi.error());
  config.abi = std::move(*abi);
  return {};
}

qovrin::Status readDefines(const Node& root, ProjectConfig& config, ConfigNote* why) {
  const auto defines = optionalTable(root, "defines", Error::InvalidDefineValue, why);
  if (!defines) return qovrin::fail(defines.error());
  if (*defines == nullptr) return {};
  for (const auto& entry : std::get<Node::Table>((*defines)->value)) {
    const Node& node = entry.node;
    if (const auto* text = std::get_if<std::string>(&node.value)) {
      config.defines.push_back({entry.key, *text});
    } else if (const auto* flag = std::get_if<bool>(&node.value)) {
      config.defines.push_back({entry.key, *flag});
    } else if (const auto* number = std::get_if<std::int64_t>(&node.value); number != nullptr && *number >= 0) {
      config.defines.push_back({entry.key, static_cast<std::uint64_t>(*number)});
    } else if (number != nullptr && why != nullptr) {
      *why = {positionOf(node), inTable(entry.key, "defines") + " must not be negative (" + std::to_string(*number) + ")"};
      return qovrin::fail(Error::InvalidDefineValue);
    } else {
      return refuse(why, node, inTable(entry.key, "defines") + " must be a string, a boolean or an integer",
                    Error::InvalidDefineValue);
    }
  }
  return {};
}

qovrin::Status readInclude(const Node& root, ProjectConfig& config, ConfigNote* why) {
  const auto include = optionalTable(root, "include", Error::InvalidBuildConfig, why);
  if (!include) return qovrin::fail(include.error());
  if (*include == nullptr) return {};
  const Node* files = findEntry(**include, "files");
  if (files == nullptr) return {};
  const auto* elements = std::get_if<Node::Array>(&files->value);
  if (elements == nullptr)
    return refuse(why, *files, inTable("files", "include") + " must be an array of strings", Error::InvalidBuildConfig);
  for (const Node& element : *elements) {
    const auto* path = std::get_if<std::string>(&element.value);
    if (path == nullptr)
      return refuse(why, element, "each element of " + inTable("files", "include") + " must be a string",
                    Error::InvalidBuildConfig);
    QOVRIN_TRY(refuseNulInPath(element, *path, "an element of " + inTable("files", "include"), why));
    config.includeFiles.push_back(*path);
  }
  return {};
}

}  // namespace

qovrin::Result<std::optional<std::string>> optionalString(const Node& node, std::string_view key) {
  const Node* value = findEntry(node, key);
  if (value == nullptr) return std::optional<std::string>();
  const auto* text = std::get_if<std::string>(&value->value);
  if (text == nullptr) return qovrin::fail(Error::InvalidBuildConfig);
  return std::optional<std::string>(*text);
}

qovrin::Result<ProjectConfig> projectConfigFromToml(const Node& root, ConfigNote* why) {
  ProjectConfig config;
  QOVRIN_TRY(readBuild(root, config, why));
  QOVRIN_TRY(readTarget(root, config, why));
  QOVRIN_TRY(readDefines(root, config, why));
  QOVRIN_TRY(readInclude(root, config, why));
  return config;
}

std::vector<ConfigNote> unknownKeys(const Node& root) {
  struct KnownTable {
    std::string_view table;
    std::array<std::string_view, 4> keys;  // none: every key is read, or ignored on purpose
  };
  // [project] is written by init and read by nobody.
  static constexpr std::array<KnownTable, 5> kKnown = {{
      {"build", {"source", "output", "target", ""}},
      {"target", {"isa", "bits", "os", "abi"}},
      {"include", {"files", "", "", ""}},
      {"defines", {}},
      {"project", {}},
  }};
  const auto keyList = [](const KnownTable& known) {
    std::string list;
    for (const std::string_view key : known.keys)
      if (!key.empty()) list += (list.empty() ? "" : ", ") + std::string(key);
    return list;
  };
  std::vector<ConfigNote> notes;
  const auto* top = std::get_if<Node::Table>(&root.value);
  if (top == nullptr) return notes;
  for (const TableEntry& table : *top) {
    const auto known = std::ranges::find(kKnown, table.key, &KnownTable::table);
    if (known == kKnown.end()) {
      const std::string_view what = table.node.kind() == NodeKind::table ? "table " : "key ";
      notes.push_back({{table.line, table.column},
                       "unknown " + std::string(what) + qovrin::quotedSubject(table.key) +
                           " is ignored; the project file reads the tables build, target, defines and include"});
      continue;
    }
    const auto* entries = std::get_if<Node::Table>(&table.node.value);
    if (entries == nullptr || known->keys[0].empty()) continue;
    for (const TableEntry& entry : *entries) {
      if (std::ranges::find(known->keys, entry.key) != known->keys.end() && !entry.key.empty()) continue;
      notes.push_back({{entry.line, entry.column},
                       "unknown key " + qovrin::quotedSubject(entry.key) + " in [" + std::string(known->table) +
                           "] is ignored; it reads " + keyList(*known)});
    }
  }
  return notes;
}

std::optional<TextPosition> valuePosition(const Node& root, std::string_view table, std::string_view key) {
  const Node* holder = findEntry(root, table);
  const Node* value = holder != nullptr ? findEntry(*holder, key) : nullptr;
  if (value == nullptr) return std::nullopt;
  return positionOf(*value);
}

}  // namespace data::config
