#include "frontend/encode/spirv_failure_notes.hpp"

#include <optional>
#include <string>
#include <string_view>

#include "common/ascii.hpp"
#include "common/display_text.hpp"
#include "spirv_encoder/text.hpp"

namespace frontend::pass {

namespace {

// The opcode's name: the first word that is no result id and no '='.
std::optional<std::string_view> opcodeName(std::string_view line) {
  spirv_encoder::text::Tokenizer tokenizer(line);
  while (const auto token = tokenizer.nextRaw())
    if (!token->starts_with('%') && *token != "=") return token;
  return std::nullopt;
}

// An instruction line keeps the characters its source wrote, before bound
// names became numbers; a line that an isa() call or a macro's text spelt is
// told as the encoder read it.
std::string_view writtenLine(const module::Module& module, const fragment::Fragment& piece,
                             std::string_view lowered) {
  const fragment::Instruction* line = piece.instruction();
  const SourceSpan& span = piece.location().span;
  if (line == nullptr || line->text().find('\n') != std::string_view::npos || !span.source) return lowered;
  if (*span.source >= module.sources().size()) return lowered;
  const std::string_view source = module.sources()[*span.source].text;
  if (span.start > span.end || span.end > source.size()) return lowered;
  const std::string_view written = qovrin::trim(source.substr(span.start, span.end - span.start), " \t\r\n");
  if (written.find('\n') != std::string_view::npos || opcodeName(written) != opcodeName(lowered)) return lowered;
  return written;
}

// The first id written as a name: names a const binds became numbers before
// the encoder read the line, so a name still there is bound by none.
std::optional<std::string_view> unboundIdName(std::string_view lowered) {
  spirv_encoder::text::Tokenizer tokenizer(lowered);
  while (const auto token = tokenizer.nextRaw())
    if (token->size() >= 2 && token->front() == '%' && !qovrin::isAsciiDigit((*token)[1])) return token->substr(1);
  return std::nullopt;
}

// A comment mark of another assembler outside every string: the line kept
// it and what follows as operands.
std::optional<char> commentMark(std::string_view lowered) {
  spirv_encoder::text::Tokenizer tokenizer(lowered);
  while (const auto token = tokenizer.nextRaw()) {
    if (token->starts_with('"')) continue;
    if (const std::size_t mark = token->find_first_of(";#"); mark != std::string_view::npos) return (*token)[mark];
  }
  return std::nullopt;
}

}  // namespace

std::vector<diagnostic::Note> spirvFailureNotes(const module::Module& module,
                                                const spirv_encoder::module::ModuleFailure& failure) {
  const auto fragments = module.fragments();
  if (failure.line.empty() || failure.at >= fragments.size()) return {};
  const fragment::Fragment& piece = fragments[failure.at];
  const std::string quoted = qovrin::quotedSubject(writtenLine(module, piece, failure.line));
  const auto unbound = failure.cause == qovrin::Error::InvalidInteger ? unboundIdName(failure.line) : std::nullopt;
  if (unbound) {
    const std::string name(*unbound);
    return {{quoted + " uses the id %" + name + ", which no const binds: an id is a number ('%1') or a name bound "
                 "before its first use ('const " + name + " = 1')",
             piece.location()}};
  }
  if (failure.id) {
    const std::string id = "%" + std::to_string(*failure.id);
    const auto& first = failure.first_definition;
    if (failure.cause == qovrin::Error::DuplicateSymbol && first && *first < fragments.size())
      return {{quoted + " defines the id " + id + " a second time: each result of a module has an id of its own",
               piece.location()},
              {"first definition of " + id, fragments[*first].location()}};
    if (failure.cause == qovrin::Error::UndefinedSymbol)
      return {{quoted + " uses the id " + id + ", which no line of the module defines, before or after it",
               piece.location()}};
  }
  if (const auto mark = commentMark(failure.line))
    return {{qovrin::quotedSubject(std::string_view(&*mark, 1)) +
                 " does not start a comment here: only '//' ends an instruction line",
             piece.location()}};
  return {{quoted + " failed: " + std::string(qovrin::errorName(failure.cause)), piece.location()}};
}

}  // namespace frontend::pass
