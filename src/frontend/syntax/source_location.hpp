#pragma once
// Where a piece of text came from: which loaded source, which bytes of it, and
// which macro expansion produced it. Lines, statements, fragments, symbols,
// fixups and diagnostics all carry one.

#include <cstdint>
#include <optional>

namespace frontend {

struct SourceSpan {
  std::optional<std::uint32_t> source;  // index into the module's loaded sources
  std::uint32_t start = 0;              // first byte
  std::uint32_t end = 0;                // one past the last byte

  friend bool operator==(const SourceSpan&, const SourceSpan&) = default;
};

struct SourceLocation {
  SourceSpan span;
  std::optional<std::uint32_t> expansion;  // macro expansion whose body produced the text

  friend bool operator==(const SourceLocation&, const SourceLocation&) = default;
};

}  // namespace frontend
