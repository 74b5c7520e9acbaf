#include "data/config.hpp"

namespace data::config {
namespace {

using toml_parser::Node;
using toml_parser::NodeKind;
using qovrin::Error;

const Node* findEntry(const Node& table, std::string_view key) noexcept {
  const auto* entries = std::get_if<Node::Table>(&table.value);
  if (entries == nullptr) return nullptr;
  for (const auto& entry : *entries)
    if (entry.key == key) return &entry.node;
  return nullptr;
}

// The table under `key`: nothing when absent, `failure` when it is no table.
qovrin::Result<const Node*> optionalTable(const Node& root, std::string_view key, Error failure) {
  const Node* node = findEntry(root, key);
  if (node != nullptr && node->kind() != NodeKind::table) return qovrin::fail(failure);
  return node;
}

qovrin::Status readBuild(const Node& root, ProjectConfig& config) {
  const auto build = optionalTable(root, "build", Error::InvalidBuildConfig);
  if (!build) return qovrin::fail(build.error());
  if (*build == nullptr) return {};
  std::optional<std::string>* fields[] = {&config.source, &config.output, &config.target};
  const std::string_view keys[] = {"source", "output", "target"};
  for (std::size_t index = 0; index < 3; ++index) {
    auto value = optionalString(**build, keys[index]);
    if (!value) return qovrin::fail(value.error());
    *fields[index] = std::move(*value);
  }
  return {};
}

qovrin::Status readTarget(const Node& root, ProjectConfig& config) {
  const auto target = optionalTable(root, "target", Error::InvalidTargetConfig);
  if (!target) return qovrin::fail(target.error());
  if (*target == nullptr) return {};
  auto isa = optionalString(**target, "isa");
  if (!isa) return qovrin::fail(isa.error());
  config.isa = std::move(*isa);
  if (const Node* bits = findEntry(**target, "bits")) {
    const auto* value = std::get_if<std::int64_t>(&bits->value);
    if (value == nullptr || *value < 0 || *value > 65535) return qovrin::fail(Error::InvalidTargetConfig);
    config.bits = static_cast<std::uint16_t>(*value);
  }
  auto os = optionalString(**target, "os");
  if (!os) return qovrin::fail(os.error());
  config.os = std::move(*os);
  auto abi = optionalString(**target, "abi");
  if (!abi) return qovrin::fail(abi.error());
  config.abi = std::move(*abi);
  return {};
}

qovrin::Status readDefines(const Node& root, ProjectConfig& config) {
  const auto defines = optionalTable(root, "defines", Error::InvalidDefineValue);
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
    } else {
      return qovrin::fail(Error::InvalidDefineValue);
    }
  }
  return {};
}

qovrin::Status readInclude(const Node& root, ProjectConfig& config) {
  const auto include = optionalTable(root, "include", Error::InvalidBuildConfig);
  if (!include) return qovrin::fail(include.error());
  if (*include == nullptr) return {};
  const Node* files = findEntry(**include, "files");
  if (files == nullptr) return {};
  const auto* elements = std::get_if<Node::Array>(&files->value);
  if (elements == nullptr) return qovrin::fail(Error::InvalidBuildConfig);
  for (const Node& element : *elements) {
    const auto* path = std::get_if<std::string>(&element.value);
    if (path == nullptr) return qovrin::fail(Error::InvalidBuildConfig);
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

qovrin::Result<ProjectConfig> projectConfigFromToml(const Node& root) {
  ProjectConfig config;
  QOVRIN_TRY(readBuild(root, config));
  QOVRIN_TRY(readTarget(root, config));
  QOVRIN_TRY(readDefines(root, config));
  QOVRIN_TRY(readInclude(root, config));
  return config;
}

}  // namespace data::config
