// Parsed TOML documents into meta values.

#include <variant>

#include "frontend/meta_std/meta_data_eval.hpp"

namespace frontend::meta_data {

using data::toml_parser::Node;
using qovrin::Error;
using qovrin::fail;
using value::Value;

static_assert(data::toml_parser::kMaxNestingDepth == value::kMaxNestingDepth,
              "a document read into values meets one nesting limit");

qovrin::Result<Value> tomlNodeToValue(const Node& node) {
  switch (node.kind()) {
    case data::toml_parser::NodeKind::string:
      return Value::string(std::get<std::string>(node.value));
    case data::toml_parser::NodeKind::int64: {
      const std::int64_t number = std::get<std::int64_t>(node.value);
      if (number < 0) return fail(Error::InvalidApiInteger);
      return Value::integer(static_cast<std::uint64_t>(number));
    }
    case data::toml_parser::NodeKind::boolean:
      return Value::boolean(std::get<bool>(node.value));
    case data::toml_parser::NodeKind::fp64:
    case data::toml_parser::NodeKind::timestamp:
      return fail(Error::TypeMismatch);
    case data::toml_parser::NodeKind::array: {
      value::ListValue list;
      const auto& items = std::get<Node::Array>(node.value);
      list.reserve(items.size());
      for (const Node& item : items) {
        auto converted = tomlNodeToValue(item);
        if (!converted) return fail(converted.error());
        QOVRIN_TRY(list.push(std::move(*converted)));
      }
      return Value(std::move(list));
    }
    case data::toml_parser::NodeKind::table: {
      value::MapValue map;
      for (const auto& entry : std::get<Node::Table>(node.value)) {
        auto converted = tomlNodeToValue(entry.node);
        if (!converted) return fail(converted.error());
        QOVRIN_TRY(map.set(entry.key, std::move(*converted)));
      }
      return Value(std::move(map));
    }
  }
  return fail(Error::TypeMismatch);
}

}  // namespace frontend::meta_data
