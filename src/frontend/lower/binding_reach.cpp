#include "frontend/lower/binding_reach.hpp"

#include <algorithm>
#include <iterator>

#include "frontend/lower/context.hpp"
#include "frontend/lower/reading.hpp"
#include "frontend/syntax/expr_builtin_names.hpp"
#include "frontend/syntax/identifier.hpp"

namespace frontend::lower::binding_reach {

namespace {

using Key = std::pair<Callee, std::uint32_t>;
using NameList = std::vector<std::string_view>;

std::size_t slotOf(Callee callee) noexcept { return static_cast<std::size_t>(callee); }
std::size_t slotOf(Meeting meeting) noexcept { return static_cast<std::size_t>(meeting); }
std::uint64_t packed(Key key) noexcept { return (std::uint64_t{slotOf(key.first)} << 32) | key.second; }

std::string_view spelling(Memo& memo, std::string_view name) {
  auto found = memo.spellings.find(name);
  if (found == memo.spellings.end()) found = memo.spellings.emplace(name).first;
  return *found;
}

std::shared_ptr<Answer>& kept(Memo& memo, Key key) {
  std::vector<std::shared_ptr<Answer>>& answers = memo.answers[slotOf(key.first)];
  if (answers.size() <= key.second) answers.resize(std::size_t{key.second} + 1);
  return answers[key.second];
}

void sortOnce(auto& items) {
  std::ranges::sort(items);
  items.erase(std::ranges::unique(items).begin(), items.end());
}

// A call statement the assembler answers itself when no statement function
// has its name.
bool isOwnCall(std::string_view name) noexcept {
  const auto& mutations = collection_mutation::kMutationNames;
  return api::isCallName(name) || std::ranges::find(mutations, name) != mutations.end();
}

// A macro takes a call statement only when a blank parts its name from the
// "(": written `name(`, it runs the statement function or fails.
bool macroMayTake(const ast::ApiCallStatement& call) noexcept {
  const std::string_view text = call.call_text;
  return text.size() > call.name.size() && text[call.name.size()] != '(';
}

// What one body holds of its own: the names it names, the functions it
// calls, and the names whose definition would change what it reaches.
struct Body {
  bool anything = false;
  NameList names;
  std::vector<Key> callees;
  std::vector<std::pair<Meeting, std::string_view>> waits;
};

// One walk of one body, which stops as soon as anything is reachable: every
// method returns true then.
class Walk {
 public:
  Walk(const context::LowerContext& context, const meta_function::Store& values, Memo& memo)
      : context_(context), values_(values), memo_(memo) {}

  Body body(const ast::StatementList& list) && {
    ++memo_.bodies_walked;
    body_.anything = statements(list);
    // The callees of a body that reaches anything need no following.
    if (body_.anything) body_.callees.clear();
    sortOnce(body_.names);
    sortOnce(body_.callees);
    sortOnce(body_.waits);
    return std::move(body_);
  }

 private:
  bool named(std::string_view word) {
    body_.names.push_back(spelling(memo_, word));
    return false;
  }

  void wait(Meeting meeting, std::string_view name) { body_.waits.emplace_back(meeting, spelling(memo_, name)); }

  // A call in an expression or in text: a builtin runs nothing written
  // elsewhere but a captured operand or the encoding before a load; any
  // other name runs its value function, which may not be defined yet.
  bool valueCall(std::string_view call) {
    if (expr::isBuiltinName(call)) {
      if (call == "operand.eval") return true;
      const auto builtin = expr::findEvaluatorBuiltin(call);
      return builtin && builtin->kind == expr::EvaluatorBuiltinKind::output_load;
    }
    if (const auto index = values_.find(call)) {
      body_.callees.emplace_back(Callee::value_function, *index);
      return false;
    }
    wait(Meeting::value_call, call);
    return true;
  }

  // A word of a statement, a condition or an instruction line, which may
  // expand a macro, or call a value function when a "(" follows it.
  bool word(std::string_view word, bool call) {
    named(word);
    if (context_.macros.contains(word) || word == "include" || word == "import") return true;
    wait(Meeting::word, word);
    return call && valueCall(word);
  }

  bool text(std::string_view text) {
    bool stop = false;
    identifier::forEachNameIn(text, [&](std::string_view name, bool call) { stop = stop || word(name, call); });
    return stop;
  }

  bool argument(const expr::BuiltinArgument& argument) {
    switch (argument.kind()) {
      case expr::BuiltinArgument::Kind::bare_name:
        return named(argument.text());
      case expr::BuiltinArgument::Kind::raw_text:
        return text(argument.text());
      case expr::BuiltinArgument::Kind::expression:
        break;
    }
    return node(argument.node());
  }

  bool node(const expr::Node& node) {
    switch (node.kind()) {
      case expr::NodeKind::identifier:
        return named(node.text());
      case expr::NodeKind::field_access:
      case expr::NodeKind::unary:
        return this->node(node.left());
      case expr::NodeKind::binary: {
        const expr::Node* left = &node;
        for (; left->kind() == expr::NodeKind::binary; left = &left->left())
          if (this->node(left->right())) return true;
        return this->node(*left);
      }
      case expr::NodeKind::builtin_call:
        if (valueCall(node.text())) return true;
        return std::ranges::any_of(node.arguments(),
                                   [this](const expr::BuiltinArgument& argument) { return this->argument(argument); });
      default:
        return false;
    }
  }

  bool value(const ast::StructLiteralValue& value) {
    if (!ast::isStructLiteral(value)) return node(ast::expressionOf(value));
    return std::ranges::any_of(ast::structLiteralOf(value).fields,
                               [this](const ast::StructLiteralField& field) { return this->value(field.value); });
  }

  // A call statement expands a macro, lowers another source, runs the
  // statement function of its name or is the assembler's own; a name that
  // is none of these fails now, but names a function defined later.
  bool call(const ast::ApiCallStatement& call) {
    if (call.name == "include" || call.name == "import") return true;
    if (macroMayTake(call)) {
      if (context_.macros.contains(call.name)) return true;
      wait(Meeting::word, call.name);
    }
    if (const auto index = context_.functions.find(call.name)) {
      body_.callees.emplace_back(Callee::statement_function, *index);
    } else {
      wait(Meeting::statement_call, call.name);
      if (!isOwnCall(call.name)) return true;
    }
    return std::ranges::any_of(call.arguments, [this](const ast::ApiCallArgument& argument) {
      if (const expr::Node* expression = argument.expression()) return node(*expression);
      if (const auto literal = argument.structLiteralText()) return text(*literal);
      return false;
    });
  }

  bool statements(const ast::StatementList& list) {
    return std::ranges::any_of(list, [this](const ast::Statement& statement) { return this->statement(statement); });
  }

  bool statement(const ast::Statement& statement) {
    return std::visit(
        [this](const auto& record) -> bool {
          using Record = std::decay_t<decltype(record)>;
          if constexpr (std::is_same_v<Record, ast::IsaTextStatement>) {
            return text(record.text);
          } else if constexpr (std::is_same_v<Record, ast::ValueDeclarationStatement>) {
            return named(record.name) || value(record.initializer);
          } else if constexpr (std::is_same_v<Record, ast::AssignmentStatement>) {
            return named(record.target) || value(record.value);
          } else if constexpr (std::is_same_v<Record, ast::ApiCallStatement>) {
            return call(record);
          } else if constexpr (std::is_same_v<Record, ast::MetaIfStatement>) {
            return text(record.condition) || statements(record.then_statements) ||
                   statements(record.else_statements);
          } else if constexpr (std::is_same_v<Record, ast::MetaWhileStatement>) {
            return text(record.condition) || statements(record.body);
          } else if constexpr (std::is_same_v<Record, ast::MetaForRangeStatement>) {
            return named(record.variable) || node(record.source.first) ||
                   (record.source.second && node(*record.source.second)) || statements(record.body);
          } else if constexpr (std::is_same_v<Record, ast::ReturnStatement>) {
            return node(record.value);
          } else if constexpr (std::is_same_v<Record, ast::BlockStatement> ||
                               std::is_same_v<Record, ast::DeferStatement> ||
                               std::is_same_v<Record, ast::LateLayoutStatement>) {
            return statements(record.body);
          } else if constexpr (std::is_same_v<Record, ast::LabelStatement> ||
                               std::is_same_v<Record, ast::BreakStatement> ||
                               std::is_same_v<Record, ast::ContinueStatement>) {
            return false;
          } else {
            // Declarations of types, functions and macros, refused or rare
            // in a body: taken as reaching, which costs only the copy.
            return true;
          }
        },
        statement.payload);
  }

  const context::LowerContext& context_;
  const meta_function::Store& values_;
  Memo& memo_;
  Body body_;
};

// The names of the largest list and of every other that it lacks: only
// those are sorted, and a list that has them all is shared as it is.
Names joined(std::span<const NameList* const> lists, std::span<const Names* const> shared) {
  const NameList* largest = nullptr;
  const Names* largest_shared = nullptr;
  for (const Names* names : shared)
    if (largest == nullptr || names->size() > largest->size()) {
      largest = names->shared().get();
      largest_shared = names;
    }
  for (const NameList* list : lists)
    if (largest == nullptr || list->size() > largest->size()) {
      largest = list;
      largest_shared = nullptr;
    }
  if (largest == nullptr) return {};
  NameList missing;
  const auto gather = [&](std::span<const std::string_view> names) {
    if (names.data() == largest->data()) return;
    for (const std::string_view name : names)
      if (!std::ranges::binary_search(*largest, name)) missing.push_back(name);
  };
  for (const Names* names : shared) gather(names->view());
  for (const NameList* list : lists) gather(*list);
  if (missing.empty() && largest_shared != nullptr) return *largest_shared;
  sortOnce(missing);
  auto merged = std::make_shared<NameList>();
  merged->reserve(largest->size() + missing.size());
  std::ranges::merge(*largest, missing, std::back_inserter(*merged));
  return Names(std::move(merged));
}

void await(Memo& memo, Meeting meeting, std::string_view name, const std::shared_ptr<Answer>& answer) {
  std::vector<std::weak_ptr<Answer>>& waiting = memo.waiting[slotOf(meeting)][name];
  if (waiting.size() == waiting.capacity())
    std::erase_if(waiting, [](const std::weak_ptr<Answer>& held) { return held.expired(); });
  waiting.push_back(answer);
}

// A function being searched: its body, and Tarjan's numbers for the cycles
// of calls it lies on.
struct Visit {
  Key key;
  Body body;
  std::uint32_t order = 0;
  std::uint32_t low = 0;
  std::size_t next_callee = 0;
  bool open = true;  // on a cycle not closed yet
};

// Keeps one answer for the functions of a closed cycle, made of their own
// bodies and of the answers of the functions they call outside it, which
// were closed before.
void keepAnswer(Memo& memo, std::span<Visit> cycle) {
  auto answer = std::make_shared<Answer>();
  std::vector<std::shared_ptr<Answer>> callees;
  for (const Visit& visit : cycle) {
    answer->members.push_back(visit.key);
    answer->reach.anything = answer->reach.anything || visit.body.anything;
    for (const Key& callee : visit.body.callees)
      if (const std::shared_ptr<Answer>& found = kept(memo, callee)) callees.push_back(found);
  }
  sortOnce(callees);
  for (const std::shared_ptr<Answer>& callee : callees) {
    answer->reach.anything = answer->reach.anything || callee->reach.anything;
    callee->composed_into.push_back(answer);
  }
  if (!answer->reach.anything) {
    std::vector<const NameList*> lists;
    for (const Visit& visit : cycle) lists.push_back(&visit.body.names);
    std::vector<const Names*> shared;
    for (const std::shared_ptr<Answer>& callee : callees) shared.push_back(&callee->reach.names);
    answer->reach.names = joined(lists, shared);
  }
  for (const Visit& visit : cycle)
    for (const auto& [meeting, name] : visit.body.waits) await(memo, meeting, name, answer);
  for (const Visit& visit : cycle) kept(memo, visit.key) = answer;
}

// Walks every function the root reaches that has no answer yet, once each,
// and keeps an answer for each cycle of calls as it closes; the functions
// on the path from the root are kept on a list rather than the machine's
// stack, as a chain of calls may be long.
const Reach& search(context::LowerContext& context, const meta_function::Store& values, Key root) {
  Memo& memo = context.reach;
  std::vector<Visit> visits;
  std::unordered_map<std::uint64_t, std::uint32_t> visited;
  std::vector<std::uint32_t> path;
  std::vector<std::uint32_t> open;
  const auto enter = [&](Key key) {
    const auto order = static_cast<std::uint32_t>(visits.size());
    const meta_function::Store& store = key.first == Callee::value_function ? values : context.functions;
    Visit& visit = visits.emplace_back(key, Walk(context, values, memo).body(store.at(key.second).body));
    visit.order = visit.low = order;
    visited.emplace(packed(key), order);
    path.push_back(order);
    open.push_back(order);
  };
  enter(root);
  while (!path.empty()) {
    const std::uint32_t at = path.back();
    if (visits[at].next_callee < visits[at].body.callees.size()) {
      const Key callee = visits[at].body.callees[visits[at].next_callee++];
      if (kept(memo, callee)) continue;
      const auto found = visited.find(packed(callee));
      if (found == visited.end()) {
        enter(callee);
      } else if (visits[found->second].open) {
        visits[at].low = std::min(visits[at].low, visits[found->second].order);
      }
      continue;
    }
    path.pop_back();
    if (!path.empty()) visits[path.back()].low = std::min(visits[path.back()].low, visits[at].low);
    if (visits[at].low != visits[at].order) continue;
    // The members of a cycle were entered one after another from its first,
    // so they stand together at the end of the open list.
    std::vector<Visit> cycle;
    const auto first = std::ranges::find(open, at);
    for (auto member = first; member != open.end(); ++member) {
      visits[*member].open = false;
      cycle.push_back(std::move(visits[*member]));
    }
    open.erase(first, open.end());
    keepAnswer(memo, cycle);
  }
  return kept(memo, root)->reach;
}

// Forgets the answers that met the name as the meeting says, and every
// answer made of them.
void forget(Memo& memo, Meeting meeting, std::string_view name) {
  auto& waiting = memo.waiting[slotOf(meeting)];
  const auto found = waiting.find(name);
  if (found == waiting.end()) return;
  std::vector<std::shared_ptr<Answer>> pending;
  for (const std::weak_ptr<Answer>& held : found->second)
    if (auto answer = held.lock()) pending.push_back(std::move(answer));
  waiting.erase(found);
  while (!pending.empty()) {
    const std::shared_ptr<Answer> answer = std::move(pending.back());
    pending.pop_back();
    for (const Key& member : answer->members)
      if (std::shared_ptr<Answer>& slot = kept(memo, member); slot == answer) slot.reset();
    for (const std::weak_ptr<Answer>& caller : answer->composed_into)
      if (auto held = caller.lock()) pending.push_back(std::move(held));
    answer->composed_into.clear();
  }
}

// The memo, with the answers forgotten that a definition since the last
// question may change.
Memo& currentMemo(context::LowerContext& context, const meta_function::Store& values) {
  Memo& memo = context.reach;
  const std::array<std::size_t, 3> definitions = {values.size(), context.functions.size(), context.macros.size()};
  if (memo.definitions_seen == definitions) return memo;
  for (std::size_t& seen = memo.definitions_seen[0]; seen < definitions[0]; ++seen)
    forget(memo, Meeting::value_call, values.at(static_cast<std::uint32_t>(seen)).name);
  for (std::size_t& seen = memo.definitions_seen[1]; seen < definitions[1]; ++seen)
    forget(memo, Meeting::statement_call, context.functions.at(static_cast<std::uint32_t>(seen)).name);
  for (std::size_t& seen = memo.definitions_seen[2]; seen < definitions[2]; ++seen)
    forget(memo, Meeting::word, context.macros.nameAt(seen));
  memo.last.reset();
  return memo;
}

}  // namespace

const Reach& functionReach(context::LowerContext& context, const meta_function::Store& values, Callee callee,
                           std::string_view function) {
  Memo& memo = currentMemo(context, values);
  const meta_function::Store& store = callee == Callee::value_function ? values : context.functions;
  const auto index = store.find(function);
  if (!index) return memo.anything;
  if (const std::shared_ptr<Answer>& known = kept(memo, {callee, *index})) return known->reach;
  return search(context, values, {callee, *index});
}

bool mayName(const Reach& reach, std::string_view name) noexcept {
  return reach.anything || (!name.empty() && std::ranges::binary_search(reach.names, name));
}

bool valueFunctionMayReach(context::LowerContext& context, const meta_function::Store& values,
                           std::string_view function, std::string_view binding) {
  Memo& memo = currentMemo(context, values);
  if (memo.last && memo.last->function == function && memo.last->binding == binding) return memo.last->reaches;
  const bool reaches = mayName(functionReach(context, values, Callee::value_function, function), binding);
  Memo::Asked& last = memo.last ? *memo.last : memo.last.emplace();
  last.function.assign(function);
  last.binding.assign(binding);
  last.reaches = reaches;
  return reaches;
}

}  // namespace frontend::lower::binding_reach
