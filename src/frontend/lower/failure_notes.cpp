#include "frontend/lower/failure_notes.hpp"

#include <algorithm>
#include <deque>
#include <initializer_list>
#include <limits>
#include <optional>
#include <string>
#include <unordered_map>

#include "common/ascii.hpp"
#include "common/display_text.hpp"
#include "common/little_endian.hpp"
#include "data/toml_parser.hpp"
#include "frontend/lower/api.hpp"
#include "frontend/lower/arguments.hpp"
#include "frontend/lower/call_syntax_notes.hpp"
#include "frontend/lower/deferred.hpp"
#include "frontend/lower/diagnostic_format.hpp"
#include "frontend/lower/expression_bridge.hpp"
#include "frontend/lower/expression_materialization.hpp"
#include "frontend/lower/macro.hpp"
#include "frontend/lower/quote_notes.hpp"
#include "frontend/lower/root.hpp"
#include "frontend/lower/value_function.hpp"
#include "frontend/meta_std/digest_library.hpp"
#include "frontend/meta_std/meta_data_eval.hpp"
#include "frontend/meta_std/meta_std.hpp"
#include "frontend/syntax/expr.hpp"
#include "frontend/syntax/expr_number.hpp"
#include "frontend/syntax/identifier.hpp"
#include "frontend/syntax/lexer.hpp"
#include "frontend/syntax/parser.hpp"
#include "frontend/syntax/expr_builtin_names.hpp"
#include "frontend/evaluate/expr_eval.hpp"
#include "frontend/values/type_name.hpp"
#include "frontend/values/typecheck.hpp"
#include "riscv_encoder/tables.hpp"
#include "x86_encoder/tables.hpp"

namespace frontend::lower::failure_notes {

using diagnostic::Note;
using expr::Node;
using expr::NodeKind;
using qovrin::Error;

namespace {

constexpr std::string_view kBlanks = " \t\r\n";

std::string quoted(std::string_view text) { return qovrin::quotedSubject(text); }

std::vector<Note> oneNote(std::string text) { return {{std::move(text), std::nullopt}}; }

// The search evaluates parts of the statement again, value functions with
// them; what their print, warn and err calls record was said the first time.
class MutedDiagnostics {
 public:
  explicit MutedDiagnostics(module::Module& module)
      : store_(module.diagnostics()), count_(module.diagnostics().diagnostics().size()) {}
  ~MutedDiagnostics() { store_.truncate(count_); }
  MutedDiagnostics(const MutedDiagnostics&) = delete;
  MutedDiagnostics& operator=(const MutedDiagnostics&) = delete;

 private:
  diagnostic::DiagnosticStore& store_;
  std::size_t count_;
};

// Everything one question about the failed statement needs.
struct Asking {
  module::Module& module;
  context::LowerContext& context;
  const contracts::ActiveOutput& cursor;

  // Evaluated as lowering would, but with the evaluator's own error codes,
  // which tell an argument count from an argument kind.
  qovrin::Result<value::Value> evaluate(const Node& node) const { return expr::evaluateValue(node, evaluation()); }
  qovrin::Result<value::Value> evaluate(const expr::BuiltinArgument& argument) const {
    return expr::evaluateBuiltinValueArg(argument, evaluation());
  }
  expr::EvaluationContext evaluation() const {
    return expression_bridge::evaluationContextAt(module, context, cursor, context.hooks);
  }
};

// The statement's expression trees, in source order; conditions written as
// text are parsed into `parsed`, which keeps them alive.
std::vector<const Node*> expressionsOf(const ast::Statement& statement, std::deque<Node>& parsed) {
  std::vector<const Node*> roots;
  const auto fromValue = [&](const ast::StructLiteralValue& value) {
    if (!ast::isStructLiteral(value)) roots.push_back(&ast::expressionOf(value));
  };
  const auto fromText = [&](std::string_view text) {
    if (auto tree = expr::parseOwned(text)) roots.push_back(&parsed.emplace_back(std::move(*tree)));
  };
  if (const auto* call = std::get_if<ast::ApiCallStatement>(&statement.payload)) {
    for (const ast::ApiCallArgument& argument : call->arguments)
      if (const Node* node = argument.expression()) roots.push_back(node);
  } else if (const auto* declaration = std::get_if<ast::ValueDeclarationStatement>(&statement.payload)) {
    fromValue(declaration->initializer);
  } else if (const auto* assignment = std::get_if<ast::AssignmentStatement>(&statement.payload)) {
    fromValue(assignment->value);
  } else if (const auto* condition = std::get_if<ast::MetaIfStatement>(&statement.payload)) {
    fromText(condition->condition);
  } else if (const auto* loop = std::get_if<ast::MetaWhileStatement>(&statement.payload)) {
    fromText(loop->condition);
  } else if (const auto* returned = std::get_if<ast::ReturnStatement>(&statement.payload)) {
    roots.push_back(&returned->value);
  }
  return roots;
}

// Every node of the trees with its parts before it, so that the first
// failing node met is the innermost one.
void innermostFirst(const Node& node, std::vector<const Node*>& out) {
  switch (node.kind()) {
    case NodeKind::binary: {
      const expr::LeftChain chain(node);
      innermostFirst(chain.first(), out);
      for (std::size_t index = 0; index + 1 < chain.size(); ++index) {
        innermostFirst(chain.link(index).right(), out);
        out.push_back(&chain.link(index));
      }
      innermostFirst(node.right(), out);
      break;
    }
    case NodeKind::unary:
    case NodeKind::field_access:
      innermostFirst(node.left(), out);
      break;
    case NodeKind::builtin_call:
      for (const expr::BuiltinArgument& argument : node.arguments())
        if (argument.kind() == expr::BuiltinArgument::Kind::expression) innermostFirst(argument.node(), out);
      break;
    default:
      break;
  }
  out.push_back(&node);
}

std::vector<const Node*> allNodes(const std::vector<const Node*>& roots) {
  std::vector<const Node*> nodes;
  for (const Node* root : roots) innermostFirst(*root, nodes);
  return nodes;
}

// The first node that fails with `error` while its own parts evaluate.
const Node* innermostFailing(const Asking& asking, const std::vector<const Node*>& nodes, Error error,
                             qovrin::Error* raw = nullptr) {
  // What is known of each operation met, until the one whose left operand it
  // is takes it: so each link of a long chain is looked at once, not again
  // with everything below it.
  struct Operation {
    bool loads = false;
    std::optional<value::Value> value;
  };
  std::unordered_map<const Node*, Operation> below;
  for (const Node* node : nodes) {
    if (node->kind() != NodeKind::identifier && node->kind() != NodeKind::builtin_call &&
        node->kind() != NodeKind::binary && node->kind() != NodeKind::unary)
      continue;
    const bool binary = node->kind() == NodeKind::binary;
    const bool link = binary && below.contains(&node->left());
    Operation left;
    if (link) left = std::move(below.extract(&node->left()).mapped());
    if (link ? left.loads || expr::usesOutputLoad(node->right()) : expr::usesOutputLoad(*node)) {
      if (binary) below.emplace(node, Operation{true, std::nullopt});
      continue;
    }
    auto value = left.value ? expr::evaluateLink(*node, *left.value, asking.evaluation()) : asking.evaluate(*node);
    if (value) {
      if (binary) below.emplace(node, Operation{false, std::move(*value)});
      continue;
    }
    if (expression_bridge::mapExpressionError(value.error()) != error) return nullptr;
    if (raw != nullptr) *raw = value.error();
    return node;
  }
  return nullptr;
}

// The first line below `from` in its source whose trimmed text `matches`.
template <typename Matches>
std::optional<SourceLocation> lineBelow(const module::Module& module, const SourceLocation& from,
                                        const Matches& matches) {
  if (!from.span.source || *from.span.source >= module.sources().size()) return std::nullopt;
  const std::string_view text = module.sources()[*from.span.source].text;
  // Any line end: LF, CR LF (an empty line between) or a lone CR.
  std::size_t line = text.find_first_of("\r\n", std::min<std::size_t>(from.span.start, text.size()));
  while (line != std::string_view::npos) {
    const std::size_t start = line + 1;
    const std::size_t end = std::min(text.find_first_of("\r\n", start), text.size());
    if (matches(qovrin::trim(text.substr(start, end - start), kBlanks))) {
      const std::size_t column = text.find_first_not_of(kBlanks, start);
      return SourceLocation{
          SourceSpan{from.span.source, static_cast<std::uint32_t>(column), static_cast<std::uint32_t>(end)},
          std::nullopt};
    }
    line = end < text.size() ? end : std::string_view::npos;
  }
  return std::nullopt;
}

// A line "name:" further down the same source: a label the statement could
// not see yet.
std::optional<SourceLocation> laterLabel(const module::Module& module, const SourceLocation& from,
                                         std::string_view name) {
  return lineBelow(module, from, [name](std::string_view content) {
    return content.size() == name.size() + 1 && content.starts_with(name) && content.back() == ':';
  });
}

// A macro operand that stands for a name nothing defines, read through the
// parameter that holds it.
std::optional<std::string> undefinedOperand(const Asking& asking, const qovrin::Result<value::Value>& value,
                                            std::string_view parameter) {
  if (!value || value->asOperand() == nullptr) return std::nullopt;
  const std::string text = value->asOperand()->text();
  const std::string_view name = qovrin::trim(text, kBlanks);
  if (!identifier::isName(name) || asking.module.findSymbol(name) != nullptr) return std::nullopt;
  return quoted(name) + " is not defined (the macro operand given for " + quoted(parameter) + ")";
}

std::vector<Note> operandNotes(const Asking& asking, const std::vector<const Node*>& nodes) {
  for (const Node* node : nodes) {
    std::optional<std::string> note;
    if (node->kind() == NodeKind::identifier) note = undefinedOperand(asking, asking.evaluate(*node), node->text());
    // A bare name ending a builtin's argument is read by the builtin itself.
    if (node->kind() == NodeKind::builtin_call)
      for (const expr::BuiltinArgument& argument : node->arguments())
        if (!note && argument.kind() == expr::BuiltinArgument::Kind::bare_name)
          note = undefinedOperand(asking, asking.evaluate(argument), argument.text());
    if (note) return oneNote(std::move(*note));
  }
  return {};
}

// A function without a return type runs as statements and gives no value, so
// an expression cannot call it; the header shown keeps its own parameters.
std::string statementFunctionAsValue(const ast::MetaFunctionStatement& function) {
  std::string header = "fn " + function.name + "(";
  for (const ast::MetaFunctionParam& param : function.params) {
    if (&param != &function.params.front()) header += ", ";
    if (param.is_mutable) header += "let ";
    header += param.name;
    if (param.type_name) header += ": " + *param.type_name;
  }
  header += ") -> u64 {";
  return quoted(function.name) + " is a statement function, which gives no value; a function used in an " +
         "expression is declared with a return type and ends in 'return': " + quoted(header) + " ... 'return ...' " +
         "... '}'";
}

// With name_shown the message itself already names the undefined name.
std::vector<Note> undefinedNotes(const Asking& asking, const SourceLocation& location,
                                 const std::vector<const Node*>& nodes, bool name_shown = false) {
  const Node* failing = innermostFailing(asking, nodes, Error::UndefinedSymbol);
  if (failing == nullptr) return operandNotes(asking, nodes);
  if (failing->kind() == NodeKind::builtin_call) {
    // A known function whose body reads an undefined name fails the same way.
    const std::string_view name = failing->text();
    if (expr::isBuiltinName(name) || asking.module.metaFunctions().find(name)) return operandNotes(asking, nodes);
    if (const auto index = asking.context.functions.find(name))
      return oneNote(statementFunctionAsValue(asking.context.functions.at(*index)));
    return {{"there is no builtin or function named " + quoted(name), std::nullopt}};
  }
  if (failing->kind() != NodeKind::identifier) return {};
  const std::string_view name = failing->text();
  std::vector<Note> notes;
  if (!name_shown) notes.push_back({quoted(name) + " is not defined", std::nullopt});
  if (const auto label = laterLabel(asking.module, location, name))
    notes.push_back({quoted(name) + " is a label defined further down; data and meta expressions cannot read "
                                    "labels defined later, but a 'defer' block can",
                     *label});
  return notes;
}

// The name a statement defines: a label line, label.define("name"), let or const.
std::optional<std::string> definedName(const Asking& asking, const ast::Statement& statement) {
  if (const auto* label = std::get_if<ast::LabelStatement>(&statement.payload)) return label->name;
  if (const auto* declaration = std::get_if<ast::ValueDeclarationStatement>(&statement.payload))
    return declaration->name;
  const auto* call = std::get_if<ast::ApiCallStatement>(&statement.payload);
  if (call == nullptr || call->name != "label.define" || call->arguments.empty()) return std::nullopt;
  auto name = root::sourcePathArgAtContext(asking.module, asking.context, asking.cursor, *call, 0);
  if (!name) return std::nullopt;
  return std::move(*name);
}

std::vector<Note> duplicateNotes(const Asking& asking, const ast::Statement& statement) {
  const auto name = definedName(asking, statement);
  if (!name) return {};
  std::vector<Note> notes{{quoted(*name) + " is already defined", std::nullopt}};
  const symbol::Symbol* first = asking.module.findSymbol(*name);
  if (first == nullptr || !first->location().span.source) return notes;
  notes.push_back({"first definition of " + quoted(*name), first->location()});
  // The same file read twice defines all its names twice.
  const auto& sources = asking.module.sources();
  const auto here = statement.location().span.source;
  const auto there = *first->location().span.source;
  if (here && *here != there && *here < sources.size() && there < sources.size() &&
      sources[*here].path == sources[there].path && !asking.context.include_calls.empty())
    notes.push_back({quoted(sources[*here].path) + " is included a second time here; import reads a file only once",
                     asking.context.include_calls.back()});
  return notes;
}

// The first call of one of the named builtins that fails when asked again.
const Node* failingCall(const Asking& asking, const std::vector<const Node*>& nodes,
                        std::initializer_list<std::string_view> names) {
  for (const Node* node : nodes)
    if (node->kind() == NodeKind::builtin_call && std::ranges::find(names, node->text()) != names.end() &&
        !asking.evaluate(*node))
      return node;
  return nullptr;
}

// A call's argument as the text or the integer it holds, when it holds one.
std::optional<std::string> stringArgument(const Asking& asking, const Node& call, std::size_t index) {
  if (index >= call.arguments().size()) return std::nullopt;
  const auto value = asking.evaluate(call.arguments()[index]);
  if (!value || value->asString() == nullptr) return std::nullopt;
  return *value->asString();
}

std::optional<std::uint64_t> integerArgument(const Asking& asking, const Node& call, std::size_t index) {
  if (index >= call.arguments().size()) return std::nullopt;
  const auto value = asking.evaluate(call.arguments()[index]);
  if (!value || value->asInteger() == nullptr) return std::nullopt;
  return value->asInteger()->word;
}

// The path that a file builtin of the statement was given and could not read.
std::optional<std::string> failingBuiltinPath(const Asking& asking, const std::vector<const Node*>& nodes) {
  const Node* call =
      failingCall(asking, nodes, {"fs.read_bytes", "fs.read_text", "json.file", "toml.file", "fs.list_dir"});
  return call != nullptr ? stringArgument(asking, *call, 0) : std::nullopt;
}

// "line 2, column 5" of a text, at a byte offset.
std::string placeIn(std::string_view text, std::size_t offset) {
  std::size_t line = 1;
  std::size_t start = 0;
  for (std::size_t at = 0; at < offset && at < text.size(); ++at) {
    if (text[at] != '\n' && (text[at] != '\r' || (at + 1 < text.size() && text[at + 1] == '\n'))) continue;
    ++line;
    start = at + 1;
  }
  return "line " + std::to_string(line) + ", column " + std::to_string(offset - start + 1);
}

// A window of fs.read_bytes or emit.file that does not lie inside its file:
// the file's size.
std::vector<Note> windowNotes(const Asking& asking, const ast::Statement& statement,
                              const std::vector<const Node*>& nodes) {
  const meta_io::MetaFileHooks& files = asking.context.file_hooks;
  if (!files.available || !files.read) return {};
  std::optional<std::string> path;
  std::optional<std::uint64_t> offset;
  std::optional<std::uint64_t> length;
  const auto* emitted = std::get_if<ast::ApiCallStatement>(&statement.payload);
  if (emitted != nullptr && emitted->name == "emit.file" && emitted->arguments.size() == 3) {
    const auto integer = [&](std::size_t index) -> std::optional<std::uint64_t> {
      const auto value = root::integerArgAtContext(asking.module, asking.context, asking.cursor, *emitted, index);
      return value ? std::optional(*value) : std::nullopt;
    };
    if (auto written = root::sourcePathArgAtContext(asking.module, asking.context, asking.cursor, *emitted, 0))
      path = std::move(*written);
    offset = integer(1);
    length = integer(2);
  } else if (const Node* call = failingCall(asking, nodes, {"fs.read_bytes"});
             call != nullptr && call->arguments().size() == 3) {
    path = stringArgument(asking, *call, 0);
    offset = integerArgument(asking, *call, 1);
    length = integerArgument(asking, *call, 2);
  }
  if (!path || !offset || !length) return {};
  const auto whole = files.read(*path, files.base_path, std::nullopt, meta_std::kMaxResultBytes);
  if (!whole) return {};
  return oneNote("the window of " + std::to_string(*length) + " bytes at offset " + std::to_string(*offset) +
                 " does not lie inside " + quoted(*path) + ", which holds " + std::to_string(whole->size()) +
                 " bytes");
}

// A digest builtin that failed because libcrypto could not be loaded.
std::vector<Note> digestNotes(const Asking& asking, const std::vector<const Node*>& nodes) {
  if (meta_std::digest_library::digestCalls() != nullptr) return {};
  const Node* call = failingCall(asking, nodes, {"crypto.sha1", "crypto.sha256"});
  if (call == nullptr) return {};
  std::string cause;
  qovrin::appendPrintable(cause, meta_std::digest_library::loadFailure());
  return oneNote(quoted(call->text()) + " needs " + meta_std::digest_library::libraryName() +
                 ", which could not be loaded: " + cause);
}

// The text a json.file or toml.file call read, as it read it.
std::optional<std::string> fileDocument(const Asking& asking, const std::string& path) {
  const meta_io::MetaFileHooks& files = asking.context.file_hooks;
  if (!files.available || !files.read) return std::nullopt;
  const auto bytes = files.read(path, files.base_path, std::nullopt, meta_std::kMaxResultBytes);
  if (!bytes) return std::nullopt;
  return std::move(*bytes);
}

// Where json.parse or toml.parse stopped in the text it was given, or
// json.file or toml.file in the file it read.
std::vector<Note> documentNotes(const Asking& asking, const std::vector<const Node*>& nodes) {
  const Node* call = failingCall(asking, nodes, {"json.parse", "toml.parse", "json.file", "toml.file"});
  auto document = call != nullptr ? stringArgument(asking, *call, 0) : std::nullopt;
  if (!document) return {};
  const bool in_file = call->text().ends_with(".file");
  const std::string of = in_file ? " of " + quoted(*document) + ": " : " of its text: ";
  if (in_file) document = fileDocument(asking, *document);
  if (!document) return {};
  const std::string prefix = quoted(call->text()) + " stopped at ";
  if (call->text().starts_with("json.")) {
    const auto offset = meta_data::jsonStopOffset(*document);
    if (!offset) return {};
    std::string what = "the text ends where JSON needs more";
    if (*offset < document->size()) {
      what = "'";
      qovrin::appendPrintable(what, std::string_view(*document).substr(*offset, 1));
      what += "' cannot stand there";
    }
    return oneNote(prefix + placeIn(*document, *offset) + of + what);
  }
  data::toml_parser::TextPosition at;
  if (data::toml_parser::parse(*document, &at)) return {};
  return oneNote(prefix + "line " + std::to_string(at.line) + ", column " + std::to_string(at.column) + of +
                 data::toml_parser::describeStop(*document, at));
}

std::vector<Note> fileNotes(const Asking& asking, const ast::Statement& statement, const std::vector<const Node*>& nodes) {
  const auto* call = std::get_if<ast::ApiCallStatement>(&statement.payload);
  std::optional<std::string> name;
  if (call != nullptr && !call->arguments.empty() &&
      (call->name == "include" || call->name == "import" || call->name == "emit.file")) {
    auto written = root::sourcePathArgAtContext(asking.module, asking.context, asking.cursor, *call, 0);
    if (written) name = std::string(*written);
  } else {
    name = failingBuiltinPath(asking, nodes);
  }
  if (!name) return {};
  if (!asking.context.paths.files_available)
    return {{quoted(*name) + " cannot be read: file access is not available here", std::nullopt}};
  contracts::IncludeRequest request;
  request.name = *name;
  if (!asking.context.include_stack.empty()) request.base = asking.context.include_stack.back().path;
  if (asking.context.paths.unreadable_include)
    if (const auto cause = asking.context.paths.unreadable_include(request))
      return oneNote(quoted(*name) + " cannot be read: " + *cause);
  std::vector<std::string> folders;
  if (asking.context.paths.include_folders) folders = asking.context.paths.include_folders(request);
  if (folders.empty()) return {{quoted(*name) + " cannot be read", std::nullopt}};
  std::string note = quoted(*name) + " was not found; searched ";
  for (std::size_t index = 0; index < folders.size(); ++index) {
    if (index > 0) note += ", ";
    note += folders[index];
  }
  return {{note, std::nullopt}};
}

// The calls whose values must fit their field: bytes per value, the first
// argument that is a value (a store's first names the place, padding's
// first its size) and what the field is called.
struct IntegerCall {
  std::string_view name;
  unsigned width;
  std::size_t first_value;
  std::string_view field = "field";
};

constexpr IntegerCall kIntegerCalls[] = {
    {"emit.u8", 1, 0},
    {"emit.u16", 2, 0},
    {"emit.u32", 4, 0},
    {"db", 1, 0},
    {"dw", 2, 0},
    {"dd", 4, 0},
    {"dp", 6, 0},
    {"store.u8", 1, 1},
    {"store.u16", 2, 1},
    {"store.u32", 4, 1},
    {"pad", 1, 1, "fill byte"},
    {"pad_to", 1, 1, "fill byte"},
    {"align", 1, 1, "fill byte"},
};

std::vector<Note> integerNotes(const Asking& asking, const ast::Statement& statement) {
  const auto* call = std::get_if<ast::ApiCallStatement>(&statement.payload);
  if (call == nullptr) return {};
  const auto found =
      std::ranges::find_if(kIntegerCalls, [&](const IntegerCall& entry) { return entry.name == call->name; });
  if (found == std::end(kIntegerCalls)) return {};
  for (std::size_t index = found->first_value; index < call->arguments.size(); ++index) {
    const Node* node = call->arguments[index].expression();
    if (node == nullptr) continue;
    const auto value = asking.evaluate(*node);
    if (!value || value->asInteger() == nullptr) continue;
    const std::uint64_t word = value->asInteger()->word;
    if (qovrin::fitsIntegerWidth(word, found->width)) continue;
    // A negative value reads as the user wrote it, not as its 64-bit word.
    const std::string shown = static_cast<std::int64_t>(word) < 0
                                  ? std::to_string(static_cast<std::int64_t>(word))
                                  : std::to_string(word);
    return {{shown + " does not fit the " + std::to_string(8 * found->width) + "-bit " + std::string(found->field) +
                 " of " + call->name,
             std::nullopt}};
  }
  return {};
}

// Whether a library builtin refuses `count` arguments whatever they hold: the
// library checks the count before any argument's kind, so stand-ins of no
// kind fail on the count alone.
bool refusesCount(meta_std::MetaStdBuiltin builtin, std::size_t count) {
  const std::vector<value::Value> stand_ins(count);
  const auto result = meta_std::callBuiltin(builtin, std::span<const value::Value>(stand_ins));
  return !result && result.error() == Error::InvalidArgument;
}

// An arithmetic operation that left the 64-bit unsigned range, or operands
// of kinds the operator does not take.
std::optional<std::string> binaryNote(const Asking& asking, const Node& node, Error raw) {
  const auto left = asking.evaluate(node.left());
  const auto right = asking.evaluate(node.right());
  if (!left || !right) return std::nullopt;
  // Operations render parenthesised; the outer pair adds nothing here.
  const std::string rendered = deferred::renderExpressionSource(node);
  const std::string shown = quoted(std::string_view(rendered).substr(1, rendered.size() - 2));
  const bool integers = left->asInteger() != nullptr && right->asInteger() != nullptr;
  if (raw == Error::InvalidNumber && integers) {
    if (node.binaryOperator() != expr::BinaryOperator::subtract)
      return "integer overflow: meta integers have 64 bits (in " + shown + ")";
    const std::string values =
        std::to_string(left->asInteger()->word) + " - " + std::to_string(right->asInteger()->word);
    return "integer underflow: meta integers are unsigned (" +
           (shown == quoted(values) ? values : shown + " is " + values) + ")";
  }
  if (raw != Error::TypeMismatch) return std::nullopt;
  if (left->asString() != nullptr && right->asString() != nullptr && node.binaryOperator() == expr::BinaryOperator::add)
    return "strings do not join with '+' (in " + shown + "); sym.join(a, b) joins them";
  return "the operands of " + shown + " are of kinds the operator does not take";
}

std::optional<std::string> missingKeyNote(const Asking& asking, const Node& call) {
  if (call.text() != "map.get" || call.arguments().size() != 2) return std::nullopt;
  std::vector<value::Value> values;
  for (const expr::BuiltinArgument& argument : call.arguments()) {
    auto value = asking.evaluate(argument);
    if (!value) return std::nullopt;
    values.push_back(std::move(*value));
  }
  const value::MapValue* map = values[0].asMap();
  const std::string* key = values[1].asString();
  if (map == nullptr || key == nullptr || map->find(*key) != nullptr) return std::nullopt;
  return "the map has no key " + quoted(*key) + "; map.get_or(map, key, default) gives a default instead";
}

std::vector<Note> expressionNotes(const Asking& asking, const std::vector<const Node*>& nodes) {
  Error raw = Error::InvalidExpression;
  const Node* failing = innermostFailing(asking, nodes, Error::InvalidExpression, &raw);
  if (failing == nullptr || failing->kind() == NodeKind::binary) {
    if (auto notes = operandNotes(asking, nodes); !notes.empty() || failing == nullptr) return notes;
    if (auto note = binaryNote(asking, *failing, raw)) return oneNote(std::move(*note));
    return {};
  }
  if (failing->kind() != NodeKind::builtin_call) return {};
  const std::string name = quoted(failing->text());
  const std::size_t count = failing->arguments().size();
  if (const auto builtin = meta_std::lookupBuiltin(failing->text())) {
    if (raw == Error::InvalidArgument && refusesCount(*builtin, count))
      return oneNote(name + " does not take " + std::to_string(count) + (count == 1 ? " argument" : " arguments"));
    if (raw == Error::TypeMismatch) return oneNote("an argument of " + name + " is not of the kind it takes");
    if (auto note = missingKeyNote(asking, *failing)) return oneNote(std::move(*note));
  } else if (asking.module.metaFunctions().find(failing->text())) {
    if (auto note =
            root::explainValueFunctionCall(asking.context, failing->text(), failing->arguments(), asking.evaluation()))
      return oneNote(std::move(*note));
  }
  return oneNote(name + " failed with " + std::string(qovrin::errorName(raw)));
}

// An operand slice that does not lie inside its operand.
std::optional<std::string> sliceNote(const Asking& asking, const Node& call) {
  if (call.text() != "operand.slice" || call.arguments().size() != 3) return std::nullopt;
  const auto operand = asking.evaluate(call.arguments()[0]);
  const auto start = integerArgument(asking, call, 1);
  const auto end = integerArgument(asking, call, 2);
  if (!operand || operand->asOperand() == nullptr || !start || !end) return std::nullopt;
  const std::string text = operand->asOperand()->text();
  const std::string range = std::to_string(*start) + ".." + std::to_string(*end);
  if (*end < *start) return "operand.slice: the range " + range + " ends before it starts";
  return "operand.slice: the range " + range + " does not lie inside the operand " + quoted(text) + ", which has " +
         std::to_string(text.size()) + (text.size() == 1 ? " character" : " characters");
}

// A builtin that refused what it was given: a macro operand it was handed
// is not to blame unless the builtin read it as a name (operand.eval).
std::vector<Note> argumentNotes(const Asking& asking, const std::vector<const Node*>& nodes) {
  const Node* failing = innermostFailing(asking, nodes, Error::InvalidApiArgument);
  if (failing == nullptr || failing->kind() != NodeKind::builtin_call || failing->text() == "operand.eval" ||
      !expr::isBuiltinName(failing->text()))
    return operandNotes(asking, nodes);
  if (auto note = sliceNote(asking, *failing)) return oneNote(std::move(*note));
  return oneNote(quoted(failing->text()) + " refused its arguments (InvalidApiArgument)");
}

std::string argumentCount(std::size_t count) {
  return std::to_string(count) + (count == 1 ? " argument" : " arguments");
}

std::string valueText(const value::Value& value) {
  std::string text;
  diagnostic_format::appendValueText(text, value);
  return text;
}

// Why a local that is not a let cannot be assigned.
std::string immutableLocalNote(const context::MetaLocal& local) {
  const std::string name = quoted(local.name);
  const std::string copy = "; 'let copy = " + local.name + "' gives a copy that can be";
  switch (local.kind) {
    case context::LocalKind::loop_variable:
      return name + " is the variable of a 'for' loop, which takes each item in turn and cannot be assigned" + copy;
    case context::LocalKind::macro_parameter:
      return name + " is a macro parameter, which stands for its operand and cannot be assigned" + copy;
    case context::LocalKind::parameter:
      return name + " is a parameter of the function; written 'let " + local.name +
             "' in the parameter list it can be assigned";
    case context::LocalKind::declared:
      break;
  }
  return name + " is a const; declare it with 'let' to assign to it";
}

// An assignment to a name that cannot take one.
std::vector<Note> assignmentNotes(const Asking& asking, const ast::AssignmentStatement& assignment) {
  const std::string name = quoted(assignment.target);
  for (auto scope = asking.context.scopes.rbegin(); scope != asking.context.scopes.rend(); ++scope)
    if (const context::MetaLocal* local = scope->find(assignment.target))
      return local->is_mutable ? std::vector<Note>{} : oneNote(immutableLocalNote(*local));
  const symbol::Symbol* symbol = asking.module.findSymbol(assignment.target);
  if (symbol == nullptr) return oneNote(name + " is not declared; 'let " + assignment.target + " = ...' declares it");
  const SourceLocation defined = symbol->location();
  const auto* target = symbol->value();
  if (target == nullptr) return {{name + " is a label, not a value", std::nullopt}, {"defined here", defined}};
  if (target->is_mutable) return {};
  // Only the project file's defines are bound before any source is read.
  if (!defined.span.source)
    return oneNote(name +
                   " is set by the [defines] table of qovrin.toml, which a source cannot assign to; 'let copy = " +
                   assignment.target + "' gives a copy that can be");
  return {{name + " is a const; declare it with 'let' to assign to it", std::nullopt}, {"declared here", defined}};
}

// A declaration annotated with a name that is no type.
std::vector<Note> annotationNotes(const Asking& asking, const ast::ValueDeclarationStatement& declaration) {
  if (!declaration.type_name) return {};
  const auto annotation = typecheck::annotationFromName(asking.module.typeTables(), *declaration.type_name);
  if (!annotation || *annotation) return {};
  return oneNote(quoted(*declaration.type_name) + " is not a type name; the type names are " +
                 typecheck::annotationNames() +
                 ", the fixed-width integers u8, u16, u32, u64, i8, i16, i32 and i64, and declared struct and union "
                 "names");
}

std::vector<Note> forNotes(const Asking& asking, const ast::MetaForRangeStatement& loop) {
  const auto first = asking.evaluate(loop.source.first);
  if (!first) return {};
  if (!loop.source.single()) {
    const auto last = asking.evaluate(*loop.source.second);
    if (!last || first->asInteger() == nullptr || last->asInteger() == nullptr) return {};
    return oneNote("range(" + valueText(*first) + ", " + valueText(*last) + ") ends before it starts");
  }
  if (first->asList() != nullptr) return {};
  const std::string neither = "'for' runs over range(a, b) or a list, and ";
  if (first->asMap() != nullptr) {
    const std::string rendered = deferred::renderExpressionSource(loop.source.first);
    return oneNote(neither + "a map is neither; write map.keys(" + rendered + ") for its keys or map.values(" +
                   rendered + ") for its values");
  }
  if (const std::string* text = first->asString())
    return oneNote(neither + "the string " + quoted(*text) + " is neither");
  if (first->asInteger() == nullptr) return oneNote(neither + valueText(*first) + " is neither");
  return oneNote(neither + valueText(*first) + " is neither; write range(0, " + valueText(*first) + ")");
}

// A call of a statement function with the wrong number of arguments.
std::vector<Note> arityNotes(const Asking& asking, const ast::ApiCallStatement& call) {
  const auto index = asking.context.functions.find(call.name);
  if (!index) return {};
  const ast::MetaFunctionStatement& function = asking.context.functions.at(*index);
  return {{quoted(call.name) + " takes " + argumentCount(function.params.size()) + ", " +
               std::to_string(call.arguments.size()) + " given",
           std::nullopt},
          {"defined here", function.location}};
}

// Padding or a reservation that cannot go where the output stands.
std::vector<Note> placementNotes(const Asking& asking, const ast::ApiCallStatement& call) {
  if (call.arguments.empty()) return {};
  const auto count = root::integerArgAtContext(asking.module, asking.context, asking.cursor, call, 0);
  if (!count) return {};
  contracts::ActiveOutput synced = asking.cursor;
  if (!expression_materialization::syncActiveOutput(asking.module, synced)) return {};
  const std::uint64_t reached = std::max(synced.offset, synced.file_cursor);
  const std::string stands = "the output stands at " + std::to_string(reached);
  if (call.name == "pad_to") {
    if (*count >= reached) return {};
    return oneNote("pad_to(" + std::to_string(*count) + ") lies behind the output: " + stands);
  }
  return oneNote(call.name + "(" + std::to_string(*count) +
                 ") reaches past the end of the 64-bit address range: " + stands);
}

bool reservesOrPads(std::string_view name) {
  static constexpr std::string_view kNames[] = {"pad_to", "rb",  "rw",  "rd",   "rq",     "rp",
                                                "rt",     "rdq", "rqq", "rdqq", "reserve"};
  return std::ranges::find(kNames, name) != std::end(kNames);
}

// A struct literal's fields against the struct: an unknown name, a field
// left out, a value wider than its field. Nested literals are looked at too.
std::optional<std::string> literalNote(const Asking& asking, const ast::StructLiteralArgument& literal) {
  const auto id = asking.module.typeNames().find(literal.type_name);
  if (!id) return quoted(literal.type_name) + " is not a type name";
  const types::Type* type = asking.module.types().find(*id);
  const auto* aggregate = type == nullptr ? nullptr : type->getIf<types::AggregateType>();
  if (aggregate == nullptr) return quoted(literal.type_name) + " is not a struct";
  const std::string struct_name = quoted(literal.type_name);
  std::string names;
  for (const types::StructField& field : aggregate->fields) names += (names.empty() ? "" : ", ") + field.name;
  const auto given = [&](std::string_view name) -> const ast::StructLiteralField* {
    for (const ast::StructLiteralField& field : literal.fields)
      if (literal.nameOf(field) == name) return &field;
    return nullptr;
  };
  for (const ast::StructLiteralField& field : literal.fields) {
    const auto declared = std::ranges::find(aggregate->fields, literal.nameOf(field), &types::StructField::name);
    if (declared == aggregate->fields.end())
      return quoted(literal.nameOf(field)) + " is not a field of " + struct_name + " (its fields: " + names + ")";
  }
  for (const types::StructField& field : aggregate->fields) {
    const ast::StructLiteralField* value = given(field.name);
    if (value == nullptr) {
      if (!aggregate->is_union && !field.default_value)
        return "field " + quoted(field.name) + " of " + struct_name + " has no value and no default";
      continue;
    }
    if (ast::isStructLiteral(value->value)) {
      if (auto nested = literalNote(asking, ast::structLiteralOf(value->value))) return nested;
      continue;
    }
    const types::Type* field_type = asking.module.types().find(field.type_id);
    const auto* integer = field_type == nullptr ? nullptr : field_type->getIf<types::IntegerType>();
    if (integer == nullptr) continue;
    const auto word = asking.evaluate(ast::expressionOf(value->value));
    if (!word || word->asInteger() == nullptr || types::integerFits(word->asInteger()->word, *integer)) continue;
    return valueText(*word) + " does not fit field " + quoted(field.name) + " of " + struct_name + ", " +
           std::string(integer->is_signed ? "a signed " : "an unsigned ") + std::to_string(integer->bits) +
           "-bit integer";
  }
  return std::nullopt;
}

std::vector<Note> structLiteralNotes(const Asking& asking, const ast::Statement& statement) {
  std::vector<const ast::StructLiteralValue*> values;
  if (const auto* declaration = std::get_if<ast::ValueDeclarationStatement>(&statement.payload))
    values.push_back(&declaration->initializer);
  else if (const auto* assignment = std::get_if<ast::AssignmentStatement>(&statement.payload))
    values.push_back(&assignment->value);
  for (const ast::StructLiteralValue* value : values) {
    if (!ast::isStructLiteral(*value)) continue;
    if (auto note = literalNote(asking, ast::structLiteralOf(*value))) return oneNote(std::move(*note));
  }
  // A call keeps a literal argument as its text, read again where it is used.
  if (const auto* call = std::get_if<ast::ApiCallStatement>(&statement.payload))
    for (const ast::ApiCallArgument& argument : call->arguments) {
      const auto text = argument.structLiteralText();
      if (!text) continue;
      const auto literal = parser::parseStructLiteralArgument(*text);
      if (!literal) continue;
      if (auto note = literalNote(asking, *literal)) return oneNote(std::move(*note));
    }
  return {};
}

// A struct field whose type name names no type, at the field's own line.
std::vector<Note> fieldTypeNotes(const Asking& asking, const ast::StructDeclarationStatement& declaration) {
  for (const ast::StructDeclarationField& field : declaration.fields) {
    if (type_name::namesType(asking.module.typeNames(), field.type_name)) continue;
    return {{"field " + quoted(field.name) + " has the type " + quoted(field.type_name) +
                 ", which is not a type name (integers are a width such as 'u32'; a struct must be declared before)",
             field.location}};
  }
  return {};
}

std::vector<Note> duplicateMacroNotes(const Asking& asking, const ast::MacroStatement& macro) {
  const std::size_t operands = macro.variadic ? std::numeric_limits<std::size_t>::max() : macro.params.size();
  const macro::MacroEntry* first = asking.context.macros.select(macro.name, operands);
  if (first == nullptr) return {};
  const std::string shape = macro.variadic ? "with a variable operand count"
                                           : "with " + std::to_string(macro.params.size()) +
                                                 (macro.params.size() == 1 ? " operand" : " operands");
  return {{"a macro " + quoted(macro.name) + " " + shape + " is already defined", std::nullopt},
          {"first definition of " + quoted(macro.name), first->statement.location}};
}

// The sources being read when an include names one of them again.
std::vector<Note> cycleNotes(const Asking& asking, const ast::Statement& statement) {
  const auto* call = std::get_if<ast::ApiCallStatement>(&statement.payload);
  const auto& stack = asking.context.include_stack;
  if (call == nullptr || call->arguments.empty() || stack.empty()) return {};
  const auto name = root::sourcePathArgAtContext(asking.module, asking.context, asking.cursor, *call, 0);
  if (!name) return {};
  std::string chain;
  for (const context::IncludeFrame& frame : stack) {
    if (!chain.empty()) chain += ", which includes ";
    chain += quoted(frame.path);
  }
  return oneNote("a source cannot include itself: " + chain + (stack.size() > 1 ? ", which includes " : " includes ") +
                 quoted(*name) + " again");
}

// The nesting limits, by what ran into them.
constexpr std::string_view kExpressionNesting =
    "an expression nests parentheses, calls and unary operators 130 to 400 levels deep (as they mix) and field "
    "accesses 1,000; a chain of operators such as 1 + 1 + ... + 1 is one level however long";
constexpr std::string_view kBlockNesting = "blocks nest at most 1,000 deep";
constexpr std::string_view kValueNesting = "lists, maps and structs nest at most 1,024 levels deep";

// Conditions and the operands of instruction and macro lines are parsed when
// the statement runs; any other expression was parsed before, so what ran
// into a limit there is a value.
std::vector<Note> nestingNotes(const ast::Statement& statement) {
  std::string_view condition;
  if (const auto* branch = std::get_if<ast::MetaIfStatement>(&statement.payload)) condition = branch->condition;
  if (const auto* loop = std::get_if<ast::MetaWhileStatement>(&statement.payload)) condition = loop->condition;
  const auto parsed = expr::parseOwned(condition);
  const bool written = std::holds_alternative<ast::IsaTextStatement>(statement.payload) ||
                       (!parsed && parsed.error() == Error::NestingTooDeep);
  return oneNote(std::string(written ? kExpressionNesting : kValueNesting));
}

}  // namespace

std::vector<Note> statementNotes(module::Module& module, context::LowerContext& context,
                                 const contracts::ActiveOutput& cursor, const ast::Statement& statement, Error error) {
  const Asking asking{module, context, cursor};
  const MutedDiagnostics muted(module);
  std::deque<Node> parsed;
  switch (error) {
    case Error::UndefinedSymbol:
      return undefinedNotes(asking, statement.location(), allNodes(expressionsOf(statement, parsed)));
    case Error::DuplicateSymbol:
      return duplicateNotes(asking, statement);
    case Error::IncludeNotAvailable:
    case Error::FileNotAvailable:
      return fileNotes(asking, statement, allNodes(expressionsOf(statement, parsed)));
    case Error::SyntaxError:
    case Error::Syntax:
    case Error::UnexpectedEndOfInput:
      return documentNotes(asking, allNodes(expressionsOf(statement, parsed)));
    case Error::ReadFailed:
      return digestNotes(asking, allNodes(expressionsOf(statement, parsed)));
    case Error::MetaLoopLimitExceeded:
      return oneNote("a 'while' or 'for' loop stops after 1,000,000 rounds");
    case Error::InvalidApiInteger:
    case Error::OffsetOverflow: {
      // A fill byte is checked before the place the padding reaches.
      if (auto notes = integerNotes(asking, statement); !notes.empty()) return notes;
      const auto* call = std::get_if<ast::ApiCallStatement>(&statement.payload);
      if (call != nullptr && reservesOrPads(call->name)) return placementNotes(asking, *call);
      if (error == Error::OffsetOverflow) return {};
      auto notes = windowNotes(asking, statement, allNodes(expressionsOf(statement, parsed)));
      return notes.empty() ? structLiteralNotes(asking, statement) : notes;
    }
    case Error::UnknownField:
    case Error::MissingStructFieldValue:
      return structLiteralNotes(asking, statement);
    case Error::UnknownTypeName:
      if (const auto* declaration = std::get_if<ast::StructDeclarationStatement>(&statement.payload))
        return fieldTypeNotes(asking, *declaration);
      return structLiteralNotes(asking, statement);
    case Error::InvalidValueDeclaration:
      if (const auto* declaration = std::get_if<ast::ValueDeclarationStatement>(&statement.payload))
        return annotationNotes(asking, *declaration);
      if (const auto* assignment = std::get_if<ast::AssignmentStatement>(&statement.payload))
        return assignmentNotes(asking, *assignment);
      return {};
    case Error::DuplicateMacro:
      if (const auto* macro = std::get_if<ast::MacroStatement>(&statement.payload))
        return duplicateMacroNotes(asking, *macro);
      return {};
    case Error::IncludeCycle:
      return cycleNotes(asking, statement);
    case Error::InvalidMetaFor:
      if (const auto* loop = std::get_if<ast::MetaForRangeStatement>(&statement.payload))
        return forNotes(asking, *loop);
      return {};
    case Error::InvalidApiArity:
      if (const auto* call = std::get_if<ast::ApiCallStatement>(&statement.payload)) return arityNotes(asking, *call);
      return {};
    case Error::InvalidExpression:
      if (std::holds_alternative<ast::IsaTextStatement>(statement.payload))
        if (auto quote = quote_notes::openQuoteOnLine(module, cursor.target, statement.location()))
          return {std::move(*quote)};
      return expressionNotes(asking, allNodes(expressionsOf(statement, parsed)));
    case Error::InvalidApiArgument:
      return argumentNotes(asking, allNodes(expressionsOf(statement, parsed)));
    case Error::NestingTooDeep:
      return nestingNotes(statement);
    default:
      return {};
  }
}

namespace {

// The failed line's text as the source holds it, from the failure's start.
std::string_view rawLineAt(const module::Module& module, const SourceLocation& location) {
  const auto& span = location.span;
  if (!span.source || *span.source >= module.sources().size()) return {};
  const std::string_view text = module.sources()[*span.source].text;
  if (span.start >= text.size()) return {};
  const std::size_t end = std::min<std::size_t>(std::max(span.end, span.start), text.size());
  return text.substr(span.start, end - span.start);
}

std::string_view lineAt(const module::Module& module, const SourceLocation& location) {
  return qovrin::trim(rawLineAt(module, location), kBlanks);
}

// Where a "//" comment starts on a line, outside quotes, as the line
// reader cuts it.
std::optional<std::size_t> commentStart(std::string_view line) {
  const std::size_t kept = lexer::isaTextBeforeComment(line).size();
  if (kept == line.size()) return std::nullopt;
  return line.find("//", kept);
}

std::string commentAdvice(std::string_view line, std::size_t comment) {
  return "write " + quoted(qovrin::trim(line.substr(comment), kBlanks)) + " on a line of its own";
}

std::optional<std::string> unclosedBlockNote(std::string_view line, Error error) {
  static constexpr std::pair<Error, std::string_view> kBlocks[] = {
      {Error::UnexpectedEndOfMetaIf, "if"},       {Error::UnexpectedEndOfMetaWhile, "while"},
      {Error::UnexpectedEndOfMetaFor, "for"},     {Error::UnexpectedEndOfMetaFunction, "fn"},
      {Error::UnexpectedEndOfMetaDefer, "defer"}, {Error::UnexpectedEndOfLateLayout, "late_layout"},
      {Error::UnexpectedEndOfStruct, "struct"},   {Error::UnexpectedEndOfMetaBlock, "{"},
  };
  for (auto [code, block] : kBlocks) {
    if (code != error) continue;
    // Macros share the function's parser and its end-of-file failure.
    if (code == Error::UnexpectedEndOfMetaFunction && line.starts_with("macro")) block = "macro";
    return "the '" + std::string(block) + "' block opened here has no closing '}' before the end of the file";
  }
  return std::nullopt;
}

// A block keyword written against the '(' of its condition ("while(i < 2) {"),
// which then reads as a call.
std::optional<std::string> keywordBeforeParenNote(std::string_view line) {
  if (line.starts_with("for("))
    return std::string("a loop is written 'for name in range(a, b) {' or 'for name in list {', without parentheses");
  for (const std::string_view keyword : {"if", "while"}) {
    if (line.size() <= keyword.size() || !line.starts_with(keyword) || line[keyword.size()] != '(') continue;
    return quoted(keyword) + " needs a blank before its condition: write " +
           quoted(std::string(keyword) + " " + std::string(line.substr(keyword.size())));
  }
  return std::nullopt;
}

// What an unparsable statement line got wrong: a stray else or '}', an else
// below its block's '}', a keyword against its '(', or a body written on
// its header's line.
std::optional<std::string> statementLineNote(std::string_view line) {
  if (const auto comment = commentStart(line);
      comment && qovrin::trimEnd(line.substr(0, *comment), kBlanks).ends_with('{'))
    return "a block's header line cannot end with a comment: " + commentAdvice(line, *comment);
  if (line.starts_with('}')) {
    const std::string_view rest = qovrin::trim(line.substr(1), kBlanks);
    if (rest.starts_with("else if(")) return keywordBeforeParenNote(rest.substr(5));
    if (rest.starts_with("else") && (line == "} else {" || line.starts_with("} else if ")))
      return std::string("this 'else' follows no 'if' block: the block before it is already closed");
    if (rest.starts_with("else")) return std::string("an else part is written '} else {', with blanks around 'else'");
    return std::string("this '}' closes no open block");
  }
  if (line == "else {" || line.starts_with("else if ")) {
    return "'else' goes on the line of the '}' that closes the 'if' block: write " + quoted("} " + std::string(line)) +
           " there";
  }
  if (auto note = keywordBeforeParenNote(line)) return note;
  const std::size_t open = line.find('{');
  if (open == std::string_view::npos || open + 1 == line.size()) return std::nullopt;
  return "a block's statements start on the line after its header: end this line after " +
         quoted(qovrin::trim(line.substr(0, open + 1), kBlanks)) + " and write " +
         quoted(qovrin::trim(qovrin::trimEnd(line.substr(open + 1), "} \t"), kBlanks)) +
         " and '}' on lines of their own";
}

// The expression texts of a line: what follows '=' in a declaration or an
// assignment, else the arguments of a call, split at the commas between them.
std::vector<std::string_view> expressionTexts(std::string_view line) {
  const std::size_t equals = line.find('=');
  const std::size_t open = line.find('(');
  if (equals != std::string_view::npos && (open == std::string_view::npos || equals < open))
    return {line.substr(equals + 1)};
  if (open == std::string_view::npos || !line.ends_with(')')) return {};
  const std::string_view inside = line.substr(open + 1, line.size() - open - 2);
  std::vector<std::string_view> pieces;
  std::size_t start = 0;
  std::size_t depth = 0;
  char quote = 0;
  for (std::size_t index = 0; index <= inside.size(); ++index) {
    const char c = index < inside.size() ? inside[index] : ',';
    if (quote != 0) {
      if (c == quote) quote = 0;
      continue;
    }
    if (c == '"') quote = c;
    if (c == '(' || c == '[') ++depth;
    if ((c == ')' || c == ']') && depth > 0) --depth;
    if (c != ',' || depth > 0) continue;
    pieces.push_back(inside.substr(start, index - start));
    start = index + 1;
  }
  return pieces;
}

// What a line that failed to parse got wrong as a whole: a comment after a
// value line, or a number that reads as none.
std::optional<std::string> lineSyntaxNote(std::string_view line) {
  const std::size_t equals = line.find('=');
  if (const auto comment = commentStart(line);
      comment && equals != std::string_view::npos && equals < *comment && line.find('(') > equals)
    return "a 'let', 'const' or assignment line cannot end with a comment: " + commentAdvice(line, *comment);
  if (const auto token = expr::unreadableNumberToken(line))
    return quoted(*token) + " does not read as a number: integers have at most 64 bits";
  return std::nullopt;
}

// An expression of the line that ends in an operator with nothing after it.
std::optional<std::string> trailingOperatorNote(std::string_view line) {
  for (const std::string_view piece : expressionTexts(line)) {
    const std::string_view text = qovrin::trim(piece, kBlanks);
    if (text.empty() || std::string_view("+-*/%&|^<>=!~").find(text.back()) == std::string_view::npos) continue;
    if (!expr::parseOwned(text)) return quoted(text) + " ends with an operator that has no operand after it";
  }
  return std::nullopt;
}

// A 'for' header that is no loop: most often a range written as 'a..b'.
std::optional<std::string> forHeaderNote(std::string_view line) {
  if (!line.starts_with("for ") || !line.ends_with('{')) return std::nullopt;
  const std::string_view loop = qovrin::trim(line.substr(4, line.size() - 5), kBlanks);
  const std::size_t in = loop.find(" in ");
  const std::string_view source = in == std::string_view::npos ? std::string_view{} : loop.substr(in + 4);
  const std::size_t dots = source.find("..");
  if (dots == std::string_view::npos)
    return std::string("a 'for' header reads 'for name in range(a, b) {' or 'for name in list {'");
  return quoted(qovrin::trim(source, kBlanks)) + " is no range: write range(" +
         std::string(qovrin::trim(source.substr(0, dots), kBlanks)) + ", " +
         std::string(qovrin::trim(source.substr(dots + 2), kBlanks)) + "), which stops before the second bound";
}

bool isCallNameChar(char c) { return qovrin::isAsciiLetter(c) || qovrin::isAsciiDigit(c) || c == '_' || c == '.'; }

// A call line's own name, a statement call such as emit.u8 or a builtin.
bool isKnownCall(const module::Module& module, std::string_view name) {
  return api::isCallName(name) || expr::isBuiltinName(name) || module.metaFunctions().find(name) ||
         name == "list.push_mut" || name == "list.set_mut" || name == "map.set_mut";
}

// A dotted name called like a builtin that no builtin has, outside quotes.
std::optional<std::string> unknownBuiltinNote(const module::Module& module, std::string_view line) {
  // A call of a known name fails for what its arguments hold.
  const auto called = call_syntax_notes::calledName(line);
  if (called && isKnownCall(module, *called)) line.remove_prefix(called->data() + called->size() - line.data());
  char quote = 0;
  for (std::size_t index = 0; index < line.size(); ++index) {
    const char c = line[index];
    if (quote != 0) {
      if (c == quote) quote = 0;
      continue;
    }
    if (c == '"' || c == '\'') {
      quote = c;
      continue;
    }
    if (!qovrin::isAsciiLetter(c) && c != '_') continue;
    if (index > 0 && isCallNameChar(line[index - 1])) continue;
    std::size_t end = index;
    while (end < line.size() && isCallNameChar(line[end])) ++end;
    const std::string_view name = line.substr(index, end - index);
    index = end - 1;
    if (end >= line.size() || line[end] != '(' || name.find('.') == std::string_view::npos) continue;
    if (expr::isBuiltinName(name) || module.metaFunctions().find(name)) continue;
    return "there is no builtin or function named " + quoted(name);
  }
  return std::nullopt;
}

}  // namespace

std::vector<Note> undefinedNameNotes(module::Module& module, context::LowerContext& context,
                                     const contracts::ActiveOutput& cursor, const SourceLocation& location,
                                     const expr::Node& expression) {
  const MutedDiagnostics muted(module);
  return undefinedNotes(Asking{module, context, cursor}, location, allNodes({&expression}),
                        expression.kind() == NodeKind::identifier);
}

std::vector<Note> unknownCallNotes(const ast::ApiCallStatement& call, target::Target target) {
  std::string name = call.name;
  std::ranges::transform(name, name.begin(), qovrin::lowerAscii);
  const bool instruction = target.isa == target::Isa::x86     ? x86_encoder::tables::findMnemonic(name).has_value()
                           : target.isa == target::Isa::riscv ? !riscv_encoder::tables::rowsOfWritten(name).empty()
                                                              : false;
  // Legacy directive words such as 'db' are in the x86 table but are no instruction here.
  if (!instruction || lexer::classifyTrimmed(name) != lexer::LineKind::isa_text) return {};
  return oneNote(quoted(call.name) + " is an instruction, but a name followed by '(' is read as a call: write " +
                 "its operands without the parentheses around them");
}

// A "}" line with a comment after it, below the header of a block left
// open: the line is read as an instruction, not as the block's end.
std::optional<Note> commentedCloseNote(const module::Module& module, const SourceLocation& header) {
  const auto closing = [](std::string_view content) {
    const auto comment = commentStart(content);
    return content.starts_with('}') && comment && qovrin::trim(content.substr(1, *comment - 1), kBlanks).empty();
  };
  const auto place = lineBelow(module, header, closing);
  if (!place) return std::nullopt;
  const std::string_view content = lineAt(module, *place);
  return Note{"this '}' does not close the block: a '}' line cannot end with a comment; " +
                  commentAdvice(content, *commentStart(content)),
              *place};
}

std::vector<Note> parseNotes(const module::Module& module, const SourceLocation& location, Error error) {
  const std::string_view line = lineAt(module, location);
  std::optional<std::string> note;
  if (unclosedBlockNote(line, error))
    if (auto close = commentedCloseNote(module, location)) return {std::move(*close)};
  if (error == Error::InvalidMetaStatement) {
    note = statementLineNote(line);
  } else if (error == Error::InvalidExpression) {
    // The line's own faults and a name no call has come first, then where
    // the reading of a call's arguments stopped, placed at its column.
    note = lineSyntaxNote(line).or_else([&] { return unknownBuiltinNote(module, line); });
    if (!note)
      if (auto syntax = call_syntax_notes::argumentSyntaxNote(rawLineAt(module, location), location))
        return {std::move(*syntax)};
    if (!note) note = trailingOperatorNote(line);
  } else if (error == Error::InvalidMetaFor) {
    note = forHeaderNote(line);
  } else if (error == Error::NestingTooDeep) {
    note = std::string(line.ends_with('{') ? kBlockNesting : kExpressionNesting);
  } else {
    note = unclosedBlockNote(line, error);
  }
  if (!note) return {};
  return oneNote(std::move(*note));
}

}  // namespace frontend::lower::failure_notes
