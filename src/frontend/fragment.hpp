#pragma once
// One piece of a section's content: stored bytes, address space without bytes
// (a reserve), padding up to an alignment, or one line of target assembly that
// the encode pass turns into bytes.

#include <cstdint>
#include <string_view>
#include <utility>
#include <variant>

#include "frontend/packed_location.hpp"
#include "frontend/small_bytes.hpp"
#include "frontend/source_location.hpp"
#include "frontend/target.hpp"

namespace frontend::fragment {

enum class FragmentKind : std::uint8_t { bytes = 0, reserve = 1, alignment = 2, instruction = 3 };

struct Bytes {
  SmallBytes data;
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

// Alternatives in FragmentKind order.
using Payload = std::variant<Bytes, Reserve, Alignment, Instruction>;

struct Fragment {
  Fragment(Payload&& content, std::uint32_t section_index, const SourceLocation& where)
      : payload(std::move(content)), section(section_index), location_(where) {}

  Payload payload;
  std::uint32_t section = 0;

  SourceLocation location() const noexcept { return location_.unpack(); }

  FragmentKind kind() const noexcept { return static_cast<FragmentKind>(payload.index()); }

  Bytes* bytes() noexcept { return std::get_if<Bytes>(&payload); }
  const Bytes* bytes() const noexcept { return std::get_if<Bytes>(&payload); }
  Instruction* instruction() noexcept { return std::get_if<Instruction>(&payload); }
  const Instruction* instruction() const noexcept { return std::get_if<Instruction>(&payload); }

  // The bytes this fragment holds now: a bytes fragment's data or an
  // instruction's current encoding; none for reserves and alignments.
  const SmallBytes* storedBytes() const noexcept {
    if (const auto* data = bytes()) return &data->data;
    if (const auto* line = instruction()) return &line->encoded;
    return nullptr;
  }

 private:
  PackedLocation location_;  // where the fragment came from
};

// A module holds one per fragment, so every byte counts.
static_assert(sizeof(Instruction) == 40);
static_assert(sizeof(Fragment) == 72);

}  // namespace frontend::fragment
