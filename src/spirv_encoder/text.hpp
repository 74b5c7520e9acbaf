#pragma once
// The text form of one SPIR-V instruction: blank-separated tokens, and the
// words each operand kind turns its tokens into. The module assembly drives
// it line by line and owns the word lists.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "common/error.hpp"
#include "spirv_encoder/text_tables.hpp"

namespace spirv_encoder::text {

// Cursor over one line. A peeked token was read and pushed back; next()
// returns it before reading on.
struct Tokenizer {
  explicit Tokenizer(std::string_view line) noexcept : text(line) {}

  std::string_view text;
  std::size_t position = 0;
  std::optional<std::string_view> peeked;

  // Skips blanks (space, tab, CR, LF) and reads one token without looking at
  // the peeked one. A token that opens with a double quote runs to the next
  // quote that no backslash escapes (or to the end of the text); any other
  // token runs to the next blank.
  std::optional<std::string_view> nextRaw() noexcept;

  std::optional<std::string_view> next() noexcept {
    if (peeked) return std::exchange(peeked, std::nullopt);
    return nextRaw();
  }

  // Whether another token follows; keeps it as the peeked token.
  bool hasMore() noexcept {
    if (!peeked) peeked = nextRaw();
    return peeked.has_value();
  }
};

struct ScalarType {
  enum class Kind : std::uint8_t { integer, floating };
  Kind kind = Kind::integer;
  std::uint32_t width = 0;
  bool is_signed = false;                 // integers
  std::optional<std::uint32_t> encoding;  // floats: the FPEncoding operand, when written

  static constexpr ScalarType integer(std::uint32_t width, bool is_signed) noexcept {
    return {Kind::integer, width, is_signed, std::nullopt};
  }
  static constexpr ScalarType floating(std::uint32_t width, std::optional<std::uint32_t> encoding = {}) noexcept {
    return {Kind::floating, width, false, encoding};
  }
  friend constexpr bool operator==(const ScalarType&, const ScalarType&) = default;
};

// Records by id. Ids of a module are mostly small and dense, so those live in
// a vector; the rare large id goes to a hash map.
template <typename T>
class IdTable {
 public:
  void set(std::uint32_t id, T value) {
    if (id < kDenseLimit) {
      if (id >= dense_.size()) dense_.resize(std::max<std::size_t>(id + 1, dense_.size() * 2));
      dense_[id] = value;
    } else {
      sparse_.insert_or_assign(id, value);
    }
  }

  std::optional<T> find(std::uint32_t id) const {
    if (id < kDenseLimit) return id < dense_.size() ? dense_[id] : std::nullopt;
    const auto found = sparse_.find(id);
    if (found == sparse_.end()) return std::nullopt;
    return found->second;
  }

 private:
  static constexpr std::uint32_t kDenseLimit = 1u << 20;
  std::vector<std::optional<T>> dense_;
  std::unordered_map<std::uint32_t, T> sparse_;
};

// What earlier instructions of the module tell later operands: the scalar
// types that size constants, the imported extended sets, and the type of
// every typed result (an OpSwitch selector's type sizes its case literals).
struct ParseContext {
  IdTable<ScalarType> scalar_types;
  IdTable<text_tables::ExtInstSet> ext_inst_sets;
  IdTable<std::uint32_t> result_types;
};

// The IdResultType of the instruction being read, when it has one.
struct ResultType {
  std::uint32_t id = 0;
  bool present = false;
};

// The ids the operands of an instruction name: the highest, which bounds the
// module, and each one in the order written.
struct NamedIds {
  std::uint32_t highest = 0;
  std::vector<std::uint32_t> ids;
};

// Reads the tokens of one operand of the given kind (the peeked token first)
// and appends its words; every id read goes to `named`.
qovrin::Status appendOperand(const ParseContext& context, std::vector<std::uint32_t>& words, Tokenizer& tokenizer,
                             std::uint16_t kind, ResultType result_type, NamedIds& named);

// Applies operand descriptors in order: one operand exactly, an optional one
// when a token remains, variadic ones while tokens remain.
qovrin::Status appendDynamicOperands(const ParseContext& context, std::vector<std::uint32_t>& words,
                                     Tokenizer& tokenizer, std::span<const text_tables::OperandDescriptor> operands,
                                     ResultType result_type, NamedIds& named);

// Decimal digits, or "0x"/"0X" and hexadecimal digits, at most 32 bits.
qovrin::Result<std::uint32_t> parseWord(std::string_view token) noexcept;

}  // namespace spirv_encoder::text
