#pragma once
// Module-level names: labels anchored in a section, and named meta values.
// Labels and values share one name space.

#include <cstdint>
#include <string>
#include <string_view>
#include <variant>

#include "frontend/syntax/source_location.hpp"
#include "frontend/values/value.hpp"

namespace frontend::symbol {

enum class SymbolKind : std::uint8_t { value = 0, label = 1 };

struct ValueSymbol {
  value::Value value;
  bool is_mutable = false;  // a module-level let; const and project defines are not
};

struct Label {
  std::uint64_t offset = 0;  // from the section's base
  std::uint32_t section = 0;
  // Position in the section's fragment list in front of which the label
  // stands; the fragment count means the end of the section.
  std::uint32_t fragment_position = 0;
  // The offset follows the laid-out offset of the fragment at that position.
  bool anchored = false;
  // Bytes into that fragment: a label between settled lines stands inside
  // the run they joined.
  std::uint32_t run_offset = 0;
};

// Alternatives in SymbolKind order.
using Payload = std::variant<ValueSymbol, Label>;

// The name is fixed at creation: the module indexes symbols by it.
class Symbol {
 public:
  Symbol(std::string name, Payload payload, const SourceLocation& location)
      : payload(std::move(payload)), location(location), name_(std::move(name)) {}
  Symbol(Symbol&&) noexcept = default;
  Symbol& operator=(Symbol&&) = delete;

  const std::string& name() const noexcept { return name_; }
  SymbolKind kind() const noexcept { return static_cast<SymbolKind>(payload.index()); }

  Label* label() noexcept { return std::get_if<Label>(&payload); }
  const Label* label() const noexcept { return std::get_if<Label>(&payload); }
  ValueSymbol* value() noexcept { return std::get_if<ValueSymbol>(&payload); }
  const ValueSymbol* value() const noexcept { return std::get_if<ValueSymbol>(&payload); }

  Payload payload;
  SourceLocation location;  // of the definition

 private:
  std::string name_;
};

}  // namespace frontend::symbol
