#pragma once
// The cases of the statement switch, one function per statement kind, shared
// between the files that implement them.

#include "common/error.hpp"
#include "frontend/syntax/ast.hpp"
#include "frontend/lower/context.hpp"
#include "frontend/lower/active_output.hpp"
#include "frontend/lower/root.hpp"
#include "frontend/module/module.hpp"

namespace frontend::lower::statement_cases {

// What every case may read and change.
struct Lowering {
  module::Module& module;
  contracts::ActiveOutput& cursor;
  root::ActiveOutputStack& active_outputs;
  context::LowerContext& context;
};

// Declarations and calls.
qovrin::Status lowerLabel(Lowering& lowering, const ast::LabelStatement& label);
qovrin::Status lowerValueDeclaration(Lowering& lowering, const ast::ValueDeclarationStatement& declaration);
qovrin::Status lowerAssignment(Lowering& lowering, const ast::AssignmentStatement& assignment);
qovrin::Status lowerStructDeclaration(Lowering& lowering, const ast::StructDeclarationStatement& declaration);
qovrin::Status lowerApiCallStatement(Lowering& lowering, const ast::ApiCallStatement& call);
qovrin::Status lowerReturn(Lowering& lowering, const ast::ReturnStatement& statement);
qovrin::Status lowerInstructionLine(Lowering& lowering, const ast::IsaTextStatement& line);

// Control flow.
qovrin::Status lowerIf(Lowering& lowering, const ast::MetaIfStatement& statement);
qovrin::Status lowerWhile(Lowering& lowering, const ast::MetaWhileStatement& statement);
qovrin::Status lowerFor(Lowering& lowering, const ast::MetaForRangeStatement& statement);
qovrin::Status lowerLoopSignal(Lowering& lowering, const SourceLocation& location, bool is_break);

// Blocks frozen for assembly to run later.
qovrin::Status lowerDeferBlock(Lowering& lowering, const ast::DeferStatement& statement);
qovrin::Status lowerLateLayoutBlock(Lowering& lowering, const ast::LateLayoutStatement& statement);

// Fails with FrontendDiagnostics after one error diagnostic at location.
qovrin::Status reportAndFail(module::Module& module, const SourceLocation& location, std::string_view message);

}  // namespace frontend::lower::statement_cases
