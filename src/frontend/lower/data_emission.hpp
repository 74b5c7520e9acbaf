#pragma once
// The calls that put bytes into the output while lowering runs, or overwrite
// bytes already there: emit.*, the data and reserve directives, reserve, pad,
// pad_to, align, isa and store.*. Each emitting call adds one fragment at
// the call's line, or its bytes join the open run as one more line, and
// moves the write position past them.

#include <cstdint>
#include <optional>
#include <vector>

#include "common/error.hpp"
#include "frontend/syntax/ast.hpp"
#include "frontend/lower/context.hpp"
#include "frontend/lower/active_output.hpp"
#include "frontend/module/module.hpp"
#include "frontend/values/value.hpp"

namespace frontend::lower::data_emission {

// Moves the cursor past the fragment a module call just appended.
qovrin::Status advancePast(module::Module& module, contracts::ActiveOutput& cursor,
                           const qovrin::Result<std::uint32_t>& appended);

// emit.u8 .. emit.u64 (width 1, 2, 4, 8).
qovrin::Status lowerIntegerEmitCall(module::Module& module, context::LowerContext& context,
                                    contracts::ActiveOutput& cursor, const ast::ApiCallStatement& call,
                                    std::uint64_t width);
qovrin::Status lowerBytesEmitCall(module::Module& module, context::LowerContext& context,
                                  contracts::ActiveOutput& cursor, const ast::ApiCallStatement& call);
qovrin::Status lowerStructEmitCall(module::Module& module, context::LowerContext& context,
                                   contracts::ActiveOutput& cursor, const ast::ApiCallStatement& call);
qovrin::Status lowerReserveCall(module::Module& module, context::LowerContext& context, contracts::ActiveOutput& cursor,
                                const ast::ApiCallStatement& call);
// pad(count [, fill]) or, with to_target, pad_to(target [, fill]).
qovrin::Status lowerPadCall(module::Module& module, context::LowerContext& context, contracts::ActiveOutput& cursor,
                            const ast::ApiCallStatement& call, bool to_target);
qovrin::Status lowerAlignCall(module::Module& module, context::LowerContext& context, contracts::ActiveOutput& cursor,
                              const ast::ApiCallStatement& call);
// store.u8 .. store.u64 with their width, store.bytes without one. Writes
// nothing unless the whole range lies in emitted bytes.
qovrin::Status lowerStoreCall(module::Module& module, context::LowerContext& context,
                              const contracts::ActiveOutput& cursor, const ast::ApiCallStatement& call,
                              std::optional<std::uint64_t> width);

}  // namespace frontend::lower::data_emission

namespace frontend::lower::root {

// db (integers, strings and byte strings) and dw .. ddqq (integers only).
qovrin::Status lowerDataEmitCall(module::Module& module, context::LowerContext& context,
                                 contracts::ActiveOutput& cursor, const ast::ApiCallStatement& call,
                                 std::uint64_t unit);
// emit.f32 / emit.f64: the float kind must match the width exactly.
qovrin::Status lowerFloatEmitCall(module::Module& module, context::LowerContext& context,
                                  contracts::ActiveOutput& cursor, const ast::ApiCallStatement& call,
                                  std::uint64_t unit);
// rb .. rdqq: count times unit bytes of space.
qovrin::Status lowerDataReserveCall(module::Module& module, context::LowerContext& context,
                                    contracts::ActiveOutput& cursor, const ast::ApiCallStatement& call,
                                    std::uint64_t unit);
// emit.file(path) or emit.file(path, offset, length).
qovrin::Status lowerFileEmitCall(module::Module& module, context::LowerContext& context,
                                 contracts::ActiveOutput& cursor, const ast::ApiCallStatement& call);
// isa(text): one instruction line given as a string.
qovrin::Status lowerIsaCall(module::Module& module, context::LowerContext& context, contracts::ActiveOutput& cursor,
                            const ast::ApiCallStatement& call);

// The struct value in its type's layout.
qovrin::Result<value::Bytes> emitStructValue(const module::Module& module, const value::Value& structure);

}  // namespace frontend::lower::root
