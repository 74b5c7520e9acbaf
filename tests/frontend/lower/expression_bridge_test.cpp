#include <gtest/gtest.h>

#include <utility>

#include "common/error_of.hpp"
#include "frontend/lower/aggregate_literal.hpp"
#include "frontend/lower/expression_bridge.hpp"
#include "frontend/lower/root.hpp"
#include "lower_test_support.hpp"

namespace {

namespace bridge = frontend::lower::expression_bridge;
namespace contracts = frontend::lower::contracts;
using frontend::lower::context::LowerContext;
using qovrin::Error;
using qovrin::testing::errorOf;

TEST(ExpressionBridge, ErrorMappingBothWays) {
  const std::pair<Error, Error> to_lowering[] = {
      {Error::UndefinedSymbol, Error::UndefinedSymbol},    {Error::DivisionByZero, Error::DivisionByZero},
      {Error::InvalidFragment, Error::InvalidApiArgument}, {Error::TypeMismatch, Error::InvalidExpression},
      {Error::InvalidOperand, Error::InvalidExpression},   {Error::UnexpectedEof, Error::InvalidExpression},
      {Error::DuplicateKey, Error::DuplicateKey},          {Error::OutOfMemory, Error::OutOfMemory},
  };
  for (const auto& [from, to] : to_lowering) EXPECT_EQ(bridge::mapExpressionError(from), to) << qovrin::errorName(from);
  const std::pair<Error, Error> to_expression[] = {
      {Error::UnknownField, Error::UnknownField},
      {Error::InvalidApiArgument, Error::InvalidApiArgument},
      {Error::DuplicateFieldName, Error::InvalidOperand},
      {Error::SideEffectInValueFunction, Error::InvalidOperand},
  };
  for (const auto& [from, to] : to_expression)
    EXPECT_EQ(bridge::mapLowerErrorToExpression(from), to) << qovrin::errorName(from);
}

TEST(FileHooks, AnswersWithAndWithoutFileAccess) {
  lower_test::Files files;
  files.texts["a.txt"] = "alpha";
  contracts::PathOptions options = lower_test::pathOptions(files);
  options.list_file_include_directory =
      [](const contracts::IncludeRequest& request) -> qovrin::Result<std::vector<std::string>> {
    if (request.name == "full") return qovrin::fail(Error::OutOfMemory);
    if (request.name != "dir") return qovrin::fail(Error::FileNotFound);
    return std::vector<std::string>{"x", "y"};
  };
  LowerContext context(options);
  bridge::bindHooks(context);
  const auto request = [](std::string_view name) { return contracts::IncludeRequest{name, std::nullopt, {}, 0, std::nullopt, true}; };

  const auto file = bridge::readResolvedMetaFile(context, request("a.txt"));
  ASSERT_TRUE(file);
  EXPECT_EQ(file->text, "alpha");
  EXPECT_EQ(errorOf(bridge::readResolvedMetaFile(context, request("b.txt"))), Error::FileNotAvailable);
  EXPECT_EQ(bridge::metaFileExists(context, request("a.txt")), true);
  EXPECT_EQ(bridge::metaFileExists(context, request("b.txt")), false);
  EXPECT_EQ(bridge::metaFileIsDir(context, request("dir")), true);
  EXPECT_EQ(bridge::metaFileIsDir(context, request("broken")), false);
  EXPECT_EQ(bridge::listResolvedMetaDir(context, request("dir")), (std::vector<std::string>{"x", "y"}));
  EXPECT_EQ(errorOf(bridge::listResolvedMetaDir(context, request("nodir"))), Error::FileNotAvailable);
  EXPECT_EQ(errorOf(bridge::listResolvedMetaDir(context, request("full"))), Error::OutOfMemory);
  ASSERT_TRUE(context.file_hooks.available && context.file_hooks.read);
  EXPECT_EQ(context.file_hooks.read("a.txt", "", std::nullopt, 5), std::string("alpha"));

  options.files_available = false;
  LowerContext closed(options);
  bridge::bindHooks(closed);
  EXPECT_FALSE(closed.file_hooks.available);
  EXPECT_EQ(errorOf(bridge::readResolvedMetaFile(closed, request("a.txt"))), Error::FileNotAvailable);
  EXPECT_EQ(bridge::metaFileExists(closed, request("a.txt")), false);
  EXPECT_EQ(bridge::metaFileIsDir(closed, request("dir")), false);
  EXPECT_EQ(errorOf(bridge::listResolvedMetaDir(closed, request("dir"))), Error::FileNotAvailable);
}

TEST(FileHooks, BaseFollowsTheSourceBeingLowered) {
  lower_test::Files files;
  files.texts["lib/inner.qov"] = "let x = 1\n";
  contracts::PathOptions options = lower_test::pathOptions(files);
  std::vector<std::string> bases;
  const auto resolve = options.resolve_file_include;
  options.resolve_file_include = [&](const contracts::IncludeRequest& request) {
    bases.emplace_back(request.base.value_or("<none>"));
    return resolve(request);
  };
  frontend::module::Module module(frontend::target::Target::x86(64));
  ASSERT_TRUE(frontend::lower::root::lowerSourceIntoModuleWithPathOptions(module, "src/main.qov",
                                                                          "include(\"lib/inner.qov\")\n", options));
  EXPECT_EQ(bases, std::vector<std::string>{"src/main.qov"});
}

TEST(StructLiteralHook, BuildsFromRawTextAtTheEvaluationPosition) {
  frontend::module::Module module(frontend::target::Target::x86(64));
  ASSERT_TRUE(lower_test::lower(module, "struct P {\n  x: u8\n  y: u8 = 9\n}\n").status);
  LowerContext context({});
  bridge::bindHooks(context);
  frontend::expr::EvaluationContext evaluation{.module = module};
  EXPECT_EQ(errorOf(frontend::lower::root::evalStructLiteralValue(context, "P{ x: 1 }", evaluation)),
            Error::MissingEvaluationContext);
  evaluation.current_section = 0;
  const auto built = frontend::lower::root::evalStructLiteralValue(context, " P{ x: 1 }\n", evaluation);
  ASSERT_TRUE(built);
  ASSERT_NE(built->asStruct(), nullptr);
  EXPECT_EQ(built->asStruct()->fieldValueByName("y")->asInteger()->word, 9u);
  const std::pair<std::string_view, Error> failures[] = {
      {"1 + 2", Error::InvalidApiArgument},
      {"P{ x: 1, x: 2 }", Error::InvalidOperand},
      {"P{ y: 1 }", Error::MissingStructFieldValue},
      {"Q{ x: 1 }", Error::UnknownTypeName},
  };
  for (const auto& [text, error] : failures)
    EXPECT_EQ(errorOf(frontend::lower::root::evalStructLiteralValue(context, text, evaluation)), error) << text;
}

}  // namespace

namespace {

// A module whose only instruction cannot be encoded: any encode pass fails.
TEST(OutputLoads, ReadTheImageWithoutEncodingAgain) {
  frontend::module::Module module(frontend::target::Target::x86(64));
  ASSERT_TRUE(module.appendIsaInstruction(0, module.target(), "no_such_mnemonic", {}));
  lower_test::Files files;
  LowerContext context(lower_test::pathOptions(files));
  const contracts::ActiveOutput cursor{0, 0, 0, module.target(), false};
  const auto load = frontend::expr::parseOwned("load.u8(0)");
  ASSERT_TRUE(load);

  EXPECT_TRUE(errorOf(frontend::lower::root::evalIntegerAtContext(module, context, cursor, *load)));

  const frontend::output::image::ImageRegion region{0, 0, 1, 1, 0};
  std::uint8_t byte = 42;
  const frontend::output::image::Image image{0, std::span(&region, 1), std::span(&byte, 1)};
  context.output_image = &image;
  EXPECT_EQ(frontend::lower::root::evalIntegerAtContext(module, context, cursor, *load), 42u);
  const auto value = frontend::lower::root::evalValueAtContext(module, context, cursor, *load);
  ASSERT_TRUE(value);
  EXPECT_EQ(value->asInteger()->word, 42u);
}

}  // namespace
