#pragma once
// The state of one lowering call: the driver's include callbacks, the stack of
// sources being lowered, the meta scopes with their locals, and the counters
// and flags that statement lowering keeps while it walks the statements.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "common/error.hpp"
#include "frontend/evaluate/expr_eval.hpp"
#include "frontend/lower/binding_reach.hpp"
#include "frontend/lower/include_callbacks.hpp"
#include "frontend/lower/value_name_filter.hpp"
#include "frontend/lower/macro.hpp"
#include "x86_encoder/match_memo.hpp"
#include "frontend/module/meta_function.hpp"
#include "frontend/module/module.hpp"
#include "frontend/output/image.hpp"
#include "frontend/values/value.hpp"

namespace frontend::lower::context {

// What bound a local, for the note on an assignment it refuses.
enum class LocalKind : std::uint8_t { declared, loop_variable, parameter, macro_parameter };

// A value bound by let, const, a loop or a call. The local owns its name, so
// it never depends on the statement that bound it.
struct MetaLocal {
  std::string name;
  value::Value value;
  bool is_mutable = false;
  LocalKind kind = LocalKind::declared;
};

// The locals of one block, loop round or call, in definition order.
class MetaScope {
 public:
  MetaLocal* find(std::string_view name);
  const MetaLocal* find(std::string_view name) const;

  // DuplicateSymbol when this scope already binds the name. Takes the value
  // only on success.
  qovrin::Status define(std::string_view name, value::Value&& value, bool is_mutable,
                        LocalKind kind = LocalKind::declared);

  std::span<const MetaLocal> locals() const noexcept { return locals_; }

  // After its own locals the scope holds the module's value symbols as the
  // snapshot saw them, as constants; each is copied when first read.
  void viewModuleValues(const module::Module& module, std::shared_ptr<const value::ModuleSnapshot> snapshot);

 private:
  struct NameHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view name) const noexcept { return std::hash<std::string_view>{}(name); }
  };

  struct ModuleView {
    const module::Module* module = nullptr;
    std::shared_ptr<const value::ModuleSnapshot> snapshot;
    // The values read so far; a node keeps each local where it is.
    std::unordered_map<std::string, MetaLocal, NameHash, std::equal_to<>> read;
  };

  const MetaLocal* readModuleValue(std::string_view name) const;

  // Most scopes hold a few locals, which a scan finds fastest; larger ones
  // (generated tables, long loop bodies) get a name index.
  static constexpr std::size_t kIndexedFrom = 8;

  std::vector<MetaLocal> locals_;
  std::unordered_map<std::string, std::uint32_t, NameHash, std::equal_to<>> index_;
  std::unique_ptr<ModuleView> view_;
};

// A source being lowered; both texts belong to the caller of that lowering.
struct IncludeFrame {
  std::string_view path;
  std::string_view identity;
};

// At most this many sources are nested, the root included.
inline constexpr std::size_t kMaxIncludeDepth = 128;

// A value a statement refused for its kind, by the statement's place and
// the argument that gave it (0 for a declaration's initializer).
struct RefusedValue {
  SourceLocation statement;
  std::size_t argument = 0;
  value::ValueKind kind = value::ValueKind::integer;
};

// A value function and the error its call failed with.
struct ValueCallFailure {
  std::string function;
  qovrin::Error error = qovrin::Error::InvalidOperand;
};

class LowerContext {
 public:
  explicit LowerContext(const contracts::PathOptions& paths);
  LowerContext(const LowerContext&) = delete;
  LowerContext& operator=(const LowerContext&) = delete;

  contracts::PathOptions paths;                        // the driver's callbacks; the identity is not kept
  const output::image::Image* output_image = nullptr;  // set when assembly lowers on a laid-out image
  std::optional<std::uint64_t> here;                   // set while a defer block is frozen
  std::vector<IncludeFrame> include_stack;             // outermost first
  std::vector<SourceLocation> include_calls;           // the include or import calls being lowered, outermost first
  std::vector<MetaScope> scopes;                       // innermost last
  std::vector<SourceLocation> virtual_begins;          // virtual.begin calls not yet ended, innermost last
  std::optional<value::Value> pending_return;          // the value of the last return
  meta_function::Store functions;                      // statement functions
  macro::Store macros;
  binding_reach::Memo reach;                           // of the functions above and the module's
  std::uint64_t expansion_count = 0;  // every macro expansion of the run
  std::uint64_t unique_name_counter = 0;
  std::uint32_t meta_call_depth = 0;
  std::uint32_t value_function_depth = 0;  // above 0: statements with side effects are refused
  // The last refusal, so that the notes on it need not evaluate again.
  std::optional<RefusedValue> refused;
  // The innermost value call that failed in the statement being lowered,
  // with its own error before an expression's error hid it.
  std::optional<ValueCallFailure> value_call_failure;
  bool in_loop = false;                    // a while or for body is being lowered
  value_name_filter::ValueNameFilter value_names;  // of the module being lowered
  // Set while an assignment's value is evaluated that may take over the
  // binding it replaces; every evaluation context made meanwhile carries it.
  expr::Handover handover;

  // The evaluator's view of this context, bound once and shared by every
  // evaluation; the file hooks' base path follows the innermost source.
  expr::EvaluationHooks hooks;
  meta_io::MetaFileHooks file_hooks;

  // Template searches remembered across the run's x86 lines, which mostly
  // repeat a few operand shapes. On the heap: a context lives on the stack,
  // which may be small.
  std::unique_ptr<x86_encoder::match::MatchMemo> x86_matches = std::make_unique<x86_encoder::match::MatchMemo>();
};

// Pushes an empty scope and pops it again when it goes out of scope, on every path.
class ScopeGuard {
 public:
  explicit ScopeGuard(LowerContext& context);
  ~ScopeGuard();
  ScopeGuard(const ScopeGuard&) = delete;
  ScopeGuard& operator=(const ScopeGuard&) = delete;

 private:
  LowerContext& context_;
};

// InvalidMetaBlock with no scope open; DuplicateSymbol when the innermost scope
// binds the name. Takes the value only on success.
qovrin::Status defineLocalValue(LowerContext& context, std::string_view name, value::Value&& value, bool is_mutable,
                                LocalKind kind = LocalKind::declared);

// Assigns to the nearest local of that name: true when it took the value,
// false when no local has the name (the value stays with the caller), and
// InvalidValueDeclaration for an immutable one.
qovrin::Result<bool> setLocalValue(LowerContext& context, std::string_view name, value::Value&& value);

// The nearest local of that name; valid until its scope is popped or it is reassigned.
value::Value* lookupLocalValue(LowerContext& context, std::string_view name);
MetaLocal* lookupLocal(LowerContext& context, std::string_view name);

enum class MutableLookup : std::uint8_t { not_found = 0, immutable = 1, found = 2 };
struct MutableLocal {
  value::Value* value = nullptr;  // set only when found and mutable
  MutableLookup state = MutableLookup::not_found;
};
MutableLocal lookupMutableLocalValue(LowerContext& context, std::string_view name);

// The evaluator's local lookup: a copy of the nearest local, or nothing.
qovrin::Result<std::optional<value::Value>> resolveLocalValue(LowerContext& context, std::string_view name);

// Pops and releases the innermost scope; nothing with no scope open.
void discardLastScope(LowerContext& context) noexcept;

// What the macro operands written now can see: the module's values as they
// are now (a snapshot, or copies of every one where the context copies every
// value), then copies of every local, outermost scope first (a later binding
// of a name replaces an earlier one). MacroCaptureDepthExceeded when the
// values hold operands captured too deeply already.
qovrin::Result<std::shared_ptr<value::OperandEnvironment>> captureOperandEnvironment(LowerContext& context,
                                                                                      module::Module& module);

// What the name reads in the environment; null when it binds nothing there.
const value::Value* environmentBinding(const module::Module& module, const value::OperandEnvironment& environment,
                                       std::string_view name) noexcept;

}  // namespace frontend::lower::context
