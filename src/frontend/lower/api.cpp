// The dispatcher: one table of every built-in call name, searched once per
// call.

#include "frontend/lower/api.hpp"

#include <algorithm>
#include <array>
#include <optional>
#include <span>
#include <string>

#include "common/display_text.hpp"
#include "frontend/encode/source_only_notes.hpp"

#include "frontend/lower/data_emission.hpp"
#include "frontend/lower/diagnostic_format.hpp"
#include "frontend/lower/notes/line_notes.hpp"
#include "frontend/lower/layout_cursor.hpp"
#include "frontend/lower/meta_function_runtime.hpp"
#include "frontend/syntax/expr_builtin_names.hpp"

namespace frontend::lower::api {

using qovrin::Error;
using qovrin::fail;
using target::Target;

namespace {

enum class Call : std::uint8_t {
  include,
  import,
  diagnostic,  // unit: the severity
  assert_,
  isa,
  label_define,
  origin,
  region_begin,
  region_file_align,
  output_org,
  output_section,
  virtual_begin,
  virtual_end,
  target_switch,
  data,        // unit: bytes per argument
  float_data,  // unit: 4 or 8
  reserve_data,
  emit_integer,  // unit: width
  emit_bytes,
  emit_file,
  emit_struct,
  store_integer,  // unit: width
  store_bytes,
  reserve,
  pad,
  pad_to,
  align,
};

struct Row {
  std::string_view name;
  Call call;
  std::uint64_t unit = 0;
  Target target = {};
};

// Sorted by name, which keeps the table easy to read and its names unique.
constexpr std::array kCalls = {
    Row{"align", Call::align},
    Row{"assert", Call::assert_},
    Row{"db", Call::data, 1},
    Row{"dd", Call::data, 4},
    Row{"ddq", Call::data, 16},
    Row{"ddqq", Call::data, 64},
    Row{"dp", Call::data, 6},
    Row{"dq", Call::data, 8},
    Row{"dqq", Call::data, 32},
    Row{"dt", Call::data, 10},
    Row{"dw", Call::data, 2},
    Row{"emit.bytes", Call::emit_bytes},
    Row{"emit.f32", Call::float_data, 4},
    Row{"emit.f64", Call::float_data, 8},
    Row{"emit.file", Call::emit_file},
    Row{"emit.struct", Call::emit_struct},
    Row{"emit.u16", Call::emit_integer, 2},
    Row{"emit.u32", Call::emit_integer, 4},
    Row{"emit.u64", Call::emit_integer, 8},
    Row{"emit.u8", Call::emit_integer, 1},
    Row{"err", Call::diagnostic, 2},
    Row{"import", Call::import},
    Row{"include", Call::include},
    Row{"isa", Call::isa},
    Row{"label.define", Call::label_define},
    Row{"origin", Call::origin},
    Row{"output.org", Call::output_org},
    Row{"output.section", Call::output_section},
    Row{"pad", Call::pad},
    Row{"pad_to", Call::pad_to},
    Row{"print", Call::diagnostic, 0},
    Row{"rb", Call::reserve_data, 1},
    Row{"rd", Call::reserve_data, 4},
    Row{"rdq", Call::reserve_data, 16},
    Row{"rdqq", Call::reserve_data, 64},
    Row{"region.begin", Call::region_begin},
    Row{"region.file_align", Call::region_file_align},
    Row{"reserve", Call::reserve},
    Row{"riscv.use32", Call::target_switch, 0, Target::riscv(32)},
    Row{"riscv.use64", Call::target_switch, 0, Target::riscv(64)},
    Row{"rp", Call::reserve_data, 6},
    Row{"rq", Call::reserve_data, 8},
    Row{"rqq", Call::reserve_data, 32},
    Row{"rt", Call::reserve_data, 10},
    Row{"rw", Call::reserve_data, 2},
    Row{"spv.use", Call::target_switch, 0, Target::spirv()},
    Row{"store.bytes", Call::store_bytes},
    Row{"store.u16", Call::store_integer, 2},
    Row{"store.u32", Call::store_integer, 4},
    Row{"store.u64", Call::store_integer, 8},
    Row{"store.u8", Call::store_integer, 1},
    Row{"virtual.begin", Call::virtual_begin},
    Row{"virtual.end", Call::virtual_end},
    Row{"warn", Call::diagnostic, 1},
    Row{"x86.use16", Call::target_switch, 0, Target::x86(16)},
    Row{"x86.use32", Call::target_switch, 0, Target::x86(32)},
    Row{"x86.use64", Call::target_switch, 0, Target::x86(64)},
};
static_assert(std::ranges::is_sorted(kCalls, std::ranges::less{}, &Row::name));
static_assert(std::ranges::adjacent_find(kCalls, std::ranges::equal_to{}, &Row::name) == kCalls.end());

// Every call line looks its name up, and a binary search of string compares
// was a tenth of the time of 1M `db(1)` lines (bench/data_throughput.py).
// Instead a name's length, first character and last three characters, which
// tell every call name apart, are hashed to one slot of a table; one compare
// with the row there decides.
constexpr std::uint64_t nameKey(std::string_view name) noexcept {
  const auto from_end = [name](std::size_t back) -> std::uint64_t {
    return back < name.size() ? static_cast<unsigned char>(name[name.size() - 1 - back]) : 0;
  };
  return from_end(name.size() - 1) | from_end(0) << 8 | from_end(1) << 16 | from_end(2) << 24 |
         std::uint64_t{name.size()} << 32;
}

// Whether a key tells apart every two names of this length: it does when
// a change of any one character changes it.
constexpr bool keyHoldsWholeNames(std::size_t length) noexcept {
  std::array<char, 64> name{};
  name.fill('a');
  const std::string_view plain(name.data(), length);
  const std::uint64_t key = nameKey(plain);
  for (std::size_t at = 0; at < length; ++at) {
    std::array<char, 64> changed = name;
    changed[at] = 'b';
    if (nameKey(std::string_view(changed.data(), length)) == key) return false;
  }
  return true;
}

// The longest names the key holds whole; a longer one is compared in full.
constexpr std::size_t kWholeInKey = [] {
  std::size_t length = 0;
  while (length < 63 && keyHoldsWholeNames(length + 1)) ++length;
  return length;
}();

constexpr std::size_t kSlotBits = 8;
constexpr std::uint8_t kNoRow = 0xFF;
static_assert(kCalls.size() < kNoRow);

constexpr std::size_t slotOf(std::uint64_t key, std::uint64_t multiplier) noexcept {
  return static_cast<std::size_t>((key * multiplier) >> (64 - kSlotBits));
}

// The first multiplier in a fixed sequence of odd numbers that puts every
// name in a slot of its own.
constexpr std::uint64_t findMultiplier() noexcept {
  std::uint64_t candidate = 0x9E3779B97F4A7C15;
  for (int attempt = 0; attempt < 10'000; ++attempt) {
    candidate = candidate * 6364136223846793005u + 1442695040888963407u;
    const std::uint64_t multiplier = candidate | 1;
    std::array<bool, std::size_t{1} << kSlotBits> taken{};
    bool distinct = true;
    for (const Row& row : kCalls) {
      bool& slot = taken[slotOf(nameKey(row.name), multiplier)];
      distinct = distinct && !slot;
      slot = true;
    }
    if (distinct) return multiplier;
  }
  return 0;
}

constexpr std::uint64_t kMultiplier = findMultiplier();
static_assert(kMultiplier != 0, "no multiplier gives every call name a slot of its own");

constexpr std::array<std::uint8_t, std::size_t{1} << kSlotBits> kSlots = [] {
  std::array<std::uint8_t, std::size_t{1} << kSlotBits> slots{};
  slots.fill(kNoRow);
  for (std::size_t index = 0; index < kCalls.size(); ++index)
    slots[slotOf(nameKey(kCalls[index].name), kMultiplier)] = static_cast<std::uint8_t>(index);
  return slots;
}();

constexpr std::array<std::uint64_t, kCalls.size()> kKeys = [] {
  std::array<std::uint64_t, kCalls.size()> keys{};
  std::ranges::transform(kCalls, keys.begin(), [](const Row& row) { return nameKey(row.name); });
  return keys;
}();

constexpr const Row* findCall(std::string_view name) noexcept {
  const std::uint64_t key = nameKey(name);
  const std::uint8_t index = kSlots[slotOf(key, kMultiplier)];
  if (index == kNoRow || kKeys[index] != key) return nullptr;
  const Row& row = kCalls[index];
  if (name.size() > kWholeInKey && row.name != name) return nullptr;
  return &row;
}

static_assert(std::ranges::all_of(kCalls, [](const Row& row) { return findCall(row.name) == &row; }));

constexpr std::array<std::string_view, kCalls.size()> kCallNames = [] {
  std::array<std::string_view, kCalls.size()> names{};
  std::ranges::transform(kCalls, names.begin(), &Row::name);
  return names;
}();

// A builtin of expressions called as a statement: its result would be
// dropped, and list.push, list.set and map.set change nothing in place.
std::optional<std::string> valueBuiltinNote(const ast::ApiCallStatement& call) {
  if (!expr::isBuiltinName(call.name)) return std::nullopt;
  const std::string name = qovrin::quotedSubject(call.name);
  if (call.name == "list.push" || call.name == "list.set" || call.name == "map.set") {
    const expr::Node* first = call.arguments.empty() ? nullptr : call.arguments.front().expression();
    const std::string target =
        first != nullptr && first->kind() == expr::NodeKind::identifier ? std::string(first->text()) : "x";
    return name + " gives a changed copy and leaves its argument as it was: assign the copy with '" + target + " = " +
           call.name + "(...)', or call " + call.name + "_mut, which changes " + target + " in place";
  }
  return name + " gives a value, which a line of its own would drop: use it where a value goes, such as 'let v = " +
         call.name + "(...)'";
}

qovrin::Status reportUnknownCall(module::Module& module, const ast::ApiCallStatement& call, target::Target target) {
  std::string message = "unknown call: ";
  message += call.name;
  std::vector<diagnostic::Note> notes = line_notes::unknownCallNotes(call, target);
  if (auto note = pass::sourceOnlyNote(module, call.name, call.location)) notes.push_back(std::move(*note));
  if (auto note = valueBuiltinNote(call)) notes.push_back({std::move(*note), std::nullopt});
  module.diagnostics().addWithNotes(diagnostic::Severity::error, call.location, message, notes);
  return fail(Error::FrontendDiagnostics);
}

qovrin::Status lowerDataCall(module::Module& module, context::LowerContext& context, contracts::ActiveOutput& cursor,
                             const ast::ApiCallStatement& call, const Row& row) {
  QOVRIN_TRY(layout_cursor::requireOpenOutputRegion(cursor));
  switch (row.call) {
    case Call::data:
      return root::lowerDataEmitCall(module, context, cursor, call, row.unit);
    case Call::float_data:
      return root::lowerFloatEmitCall(module, context, cursor, call, row.unit);
    default:
      return root::lowerDataReserveCall(module, context, cursor, call, row.unit);
  }
}

// Every call that adds bytes or space needs an open region; the dispatcher
// checks it once for all of them.
qovrin::Status lowerEmissionCall(module::Module& module, context::LowerContext& context,
                                 contracts::ActiveOutput& cursor, const ast::ApiCallStatement& call, const Row& row) {
  QOVRIN_TRY(layout_cursor::requireOpenOutputRegion(cursor));
  switch (row.call) {
    case Call::emit_integer:
      return data_emission::lowerIntegerEmitCall(module, context, cursor, call, row.unit);
    case Call::emit_bytes:
      return data_emission::lowerBytesEmitCall(module, context, cursor, call);
    case Call::emit_file:
      return root::lowerFileEmitCall(module, context, cursor, call);
    case Call::emit_struct:
      return data_emission::lowerStructEmitCall(module, context, cursor, call);
    case Call::reserve:
      return data_emission::lowerReserveCall(module, context, cursor, call);
    case Call::pad:
      return data_emission::lowerPadCall(module, context, cursor, call, false);
    case Call::pad_to:
      return data_emission::lowerPadCall(module, context, cursor, call, true);
    default:
      return data_emission::lowerAlignCall(module, context, cursor, call);
  }
}

}  // namespace

std::span<const std::string_view> callNames() noexcept { return kCallNames; }

std::optional<DataOperation> dataOperation(std::string_view name) noexcept {
  const Row* row = findCall(name);
  if (row == nullptr) return std::nullopt;
  switch (row->call) {
    case Call::data:
      return DataOperation{row->unit, DataKind::data};
    case Call::float_data:
      return DataOperation{row->unit, DataKind::float_data};
    case Call::reserve_data:
      return DataOperation{row->unit, DataKind::reserve};
    default:
      return std::nullopt;
  }
}

std::optional<std::uint8_t> storeByteCount(std::string_view name) noexcept {
  const Row* row = findCall(name);
  if (row == nullptr || row->call != Call::store_integer) return std::nullopt;
  return static_cast<std::uint8_t>(row->unit);
}

bool isCallName(std::string_view name) noexcept { return findCall(name) != nullptr; }

bool isAllowedLateLayoutApi(std::string_view name) noexcept {
  const Row* row = findCall(name);
  if (row == nullptr) return false;
  switch (row->call) {
    case Call::include:
    case Call::import:
    case Call::isa:
    case Call::label_define:
    case Call::target_switch:
    case Call::emit_file:
      return false;
    default:
      return true;
  }
}

qovrin::Status lowerApiCall(module::Module& module, contracts::ActiveOutput& cursor,
                            root::ActiveOutputStack& active_outputs, const ast::ApiCallStatement& call,
                            context::LowerContext& context) {
  const Row* row = findCall(call.name);
  // A statement function may take the name of any call but the two that load sources.
  const bool loads_source = row != nullptr && (row->call == Call::include || row->call == Call::import);
  // Most programs define no function. Asked anyway, the empty store's answer
  // came back through the stack as an optional whose flag was stored apart
  // and read back whole, a stall of 3% of 1M `db(1)` lines
  // (bench/data_throughput.py).
  if (!loads_source && !context.functions.empty())
    if (const auto function = context.functions.find(call.name))
      return root::lowerMetaFunctionCall(module, cursor, active_outputs, context, *function, call);
  if (row == nullptr) {
    if (context.macros.contains(call.name)) {
      module.diagnostics().add(diagnostic::Severity::error, call.location,
                               "macro calls use instruction syntax without parentheses");
      return fail(Error::FrontendDiagnostics);
    }
    return reportUnknownCall(module, call, cursor.target);
  }
  switch (row->call) {
    case Call::include:
    case Call::import:
      return root::lowerIncludeOrImportCall(module, cursor, active_outputs, call, context, row->call == Call::import);
    case Call::diagnostic: {
      const auto severity = static_cast<diagnostic::Severity>(row->unit);
      QOVRIN_TRY(root::lowerDiagnosticCall(module, context, cursor, call, severity));
      if (severity == diagnostic::Severity::error) return fail(Error::FrontendDiagnostics);
      return {};
    }
    case Call::assert_:
      return root::lowerAssertCall(module, context, cursor, call);
    case Call::isa:
      return root::lowerIsaCall(module, context, cursor, call);
    case Call::label_define:
      return lowerLabelDefine(module, context, cursor, call);
    case Call::origin:
      return lowerOrigin(module, context, cursor, call);
    case Call::region_begin:
      return lowerRegionBegin(module, context, cursor, call);
    case Call::region_file_align:
      return lowerRegionFileAlign(module, context, cursor, call);
    case Call::output_org:
      return lowerOutputOrg(module, context, cursor, call, false);
    case Call::output_section:
      return lowerOutputOrg(module, context, cursor, call, true);
    case Call::virtual_begin:
      return lowerVirtualBegin(module, context, cursor, active_outputs, call);
    case Call::virtual_end:
      return lowerVirtualEnd(module, context, cursor, active_outputs, call);
    case Call::target_switch:
      return lowerTargetSwitch(module, cursor, call, row->target);
    case Call::data:
    case Call::float_data:
    case Call::reserve_data:
      return lowerDataCall(module, context, cursor, call, *row);
    case Call::store_integer:
      return data_emission::lowerStoreCall(module, context, cursor, call, row->unit);
    case Call::store_bytes:
      return data_emission::lowerStoreCall(module, context, cursor, call, std::nullopt);
    default:
      return lowerEmissionCall(module, context, cursor, call, *row);
  }
}

}  // namespace frontend::lower::api

namespace frontend::lower::root {

qovrin::Status requireArgCount(const ast::ApiCallStatement& call, std::size_t count) noexcept {
  if (call.arguments.size() != count) return qovrin::fail(qovrin::Error::InvalidApiArity);
  return {};
}

bool isAllowedDeferredApi(std::string_view name) noexcept {
  return name == "print" || name == "warn" || name == "err" || name == "assert" || name == "store.bytes" ||
         api::storeByteCount(name).has_value();
}

}  // namespace frontend::lower::root
