#include "frontend/evaluate/expr_builtin.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <utility>
#include <vector>

#include "common/name_table.hpp"
#include "frontend/evaluate/call_search.hpp"
#include "frontend/module/module.hpp"
#include "frontend/values/type_name.hpp"
#include "frontend/meta_std/meta_data.hpp"
#include "frontend/meta_std/meta_data_eval.hpp"
#include "frontend/meta_std/meta_std.hpp"

namespace frontend::expr {

using qovrin::Error;
using qovrin::fail;
using value::Value;

namespace {

constexpr auto kOperandBuiltins = [] {
  std::array<std::string_view, kOperandBuiltinCount> names{};
  for (std::size_t index = 0; index < names.size(); ++index) names[index] = kEvaluatorBuiltins[index].name;
  return names;
}();

enum class BuiltinGroup : std::uint8_t { operand, library, data, assembler };

struct BuiltinName {
  std::string_view name;
  BuiltinGroup group = BuiltinGroup::operand;
  std::uint8_t index = 0;  // within its group's table
};

template <std::size_t Count>
constexpr void appendGroup(auto& index, std::size_t& filled, const std::array<std::string_view, Count>& names,
                           BuiltinGroup group) {
  for (std::size_t position = 0; position < Count; ++position)
    index[filled++] = BuiltinName{names[position], group, static_cast<std::uint8_t>(position)};
}

// Every builtin name sorted once at compile time, so that a call finds its
// builtin by binary search instead of scanning four tables. The groups'
// names are disjoint, so the search finds what the scans in group order
// would.
constexpr auto kBuiltinIndex = [] {
  std::array<BuiltinName, kOperandBuiltins.size() + meta_std::kBuiltinNames.size() + meta_data::kBuiltinNames.size() +
                              kAssemblerBuiltinNames.size()>
      index{};
  std::size_t filled = 0;
  appendGroup(index, filled, kOperandBuiltins, BuiltinGroup::operand);
  appendGroup(index, filled, meta_std::kBuiltinNames, BuiltinGroup::library);
  appendGroup(index, filled, meta_data::kBuiltinNames, BuiltinGroup::data);
  appendGroup(index, filled, kAssemblerBuiltinNames, BuiltinGroup::assembler);
  std::ranges::sort(index, {}, &BuiltinName::name);
  return index;
}();

static_assert(std::ranges::adjacent_find(kBuiltinIndex, {}, &BuiltinName::name) == kBuiltinIndex.end(),
              "a builtin name belongs to one group only");

// Every call node looks its name up when it is built, and a condition is
// built again each time it is read, so the lookup hashes the name once and
// compares it with the one or two names of its slots, where a binary search
// compares it with seven or eight.
constexpr std::uint32_t nameHash(std::string_view name) noexcept {
  std::uint32_t hash = 2166136261u;
  for (const char c : name) hash = (hash ^ static_cast<unsigned char>(c)) * 16777619u;
  return hash;
}

constexpr std::size_t kBuiltinSlotCount = std::bit_ceil(2 * kBuiltinIndex.size());
constexpr std::uint16_t kNoBuiltin = 0xFFFF;
static_assert(kBuiltinIndex.size() < kNoBuiltin);

constexpr auto kBuiltinSlots = [] {
  std::array<std::uint16_t, kBuiltinSlotCount> slots{};
  slots.fill(kNoBuiltin);
  for (std::size_t place = 0; place < kBuiltinIndex.size(); ++place) {
    std::size_t slot = nameHash(kBuiltinIndex[place].name) & (kBuiltinSlotCount - 1);
    while (slots[slot] != kNoBuiltin) slot = (slot + 1) & (kBuiltinSlotCount - 1);
    slots[slot] = static_cast<std::uint16_t>(place);
  }
  return slots;
}();

const BuiltinName* findBuiltin(std::string_view name) noexcept {
  for (std::size_t slot = nameHash(name) & (kBuiltinSlotCount - 1);; slot = (slot + 1) & (kBuiltinSlotCount - 1)) {
    const std::uint16_t place = kBuiltinSlots[slot];
    if (place == kNoBuiltin) return nullptr;
    if (kBuiltinIndex[place].name == name) return &kBuiltinIndex[place];
  }
}

// The builtin a call node calls, by the place it kept when it was built.
const BuiltinName* builtinOf(const Node& call) noexcept {
  const auto place = call.builtinPlace();
  return place ? &kBuiltinIndex[*place] : nullptr;
}

constexpr std::uint16_t placeOf(std::string_view name) {
  return static_cast<std::uint16_t>(std::ranges::lower_bound(kBuiltinIndex, name, {}, &BuiltinName::name) -
                                    kBuiltinIndex.begin());
}

constexpr std::uint16_t kOperandEvalPlace = placeOf("operand.eval");
static_assert(kBuiltinIndex[kOperandEvalPlace].name == "operand.eval");

// Library builtins run on values: every argument is evaluated first, left to
// right, and the first failure is the call's.
qovrin::Result<std::vector<Value>> evaluateArguments(Arguments arguments, const EvaluationContext& context) {
  std::vector<Value> values;
  values.reserve(arguments.size());
  for (const BuiltinArgument& argument : arguments) {
    auto evaluated = evaluateBuiltinValueArg(argument, context);
    if (!evaluated) return fail(evaluated.error());
    values.push_back(std::move(*evaluated));
  }
  return values;
}

// The binding a plain name reads, when a builtin that only reads it may
// borrow it instead of a copy: a local, else a module value that no type
// name takes first. Labels and types read as fresh values and are not lent.
Value* lendableBinding(const BuiltinArgument& argument, const EvaluationContext& context) {
  std::string_view name;
  if (argument.kind() == BuiltinArgument::Kind::bare_name)
    name = argument.text();
  else if (argument.kind() == BuiltinArgument::Kind::expression && argument.node().kind() == NodeKind::identifier)
    name = argument.node().text();
  else
    return nullptr;
  if (std::ranges::find(context.blocked_names, name) != context.blocked_names.end()) return nullptr;
  if (context.hooks != nullptr && context.hooks->resolve_local) {
    // A local the hooks cannot lend may still hide the module's value.
    if (!context.hooks->find_local) return nullptr;
    if (Value* local = context.hooks->find_local(name)) return local;
  }
  module::Module& module = context.module;
  if (type_name::namesType(module.typeNames(), name)) return nullptr;
  symbol::Symbol* symbol = module.findSymbol(name);
  symbol::ValueSymbol* bound = symbol == nullptr ? nullptr : symbol->value();
  return bound == nullptr ? nullptr : &bound->value;
}

// Whether evaluating the argument, one that may run code, may run a function
// of the language that reads or assigns the binding of that name: a value
// function called (which sees its caller's locals) that the caller's hook
// cannot clear, a captured operand, a struct literal's fields.
bool mayReach(const BuiltinArgument& argument, std::string_view name, const EvaluationContext& context) {
  switch (argument.kind()) {
    case BuiltinArgument::Kind::bare_name:
      return false;
    case BuiltinArgument::Kind::raw_text:
      return true;
    case BuiltinArgument::Kind::expression:
      break;
  }
  return argument.node().runsCode() && anyCallIn(argument.node(), [&](const Node& call) {
    if (!call.runsCode()) return false;
    const auto place = call.builtinPlace();
    if (place == kOperandEvalPlace || std::ranges::any_of(call.arguments(), [](const BuiltinArgument& inner) {
          return inner.kind() == BuiltinArgument::Kind::raw_text;
        }))
      return true;
    if (place) return false;
    return context.hooks == nullptr || !context.hooks->function_may_reach ||
           context.hooks->function_may_reach(call.text(), name, context);
  });
}

// Whether an argument of the call from `from` on may reach the binding of
// that name, so that a name read before it could read another value than in
// its turn. Which arguments may run code at all the call knows from its
// tree. Only a search for a binding whose copy is deep asks what the value
// functions called may reach; for others, a copy read early costs less.
bool laterMayReach(const Node& call, std::size_t from, std::string_view name, bool deep,
                   const EvaluationContext& context) {
  const std::size_t end = call.runningArgumentsEnd();
  if (from >= end) return false;
  if (!deep) return true;
  return std::ranges::any_of(call.arguments().subspan(from, end - from),
                             [&](const BuiltinArgument& argument) { return mayReach(argument, name, context); });
}

// The name a bare-name or identifier argument reads.
std::string_view nameOf(const BuiltinArgument& argument) noexcept {
  return argument.kind() == BuiltinArgument::Kind::bare_name ? argument.text() : argument.node().text();
}

// Whether copying the value would copy more than a word or two: lists, maps
// and byte strings share their storage with the copy, texts, structs and
// operands do not (bench/scaling.py's `text` case reads a long text).
bool isHeavy(const Value& value) noexcept {
  switch (value.kind()) {
    case value::ValueKind::string:
    case value::ValueKind::struct_:
    case value::ValueKind::operand:
      return true;
    default:
      return false;
  }
}

// Bindings lent to one call: each moves into its slot of the argument list
// just before the builtin runs, and back into the binding when the lending
// ends, whatever happened meanwhile.
class Lending {
 public:
  explicit Lending(std::vector<Value>& values) noexcept : values_(values) {}
  Lending(const Lending&) = delete;
  Lending& operator=(const Lending&) = delete;
  ~Lending() {
    for (const Loan& loan : loans_)
      if (loan.binding != nullptr) *loan.binding = std::move(values_[loan.slot]);
  }

  // A slot whose binding is lent once every argument is evaluated.
  void reserveSlot(std::size_t slot) { loans_.push_back({slot, nullptr}); }
  std::size_t reserved() const noexcept { return loans_.size(); }
  std::size_t slot(std::size_t loan) const noexcept { return loans_[loan].slot; }

  // Moves the binding's value into the loan's slot; a binding named twice is
  // lent once and copied into the later slot.
  void lend(std::size_t loan, Value& binding) {
    const auto earlier = std::ranges::find(loans_, &binding, &Loan::binding);
    if (earlier != loans_.end()) {
      values_[loans_[loan].slot] = values_[earlier->slot];
      return;
    }
    values_[loans_[loan].slot] = std::move(binding);
    loans_[loan].binding = &binding;
  }

 private:
  struct Loan {
    std::size_t slot;
    Value* binding;
  };
  std::vector<Value>& values_;
  std::vector<Loan> loans_;
};

// Runs a builtin that only reads its arguments. They are evaluated left to
// right as usual, except that a name of a binding whose copy would be deep
// is only looked up, and the binding lent to the call once all are: nothing
// else runs while its value sits in the argument list, so no text is copied.
// A name that a later argument's function could reach is read in its turn.
template <typename Builtin>
qovrin::Result<Value> evalBorrowing(const Node& call, const EvaluationContext& context, Builtin&& builtin) {
  const Arguments arguments = call.arguments();
  std::vector<Value> values(arguments.size());
  Lending lending(values);
  for (std::size_t slot = 0; slot < arguments.size(); ++slot) {
    if (const Value* binding = lendableBinding(arguments[slot], context)) {
      if (isHeavy(*binding) && !laterMayReach(call, slot + 1, nameOf(arguments[slot]), true, context))
        lending.reserveSlot(slot);
      else
        values[slot] = *binding;
      continue;
    }
    auto evaluated = evaluateBuiltinValueArg(arguments[slot], context);
    if (!evaluated) return fail(evaluated.error());
    values[slot] = std::move(*evaluated);
  }
  // Looked up again: evaluating the later arguments may have moved bindings.
  for (std::size_t loan = 0; loan < lending.reserved(); ++loan) {
    if (Value* binding = lendableBinding(arguments[lending.slot(loan)], context)) {
      lending.lend(loan, *binding);
      continue;
    }
    auto evaluated = evaluateBuiltinValueArg(arguments[lending.slot(loan)], context);
    if (!evaluated) return fail(evaluated.error());
    values[lending.slot(loan)] = std::move(*evaluated);
  }
  return builtin(std::span<const Value>(values));
}

// Whether the argument is nothing but the name.
bool namesOnly(const BuiltinArgument& argument, std::string_view name) noexcept {
  switch (argument.kind()) {
    case BuiltinArgument::Kind::expression:
      return argument.node().kind() == NodeKind::identifier && argument.node().text() == name;
    case BuiltinArgument::Kind::bare_name:
      return argument.text() == name;
    case BuiltinArgument::Kind::raw_text:
      break;
  }
  return false;
}

// A handover applies to its own call only, and only while the evaluation
// would read the binding it names.
bool takesHandover(const Node& call, const EvaluationContext& context) noexcept {
  const Handover& handover = context.handover;
  return &call == handover.call && handover.source != nullptr && !call.arguments().empty() &&
         namesOnly(call.arguments().front(), handover.name) &&
         std::ranges::find(context.blocked_names, handover.name) == context.blocked_names.end();
}

// The first argument is the handed-over binding's value itself, so the
// change needs no copy. When a later argument may run a function, which may
// assign the binding, the value is read first as a copy (a shared reference
// for a collection) and the binding's own taken instead only if it still
// holds that same collection; otherwise it is taken once the others are
// evaluated, which then read the binding as it is. Nothing reads the binding
// between the taking and the assignment that replaces it, and every failure
// gives it its value back.
qovrin::Result<Value> evalTakingFirst(meta_std::MetaStdBuiltin kind, const Node& call,
                                      const EvaluationContext& context) {
  const Arguments arguments = call.arguments();
  std::vector<Value> values(arguments.size());
  const auto evaluate = [&](std::size_t slot) -> qovrin::Status {
    auto evaluated = evaluateBuiltinValueArg(arguments[slot], context);
    if (!evaluated) return fail(evaluated.error());
    values[slot] = std::move(*evaluated);
    return {};
  };
  // A first argument that may fail, or whose binding a later argument may
  // assign, is evaluated first, as usual.
  const Value* binding = lendableBinding(arguments.front(), context);
  const bool bound = binding != nullptr;
  const bool read_first =
      !bound || laterMayReach(call, 1, nameOf(arguments.front()), isHeavy(*binding), context);
  if (read_first) QOVRIN_TRY(evaluate(0));
  for (std::size_t slot = 1; slot < arguments.size(); ++slot) QOVRIN_TRY(evaluate(slot));
  // Looked up again: evaluating the others may have moved bindings.
  Value* source = bound ? lendableBinding(arguments.front(), context) : nullptr;
  const bool takes = source != nullptr && source == context.handover.source &&
                     (!read_first || value::sameCollection(*source, values.front()));
  if (takes) {
    values.front() = std::exchange(*source, Value());
  } else {
    source = nullptr;
    if (!read_first) QOVRIN_TRY(evaluate(0));
  }
  auto result = meta_std::callBuiltinChangingFirst(kind, values);
  if (!result && source != nullptr) *source = std::move(values.front());
  return result;
}

}  // namespace

bool isBuiltinName(std::string_view name) noexcept { return findBuiltin(name) != nullptr; }

std::optional<std::uint16_t> builtinPlace(std::string_view name) noexcept {
  const BuiltinName* builtin = findBuiltin(name);
  if (builtin == nullptr) return std::nullopt;
  return static_cast<std::uint16_t>(builtin - kBuiltinIndex.data());
}

bool readsOutput(const Node& call) noexcept {
  const BuiltinName* builtin = builtinOf(call);
  return builtin != nullptr && builtin->group == BuiltinGroup::assembler &&
         kEvaluatorBuiltins[kOperandBuiltinCount + builtin->index].kind == EvaluatorBuiltinKind::output_load;
}

bool handsBackFirstArgument(const Node& call) noexcept {
  if (call.kind() != NodeKind::builtin_call) return false;
  const BuiltinName* builtin = builtinOf(call);
  return builtin != nullptr && builtin->group == BuiltinGroup::library &&
         meta_std::changesFirstArgument(static_cast<meta_std::MetaStdBuiltin>(builtin->index));
}

qovrin::Result<Value> evalBuiltinCall(const Node& call, const EvaluationContext& context) {
  // Builtin names come before value functions, so a value function can never
  // shadow one.
  if (const BuiltinName* builtin = builtinOf(call)) {
    switch (builtin->group) {
      case BuiltinGroup::library: {
        const auto kind = static_cast<meta_std::MetaStdBuiltin>(builtin->index);
        if (takesHandover(call, context)) return evalTakingFirst(kind, call, context);
        // list.of keeps its arguments, so they had better be its own.
        if (kind == meta_std::MetaStdBuiltin::list_of) {
          auto values = evaluateArguments(call.arguments(), context);
          if (!values) return fail(values.error());
          return meta_std::callBuiltin(kind, std::move(*values));
        }
        return evalBorrowing(call, context,
                             [kind](std::span<const Value> values) { return meta_std::callBuiltin(kind, values); });
      }
      case BuiltinGroup::data:
        return evalBorrowing(call, context, [&](std::span<const Value> values) {
          return meta_data::evalDataBuiltin(static_cast<meta_data::MetaDataBuiltin>(builtin->index), values,
                                            context.file_hooks);
        });
      case BuiltinGroup::assembler:
        return evalAssemblerBuiltin(static_cast<AssemblerBuiltin>(builtin->index), call.arguments(), context);
      case BuiltinGroup::operand:
        return evalOperandBuiltin(static_cast<OperandBuiltin>(builtin->index), call.arguments(), context);
    }
  }
  if (context.hooks != nullptr && context.hooks->call_value_function)
    return context.hooks->call_value_function(call.text(), call.arguments(), context);
  return fail(Error::InvalidOperand);
}

qovrin::Result<Value> evaluateBuiltinValueArg(const BuiltinArgument& argument, const EvaluationContext& context) {
  switch (argument.kind()) {
    case BuiltinArgument::Kind::expression:
      return evaluateValue(argument.node(), context);
    case BuiltinArgument::Kind::bare_name:
      return resolveSymbolValue(context, argument.text());
    case BuiltinArgument::Kind::raw_text:
      break;
  }
  if (context.hooks == nullptr || !context.hooks->eval_struct_literal) return fail(Error::MissingEvaluationContext);
  return context.hooks->eval_struct_literal(argument.text(), context);
}

qovrin::Result<std::uint64_t> evaluateBuiltinIntegerArg(const BuiltinArgument& argument,
                                                        const EvaluationContext& context) {
  const auto evaluated = evaluateBuiltinValueArg(argument, context);
  if (!evaluated) return fail(evaluated.error());
  const auto* integer = evaluated->asInteger();
  if (integer == nullptr) return fail(Error::TypeMismatch);
  return integer->word;
}

qovrin::Result<std::string> builtinStringArg(Arguments arguments, const EvaluationContext& context) {
  if (arguments.empty()) return fail(Error::InvalidArgument);
  auto evaluated = evaluateBuiltinValueArg(arguments[0], context);
  if (!evaluated) return fail(evaluated.error());
  auto* text = evaluated->getIf<std::string>();
  if (text == nullptr) return fail(Error::TypeMismatch);
  return std::move(*text);
}

qovrin::Result<std::string_view> builtinIdentifierArg(Arguments arguments, std::size_t index) {
  if (index >= arguments.size() || arguments[index].kind() != BuiltinArgument::Kind::bare_name)
    return fail(Error::InvalidArgument);
  return std::string_view(arguments[index].text());
}

qovrin::Result<std::string> builtinLabelNameArg(Arguments arguments, const EvaluationContext& context) {
  if (arguments.empty() || arguments[0].kind() == BuiltinArgument::Kind::raw_text) return fail(Error::InvalidArgument);
  const BuiltinArgument& argument = arguments[0];
  if (argument.kind() == BuiltinArgument::Kind::expression) return builtinStringArg(arguments, context);
  auto resolved = resolveSymbolValue(context, argument.text());
  if (!resolved && resolved.error() != Error::UndefinedSymbol) return fail(resolved.error());
  if (resolved) {
    if (auto* text = resolved->getIf<std::string>()) return std::move(*text);
  }
  return std::string(argument.text());
}

std::optional<std::uint64_t> loadByteCount(std::string_view name) noexcept {
  constexpr std::array<std::string_view, 4> kLoads = {"load.u8", "load.u16", "load.u32", "load.u64"};
  const auto index = qovrin::indexOfName(kLoads, name);
  if (!index) return std::nullopt;
  return std::uint64_t{1} << *index;
}

}  // namespace frontend::expr
