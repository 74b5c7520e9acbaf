// The calls that open, close and retarget output regions: origin,
// region.begin, region.file_align, output.org, output.section, the virtual
// regions, label.define and the target switches.

#include <string>

#include "frontend/syntax/identifier.hpp"
#include "frontend/lower/api.hpp"
#include "frontend/lower/arguments.hpp"
#include "frontend/lower/expression_materialization.hpp"
#include "frontend/lower/layout_cursor.hpp"

namespace frontend::lower::api {

using qovrin::Error;
using qovrin::fail;

namespace {

// The cursor at the start of a fresh section. The module follows it, so that
// a source included from here emits where the includer would.
void enterSection(module::Module& module, contracts::ActiveOutput& cursor, std::uint32_t section) {
  cursor = contracts::ActiveOutput{0, 0, section, cursor.target, false};
  module.setCurrentSection(section);
}

}  // namespace

qovrin::Status lowerOrigin(module::Module& module, context::LowerContext& context, contracts::ActiveOutput& cursor,
                           const ast::ApiCallStatement& call) {
  QOVRIN_TRY(root::requireArgCount(call, 1));
  const auto address = root::integerArgAtContext(module, context, cursor, call, 0);
  if (!address) return fail(address.error());
  if (!module.sections().contains(cursor.section)) return fail(Error::InvalidSection);
  module.sections()[cursor.section].base = *address;
  return {};
}

qovrin::Status lowerRegionBegin(module::Module& module, context::LowerContext& context, contracts::ActiveOutput& cursor,
                                const ast::ApiCallStatement& call) {
  QOVRIN_TRY(root::requireArgCount(call, 3));
  const auto name = root::sourcePathArgAtContext(module, context, cursor, call, 0);
  if (!name) return fail(name.error());
  const auto address = root::integerArgAtContext(module, context, cursor, call, 1);
  if (!address) return fail(address.error());
  const auto file_offset = root::integerArgAtContext(module, context, cursor, call, 2);
  if (!file_offset) return fail(file_offset.error());
  const auto section = module.createOutputSection(*name, *address, *file_offset);
  if (!section) return fail(section.error());
  enterSection(module, cursor, *section);
  return {};
}

qovrin::Status lowerRegionFileAlign(module::Module& module, context::LowerContext& context,
                                    contracts::ActiveOutput& cursor, const ast::ApiCallStatement& call) {
  QOVRIN_TRY(root::requireArgCount(call, 1));
  contracts::ActiveOutput synced = cursor;
  QOVRIN_TRY(expression_materialization::syncActiveOutput(module, synced));
  const auto alignment = root::integerArgAtContext(module, context, synced, call, 0);
  if (!alignment) return fail(alignment.error());
  if (!module.sections().contains(synced.section)) return fail(Error::InvalidSection);
  // Checked before the section takes it, so that a refused alignment changes nothing.
  const auto rounded = layout_cursor::alignForward(synced.file_cursor, *alignment);
  if (!rounded && rounded.error() == Error::InvalidAlignment) return fail(rounded.error());
  module.sections()[synced.section].alignment = *alignment;
  if (!rounded) return fail(rounded.error());
  synced.file_cursor = *rounded;
  synced.closed = true;
  cursor = synced;
  return {};
}

qovrin::Status lowerOutputOrg(module::Module& module, context::LowerContext& context, contracts::ActiveOutput& cursor,
                              const ast::ApiCallStatement& call, bool after_file_cursor) {
  QOVRIN_TRY(root::requireArgCount(call, 2));
  QOVRIN_TRY(layout_cursor::requireOpenOutputRegion(cursor));
  contracts::ActiveOutput synced = cursor;
  QOVRIN_TRY(expression_materialization::syncActiveOutput(module, synced));
  if (!module.sections().contains(synced.section)) return fail(Error::InvalidSection);
  if (module.sections()[synced.section].kind == section::SectionKind::virtual_region)
    return fail(Error::InvalidApiCall);
  const auto name = root::sourcePathArgAtContext(module, context, synced, call, 0);
  if (!name) return fail(name.error());
  const auto address = root::integerArgAtContext(module, context, synced, call, 1);
  if (!address) return fail(address.error());
  const std::uint64_t distance = after_file_cursor ? synced.file_cursor : synced.offset;
  std::uint64_t file_offset = 0;
  if (__builtin_add_overflow(module.sections()[synced.section].file_offset, distance, &file_offset))
    return fail(Error::OffsetOverflow);
  const auto section = module.createOutputSection(*name, *address, file_offset);
  if (!section) return fail(section.error());
  cursor = synced;
  enterSection(module, cursor, *section);
  return {};
}

qovrin::Status lowerVirtualBegin(module::Module& module, context::LowerContext& context,
                                 contracts::ActiveOutput& cursor, root::ActiveOutputStack& active_outputs,
                                 const ast::ApiCallStatement& call) {
  if (call.arguments.size() > 1) return fail(Error::InvalidApiArity);
  const auto base = call.arguments.empty() ? layout_cursor::activeAddress(module, cursor)
                                           : root::integerArgAtContext(module, context, cursor, call, 0);
  if (!base) return fail(base.error());
  active_outputs.push_back(cursor);
  const auto section = module.createVirtualSection(*base);
  if (!section) {
    layout_cursor::discardLastActiveOutput(active_outputs);
    return fail(section.error());
  }
  enterSection(module, cursor, *section);
  context.virtual_begins.push_back(call.location);
  return {};
}

qovrin::Status lowerVirtualEnd(module::Module& module, context::LowerContext& context, contracts::ActiveOutput& cursor,
                               root::ActiveOutputStack& active_outputs, const ast::ApiCallStatement& call) {
  QOVRIN_TRY(root::requireArgCount(call, 0));
  if (active_outputs.empty()) return fail(Error::UnmatchedVirtualEnd);
  cursor = active_outputs.back();
  active_outputs.pop_back();
  if (!context.virtual_begins.empty()) context.virtual_begins.pop_back();
  module.setTarget(cursor.target);
  module.setCurrentSection(cursor.section);
  return {};
}

qovrin::Status lowerLabelDefine(module::Module& module, context::LowerContext& context,
                                const contracts::ActiveOutput& cursor, const ast::ApiCallStatement& call) {
  QOVRIN_TRY(root::requireArgCount(call, 1));
  QOVRIN_TRY(layout_cursor::requireOpenOutputRegion(cursor));
  const auto name = root::valueArgAtContext(module, context, cursor, call, 0);
  if (!name) return fail(name.error());
  const std::string* text = name->asString();
  if (text == nullptr || !identifier::isName(*text)) return fail(Error::InvalidApiArgument);
  const auto position = layout_cursor::activeFragmentPosition(module, cursor.section);
  if (!position) return fail(position.error());
  return module.defineAnchoredLabel(*text, cursor.section, cursor.offset, *position, call.location);
}

qovrin::Status lowerTargetSwitch(module::Module& module, contracts::ActiveOutput& cursor,
                                 const ast::ApiCallStatement& call, target::Target target) {
  QOVRIN_TRY(root::requireArgCount(call, 0));
  cursor.target = target;
  module.setTarget(target);
  return {};
}

}  // namespace frontend::lower::api
