#pragma once
// Test helpers for operand parsing: a resolver that answers from a fixed list
// and records every text it was asked for, the error of an expected failure,
// and the expected shape of an address.

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "common/error_of.hpp"
#include "x86_encoder/operand.hpp"

namespace x86_encoder::testing {

using api::X86ExpressionResolver;
using api::X86ResolvedExpression;
using Answer = qovrin::Result<std::optional<X86ResolvedExpression>>;

inline X86ResolvedExpression knownValue(std::int64_t value) { return {value, true, true, false}; }
inline X86ResolvedExpression forwardReference() { return {0, false, false, true}; }
inline X86ResolvedExpression relocatable(std::int64_t value) { return {value, true, false, true}; }

class RecordingResolver {
 public:
  RecordingResolver& on(std::string text, Answer answer) {
    answers_.emplace_back(std::move(text), std::move(answer));
    return *this;
  }

  // Texts without an answer of their own get this one; by default "not an
  // expression".
  RecordingResolver& otherwise(Answer answer) {
    fallback_ = std::move(answer);
    return *this;
  }

  X86ExpressionResolver resolver(bool enabled = true) { return {this, &RecordingResolver::resolve, enabled}; }

  const std::vector<std::string>& asked() const { return asked_; }

 private:
  static Answer resolve(void* context, std::string_view text) {
    auto* self = static_cast<RecordingResolver*>(context);
    self->asked_.emplace_back(text);
    for (const auto& [known, answer] : self->answers_)
      if (known == text) return answer;
    return self->fallback_;
  }

  std::vector<std::pair<std::string, Answer>> answers_;
  Answer fallback_ = std::nullopt;
  std::vector<std::string> asked_;
};

using qovrin::testing::errorOf;

struct Address {
  std::int32_t base;
  std::int32_t index;
  std::int32_t scale;
  std::int64_t value;
  std::uint64_t flags;
};

inline void expectAddress(const api::X86Operand& operand, const Address& expected, std::string_view label) {
  EXPECT_EQ(operand.kind, api::OperandKind::memory) << label;
  EXPECT_EQ(operand.base, expected.base) << label;
  EXPECT_EQ(operand.index, expected.index) << label;
  EXPECT_EQ(operand.scale, expected.scale) << label;
  EXPECT_EQ(operand.value, expected.value) << label;
  EXPECT_EQ(operand.flags, expected.flags) << std::hex << label << " " << operand.flags;
}

}  // namespace x86_encoder::testing
