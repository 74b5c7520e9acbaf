#include <algorithm>

#include "spirv_encoder/text.hpp"
#include "spirv_encoder/text_number.hpp"

namespace spirv_encoder::text {
namespace {

using qovrin::Error;
using qovrin::fail;
using text_tables::KindClass;
using text_tables::OperandKind;
using text_tables::Quantifier;

qovrin::Result<std::string_view> takeToken(Tokenizer& tokenizer) noexcept {
  const auto token = tokenizer.next();
  if (!token) return fail(Error::ExpectedOperand);
  return *token;
}

qovrin::Status appendParsedWord(std::vector<std::uint32_t>& words, std::string_view token) {
  const auto word = parseWord(token);
  if (!word) return fail(word.error());
  words.push_back(*word);
  return {};
}

qovrin::Status appendId(std::vector<std::uint32_t>& words, Tokenizer& tokenizer, NamedIds& named) {
  const auto token = takeToken(tokenizer);
  if (!token) return fail(token.error());
  if (token->size() < 2 || token->front() != '%') return fail(Error::ExpectedId);
  const auto id = parseWord(token->substr(1));
  if (!id) return fail(id.error());
  words.push_back(*id);
  named.highest = std::max(named.highest, *id);
  named.ids.push_back(*id);
  return {};
}

qovrin::Status appendLiteralWord(std::vector<std::uint32_t>& words, Tokenizer& tokenizer) {
  const auto token = takeToken(tokenizer);
  if (!token) return fail(token.error());
  return appendParsedWord(words, *token);
}

// Bytes between the quotes, a backslash taking the next byte as it is, then a
// zero byte, packed four to a word from the lowest byte up.
qovrin::Status appendString(std::vector<std::uint32_t>& words, std::string_view token) {
  if (token.size() < 2 || token.front() != '"' || token.back() != '"') return fail(Error::InvalidString);
  const std::string_view inner = token.substr(1, token.size() - 2);
  std::uint32_t word = 0;
  unsigned shift = 0;
  for (std::size_t index = 0; index < inner.size(); ++index) {
    if (inner[index] == '\\' && ++index == inner.size()) return fail(Error::InvalidString);
    word |= static_cast<std::uint32_t>(static_cast<unsigned char>(inner[index])) << shift;
    shift += 8;
    if (shift == 32) {
      words.push_back(word);
      word = 0;
      shift = 0;
    }
  }
  words.push_back(word);
  return {};
}

// The parameters of an enumerant, one operand per parameter kind.
qovrin::Status appendParameters(const ParseContext& context, std::vector<std::uint32_t>& words, Tokenizer& tokenizer,
                                const text_tables::EnumerantRow& row, ResultType result_type, NamedIds& named) {
  for (const std::uint16_t kind : text_tables::parametersOf(row))
    QOVRIN_TRY(appendOperand(context, words, tokenizer, kind, result_type, named));
  return {};
}

// A mask is one word; the parameters of its bits follow in increasing bit
// order, whatever order the names were written in, because a reader of the
// binary takes them in that order.
qovrin::Status appendMask(const ParseContext& context, std::vector<std::uint32_t>& words, Tokenizer& tokenizer,
                          std::uint16_t kind, ResultType result_type, NamedIds& named) {
  const auto token = takeToken(tokenizer);
  if (!token) return fail(token.error());
  std::uint32_t mask = 0;
  if (token->find('|') == std::string_view::npos) {
    if (const auto* row = text_tables::lookupEnumerant(kind, *token)) {
      mask = row->value;
    } else {
      const auto word = parseWord(*token);
      if (!word) return fail(word.error());
      mask = *word;
    }
  } else {
    std::string_view rest = *token;
    while (true) {
      const std::size_t bar = rest.find('|');
      const auto* row = text_tables::lookupEnumerant(kind, rest.substr(0, bar));
      if (!row) return fail(Error::UnknownOperand);
      mask |= row->value;
      if (bar == std::string_view::npos) break;
      rest.remove_prefix(bar + 1);
    }
  }
  words.push_back(mask);
  for (std::uint32_t bits = mask; bits != 0; bits &= bits - 1) {
    const std::uint32_t bit = bits & (~bits + 1);
    if (const auto* row = text_tables::enumerantByValue(kind, bit))
      QOVRIN_TRY(appendParameters(context, words, tokenizer, *row, result_type, named));
  }
  return {};
}

qovrin::Status appendEnumerant(const ParseContext& context, std::vector<std::uint32_t>& words, Tokenizer& tokenizer,
                               std::uint16_t kind, ResultType result_type, NamedIds& named) {
  const auto token = takeToken(tokenizer);
  if (!token) return fail(token.error());
  const auto* row = text_tables::lookupEnumerant(kind, *token);
  if (!row) return fail(Error::UnknownOperand);
  words.push_back(row->value);
  return appendParameters(context, words, tokenizer, *row, result_type, named);
}

// An instruction named inside another one (an extended instruction, an
// OpSpecConstantOp operation): its number, then its own operands. A name the
// table does not hold may still be written as a number.
qovrin::Status appendNamedInstruction(const ParseContext& context, std::vector<std::uint32_t>& words,
                                      Tokenizer& tokenizer, std::string_view token,
                                      const text_tables::InstructionRow* row, ResultType result_type, NamedIds& named) {
  if (!row) return appendParsedWord(words, token);
  words.push_back(row->number);
  return appendDynamicOperands(context, words, tokenizer, text_tables::operandsOf(*row), result_type, named);
}

qovrin::Status appendExtInst(const ParseContext& context, std::vector<std::uint32_t>& words, Tokenizer& tokenizer,
                             ResultType result_type, NamedIds& named) {
  const auto token = takeToken(tokenizer);
  if (!token) return fail(token.error());
  const auto set = words.empty() ? std::nullopt : context.ext_inst_sets.find(words.back());
  const auto* row = set ? text_tables::findExtInst(*set, *token) : nullptr;
  QOVRIN_TRY(appendNamedInstruction(context, words, tokenizer, *token, row, result_type, named));
  // A named instruction has taken all operands it has; the ids the outer
  // instruction would still accept belong to instructions written as numbers.
  if (row && tokenizer.hasMore()) return fail(Error::TooManyOperands);
  return {};
}

qovrin::Status appendSpecConstantOp(const ParseContext& context, std::vector<std::uint32_t>& words,
                                    Tokenizer& tokenizer, ResultType result_type, NamedIds& named) {
  const auto token = takeToken(tokenizer);
  if (!token) return fail(token.error());
  return appendNamedInstruction(context, words, tokenizer, *token, text_tables::findSpecConstantOp(*token), result_type,
                                named);
}

// The case literal of an OpSwitch target pair takes the width and signedness
// of the selector (the instruction's first operand), so a 64-bit selector
// gets two-word literals.
qovrin::Status appendCaseLiteral(const ParseContext& context, std::vector<std::uint32_t>& words, Tokenizer& tokenizer) {
  const auto token = takeToken(tokenizer);
  if (!token) return fail(token.error());
  std::optional<ScalarType> type;
  if (!words.empty())
    if (const auto selector_type = context.result_types.find(words.front()))
      type = context.scalar_types.find(*selector_type);
  if (!type || type->kind != ScalarType::Kind::integer) return appendParsedWord(words, *token);
  return appendTypedNumber(words, *token, type);
}

qovrin::Status appendPair(const ParseContext& context, std::vector<std::uint32_t>& words, Tokenizer& tokenizer,
                          std::uint16_t kind, NamedIds& named) {
  switch (static_cast<OperandKind>(kind)) {
    case OperandKind::PairIdRefIdRef:
      QOVRIN_TRY(appendId(words, tokenizer, named));
      return appendId(words, tokenizer, named);
    case OperandKind::PairIdRefLiteralInteger:
      QOVRIN_TRY(appendId(words, tokenizer, named));
      return appendLiteralWord(words, tokenizer);
    case OperandKind::PairLiteralIntegerIdRef:
      QOVRIN_TRY(appendCaseLiteral(context, words, tokenizer));
      return appendId(words, tokenizer, named);
    default:
      return fail(Error::UnknownOperand);
  }
}

}  // namespace

qovrin::Status appendOperand(const ParseContext& context, std::vector<std::uint32_t>& words, Tokenizer& tokenizer,
                             std::uint16_t kind, ResultType result_type, NamedIds& named) {
  switch (text_tables::classOf(kind)) {
    case KindClass::Id:
      return appendId(words, tokenizer, named);
    case KindClass::Integer:
      return appendLiteralWord(words, tokenizer);
    case KindClass::Float: {
      const auto token = takeToken(tokenizer);
      if (!token) return fail(token.error());
      const auto bits = parseFloat32(*token);
      if (!bits) return fail(bits.error());
      words.push_back(*bits);
      return {};
    }
    case KindClass::String: {
      const auto token = takeToken(tokenizer);
      if (!token) return fail(token.error());
      return appendString(words, *token);
    }
    case KindClass::ContextNumber: {
      const auto token = takeToken(tokenizer);
      if (!token) return fail(token.error());
      const auto type = result_type.present ? context.scalar_types.find(result_type.id) : std::nullopt;
      return appendTypedNumber(words, *token, type);
    }
    case KindClass::ExtInst:
      return appendExtInst(context, words, tokenizer, result_type, named);
    case KindClass::SpecConstantOp:
      return appendSpecConstantOp(context, words, tokenizer, result_type, named);
    case KindClass::Pair:
      return appendPair(context, words, tokenizer, kind, named);
    case KindClass::Bits:
      return appendMask(context, words, tokenizer, kind, result_type, named);
    case KindClass::Value:
      return appendEnumerant(context, words, tokenizer, kind, result_type, named);
  }
  return fail(Error::UnknownOperand);
}

qovrin::Status appendDynamicOperands(const ParseContext& context, std::vector<std::uint32_t>& words,
                                     Tokenizer& tokenizer, std::span<const text_tables::OperandDescriptor> operands,
                                     ResultType result_type, NamedIds& named) {
  for (const auto& operand : operands) {
    switch (operand.quantifier) {
      case Quantifier::one:
        QOVRIN_TRY(appendOperand(context, words, tokenizer, operand.kind, result_type, named));
        break;
      case Quantifier::optional:
        if (tokenizer.hasMore()) QOVRIN_TRY(appendOperand(context, words, tokenizer, operand.kind, result_type, named));
        break;
      case Quantifier::variadic:
        while (tokenizer.hasMore())
          QOVRIN_TRY(appendOperand(context, words, tokenizer, operand.kind, result_type, named));
        break;
    }
  }
  return {};
}

}  // namespace spirv_encoder::text
