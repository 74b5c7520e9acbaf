#pragma once
// One piece of a section's content: stored bytes, address space without bytes
// (a reserve), padding up to an alignment, or one line of target assembly that
// the encode pass turns into bytes.

#include <cstdint>
#include <memory>
#include <string_view>
#include <type_traits>
#include <utility>
#include <variant>

#include "frontend/module/packed_location.hpp"
#include "frontend/module/small_bytes.hpp"
#include "frontend/syntax/source_location.hpp"
#include "frontend/values/target.hpp"

namespace frontend::fragment {

enum class FragmentKind : std::uint8_t { bytes = 0, reserve = 1, alignment = 2, instruction = 3 };

struct Bytes {
  SmallBytes data;
  // Settled instructions joined into these bytes (a run): their rows
  // [first_line, first_line + lines) of the module's line records. None for
  // bytes emitted as data.
  std::uint32_t first_line = 0;
  std::uint32_t lines = 0;
};

struct Reserve {
  std::uint64_t size = 0;
  std::uint64_t alignment = 1;
};

struct Alignment {
  std::uint64_t alignment = 1;
  std::uint8_t fill = 0;  // the value padding bytes get in the image
};

struct Instruction {
  SmallBytes encoded;  // empty until the encode pass fills it; its size is the fragment's

  // The instruction line as lowered. The module keeps the characters: in the
  // source when the line is unchanged there, else in its own text store.
  std::string_view text() const noexcept { return {text_data_, text_size_}; }
  // Texts come from sources, which never exceed 32-bit sizes, or are
  // checked against that limit before they are kept.
  void setText(std::string_view text) noexcept {
    text_data_ = text.data();
    text_size_ = static_cast<std::uint32_t>(text.size());
  }

 private:
  // Laid out apart from a string_view so that the instruction packs into 40 bytes.
  const char* text_data_ = nullptr;
  std::uint32_t text_size_ = 0;

 public:
  target::Target target;  // the target in force when the line was lowered
  bool pending = false;   // the encoding left operands to patch after layout
  // Encoded, with its fixups recorded. An encoding depends only on the text
  // and the target, so a settled instruction is never encoded again.
  bool settled = false;
};

// Alternatives in FragmentKind order; a fragment is made from one.
using Payload = std::variant<Bytes, Reserve, Alignment, Instruction>;

// Holds its content in a tagged union rather than a variant, so that the tag,
// the section and the location fill what would be the variant's padding.
class Fragment {
  union Content {
    Content() noexcept : reserve() {}
    ~Content() {}
    Bytes bytes;
    Reserve reserve;
    Alignment alignment;
    Instruction instruction;
  };
  // First, so that the members after it pack behind it.
  Content content_;

 public:
  Fragment(Payload&& content, std::uint32_t section_index, const SourceLocation& where);
  Fragment(const Fragment& other);
  Fragment(Fragment&& other) noexcept;
  Fragment& operator=(const Fragment& other);
  Fragment& operator=(Fragment&& other) noexcept;
  ~Fragment() { destroy(); }

  std::uint32_t section = 0;

  SourceLocation location() const noexcept { return location_.unpack(); }
  FragmentKind kind() const noexcept { return kind_; }

  Bytes* bytes() noexcept { return kind_ == FragmentKind::bytes ? &content_.bytes : nullptr; }
  const Bytes* bytes() const noexcept { return kind_ == FragmentKind::bytes ? &content_.bytes : nullptr; }
  Reserve* reserve() noexcept { return kind_ == FragmentKind::reserve ? &content_.reserve : nullptr; }
  const Reserve* reserve() const noexcept { return kind_ == FragmentKind::reserve ? &content_.reserve : nullptr; }
  Alignment* alignment() noexcept { return kind_ == FragmentKind::alignment ? &content_.alignment : nullptr; }
  const Alignment* alignment() const noexcept {
    return kind_ == FragmentKind::alignment ? &content_.alignment : nullptr;
  }
  Instruction* instruction() noexcept { return kind_ == FragmentKind::instruction ? &content_.instruction : nullptr; }
  const Instruction* instruction() const noexcept {
    return kind_ == FragmentKind::instruction ? &content_.instruction : nullptr;
  }

  // The bytes this fragment holds now: a bytes fragment's data or an
  // instruction's current encoding; none for reserves and alignments.
  const SmallBytes* storedBytes() const noexcept {
    if (const auto* data = bytes()) return &data->data;
    if (const auto* line = instruction()) return &line->encoded;
    return nullptr;
  }

  // Makes the fragment plain bytes holding data, whatever it was.
  void becomeBytes(SmallBytes&& data) noexcept;

 private:
  // Constructs the content from other's, which holds kind; the current
  // content must be gone.
  template <typename Source>
  void constructFrom(Source&& other);
  void destroy() noexcept;

  PackedLocation location_;  // where the fragment came from
  FragmentKind kind_ = FragmentKind::reserve;
};

inline Fragment::Fragment(Payload&& content, std::uint32_t section_index, const SourceLocation& where)
    : section(section_index), location_(where) {
  kind_ = static_cast<FragmentKind>(content.index());
  std::visit(
      [this](auto&& alternative) {
        using Alternative = std::decay_t<decltype(alternative)>;
        if constexpr (std::is_same_v<Alternative, Bytes>) std::construct_at(&content_.bytes, std::move(alternative));
        if constexpr (std::is_same_v<Alternative, Reserve>) std::construct_at(&content_.reserve, alternative);
        if constexpr (std::is_same_v<Alternative, Alignment>) std::construct_at(&content_.alignment, alternative);
        if constexpr (std::is_same_v<Alternative, Instruction>)
          std::construct_at(&content_.instruction, std::move(alternative));
      },
      std::move(content));
}

template <typename Source>
void Fragment::constructFrom(Source&& other) {
  kind_ = other.kind_;
  switch (other.kind_) {
    case FragmentKind::bytes:
      std::construct_at(&content_.bytes, std::forward<Source>(other).content_.bytes);
      break;
    case FragmentKind::reserve:
      std::construct_at(&content_.reserve, other.content_.reserve);
      break;
    case FragmentKind::alignment:
      std::construct_at(&content_.alignment, other.content_.alignment);
      break;
    case FragmentKind::instruction:
      std::construct_at(&content_.instruction, std::forward<Source>(other).content_.instruction);
      break;
  }
}

inline void Fragment::destroy() noexcept {
  if (kind_ == FragmentKind::bytes) std::destroy_at(&content_.bytes);
  if (kind_ == FragmentKind::instruction) std::destroy_at(&content_.instruction);
  // A reserve holds nothing to release, so the union is left as one.
  kind_ = FragmentKind::reserve;
}

inline Fragment::Fragment(const Fragment& other) : section(other.section), location_(other.location_) {
  constructFrom(other);
}

inline Fragment::Fragment(Fragment&& other) noexcept : section(other.section), location_(other.location_) {
  constructFrom(std::move(other));
}

inline Fragment& Fragment::operator=(const Fragment& other) {
  if (this != &other) {
    Fragment copy(other);
    *this = std::move(copy);
  }
  return *this;
}

inline Fragment& Fragment::operator=(Fragment&& other) noexcept {
  if (this != &other) {
    destroy();
    section = other.section;
    location_ = other.location_;
    constructFrom(std::move(other));
  }
  return *this;
}

inline void Fragment::becomeBytes(SmallBytes&& data) noexcept {
  SmallBytes held = std::move(data);  // data may live in this fragment's own content
  destroy();
  std::construct_at(&content_.bytes, Bytes{std::move(held)});
  kind_ = FragmentKind::bytes;
}

// A module holds one per fragment, so every byte counts.
static_assert(sizeof(Instruction) == 40);
static_assert(sizeof(Fragment) == 64);

}  // namespace frontend::fragment
