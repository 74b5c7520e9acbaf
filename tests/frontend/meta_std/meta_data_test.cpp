#include "frontend/meta_std/meta_data_eval.hpp"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "common/error_of.hpp"

using qovrin::testing::errorOf;

namespace {

namespace meta_data = frontend::meta_data;
using frontend::meta_io::MetaFileHooks;
using frontend::meta_data::MetaDataBuiltin;
using frontend::value::Bytes;
using frontend::value::Value;
using frontend::value::ValueKind;
using qovrin::Error;

// Compact text of a value: null, 1, true, "s", b"s", [items], {key:value}.
std::string render(const Value& value) {
  switch (value.kind()) {
    case ValueKind::void_: return "null";
    case ValueKind::integer: return std::to_string(value.asInteger()->word);
    case ValueKind::boolean: return std::get<bool>(value.storage()) ? "true" : "false";
    case ValueKind::string: return '"' + *value.asString() + '"';
    case ValueKind::bytes: return "b\"" + std::string(value.asBytes()->begin(), value.asBytes()->end()) + '"';
    case ValueKind::list: {
      std::string out = "[";
      for (const Value& item : value.asList()->items()) out += (out.size() > 1 ? "," : "") + render(item);
      return out + "]";
    }
    case ValueKind::map: {
      std::string out = "{";
      for (const auto& entry : value.asMap()->entries())
        out += (out.size() > 1 ? "," : "") + entry.key + ":" + render(entry.value);
      return out + "}";
    }
    default: return "?";
  }
}

std::string rendered(const qovrin::Result<Value>& result) {
  return result ? render(*result) : "error " + std::string(qovrin::errorName(result.error()));
}

TEST(MetaJson, ReadsValues) {
  const std::string long_integer = "1" + std::string(400, '0');
  const std::pair<std::string_view, std::string_view> cases[] = {
      {R"([1, "a", true, null, {"k": 2}])", R"([1,"a",true,null,{k:2}])"},
      {R"({"b":1,"a":2})", "{b:1,a:2}"},
      {" \n\t0 ", "0"},
      {"9223372036854775807", "9223372036854775807"},
      {R"("\u00e9\n")", "\"\xC3\xA9\n\""},
      {R"({"a": {"a": []}, "b": {}})", "{a:{a:[]},b:{}}"},
      {"[1, -1,", "error UnexpectedEndOfInput"},
      {"[-1,", "error UnexpectedEndOfInput"},
      {R"("open)", "error UnexpectedEndOfInput"},
      {"", "error UnexpectedEndOfInput"},
      {"[1,]", "error SyntaxError"},
      {"[1] 2", "error SyntaxError"},
      {"tru", "error UnexpectedEndOfInput"},
      {"trux", "error SyntaxError"},
      {std::string_view("1\0 2", 4), "error SyntaxError"},
      {std::string_view("[-1\0", 4), "error SyntaxError"},
      {R"({"k":-1,"k":2})", "error DuplicateField"},
      {R"([-1, {"k":1,"k":2}])", "error DuplicateField"},
      {R"([-1, x])", "error SyntaxError"},
      {"-1", "error InvalidApiInteger"},
      {"[1.5, -1]", "error TypeMismatch"},
      {"[-1, 1.5]", "error InvalidApiInteger"},
      {"-0", "error TypeMismatch"},
      {"1e2", "error TypeMismatch"},
      {"9223372036854775808", "error TypeMismatch"},
      {"18446744073709551616", "error TypeMismatch"},
      {"-9223372036854775809", "error TypeMismatch"},
      // Past a double's range, still valid JSON: the same refusal as 1e308,
      // and the text after the number is still read.
      {"1e400", "error TypeMismatch"},
      {"[-1e400]", "error TypeMismatch"},
      {R"({"a": "1e400", "b": 1E+999})", "error TypeMismatch"},
      {long_integer, "error TypeMismatch"},
      {"[-1, 1e400]", "error InvalidApiInteger"},
      {"[1e400, ]", "error SyntaxError"},
      {"[1e400x]", "error SyntaxError"},
      {"[1e400,", "error UnexpectedEndOfInput"},
      {R"({"k": 1e400, "k": 2})", "error DuplicateField"},
  };
  for (const auto& [text, expected] : cases) EXPECT_EQ(rendered(meta_data::parseJsonValue(text)), expected) << text;
}

TEST(MetaJson, DeepNestingIsRefusedNotACrash) {
  EXPECT_EQ(errorOf(meta_data::parseJsonValue(std::string(100000, '['))), Error::NestingTooDeep);
  const std::string deepest = std::string(meta_data::kMaxJsonDepth, '[') + std::string(meta_data::kMaxJsonDepth, ']');
  EXPECT_TRUE(meta_data::parseJsonValue(deepest));
  EXPECT_EQ(errorOf(meta_data::parseJsonValue("[" + deepest + "]")), Error::NestingTooDeep);
  EXPECT_EQ(errorOf(meta_data::parseJsonValue("{\"k\": " + deepest + "}")), Error::NestingTooDeep);
}

// The reader stops at the first level past the limit, before it reads on: a
// document that goes wrong further in is refused for its depth, while one a
// level shallower is read on to what is wrong with it.
TEST(MetaJson, ReadingStopsAtTheFirstLevelPastTheLimit) {
  const std::size_t limit = meta_data::kMaxJsonDepth;
  const auto objects = [](std::size_t count) {
    std::string text;
    for (std::size_t level = 0; level < count; ++level) text += "{\"k\":";
    return text;
  };
  const std::pair<std::string, Error> cases[] = {
      {std::string(limit, '['), Error::UnexpectedEndOfInput},
      {std::string(limit + 1, '['), Error::NestingTooDeep},
      {std::string(limit, '[') + "x", Error::SyntaxError},
      {std::string(limit + 1, '[') + "x", Error::NestingTooDeep},
      {objects(limit), Error::UnexpectedEndOfInput},
      {objects(limit + 1), Error::NestingTooDeep},
  };
  for (const auto& [text, error] : cases)
    EXPECT_EQ(errorOf(meta_data::parseJsonValue(text)), error)
        << text.size() << " bytes ending " << text.substr(text.size() - 6);
}

TEST(MetaToml, ConvertsDocuments) {
  const std::pair<std::string_view, std::string_view> cases[] = {
      {"", "{}"},
      {"b = 1 a = 2", "{b:1,a:2}"},
      {"[t] x = 1", "{t:{x:1}}"},
      {"a = [true, 'x', {k = 0}]\n[[t]]\n[[t]]\nn = 3", R"({a:[true,"x",{k:0}],t:[{},{n:3}]})"},
      {"a = 1.5", "error TypeMismatch"},
      {"a = [1, 1979-05-27]", "error TypeMismatch"},
      {"a = -1", "error InvalidApiInteger"},
      {"a = ", "error Syntax"},
      {"a = 1\n[a]", "error DuplicateKey"},
      {"a = 9223372036854775808", "error Overflow"},
  };
  for (const auto& [text, expected] : cases) {
    EXPECT_EQ(rendered(meta_data::evalTomlParse(std::vector{Value::string(std::string(text))})), expected) << text;
    EXPECT_EQ(rendered(meta_data::evalTomlParse(std::vector{Value::bytes(Bytes(text.begin(), text.end()))})), expected)
        << text;
  }
}

// Files and folders held in memory, found relative to the base path.
struct MemoryFiles {
  std::map<std::string, std::string, std::less<>> files;
  std::map<std::string, std::vector<std::string>, std::less<>> folders;

  static std::string resolve(std::string_view name, std::string_view base) {
    return base.empty() ? std::string(name) : std::string(base) + "/" + std::string(name);
  }

  MetaFileHooks hooks() const {
    MetaFileHooks hooks;
    hooks.available = true;
    hooks.base_path = "root";
    hooks.read = [this](std::string_view name, std::string_view base,
                        std::optional<frontend::meta_io::FileWindow> window,
                        std::uint64_t limit) -> qovrin::Result<std::string> {
      const auto found = files.find(resolve(name, base));
      if (found == files.end()) return qovrin::fail(Error::FileNotAvailable);
      const std::string& content = found->second;
      if (!window) {
        if (content.size() > limit) return qovrin::fail(Error::OutputTooLarge);
        return content;
      }
      if (window->offset > content.size() || window->length > content.size() - window->offset)
        return qovrin::fail(Error::InvalidApiInteger);
      if (window->length > limit) return qovrin::fail(Error::OutputTooLarge);
      return content.substr(window->offset, window->length);
    };
    hooks.exists = [this](std::string_view name, std::string_view base) -> qovrin::Result<bool> {
      return files.contains(resolve(name, base));
    };
    hooks.list = [this](std::string_view name, std::string_view base) -> qovrin::Result<std::vector<std::string>> {
      const auto found = folders.find(resolve(name, base));
      if (found == folders.end()) return qovrin::fail(Error::FileNotAvailable);
      return found->second;
    };
    hooks.is_directory = [this](std::string_view name, std::string_view base) -> qovrin::Result<bool> {
      return folders.contains(resolve(name, base));
    };
    return hooks;
  }
};

Value text(std::string_view content) { return Value::string(std::string(content)); }

TEST(MetaFiles, ReadThroughTheHooks) {
  MemoryFiles memory;
  memory.files = {{"root/f.bin", "0123456789"},
                  {"root/c.toml", "[t]\nx = 1"},
                  {"root/c.json", R"({"k": [1]})"},
                  {"root/bad.json", "[-1"}};
  memory.folders = {{"root/d", {"b", "a.txt", "B", "a", "sub"}}};
  const MetaFileHooks hooks = memory.hooks();
  MetaFileHooks no_predicates = hooks;
  no_predicates.is_directory = nullptr;
  no_predicates.list = nullptr;

  const std::tuple<MetaDataBuiltin, std::vector<Value>, const MetaFileHooks*, std::string_view> cases[] = {
      {MetaDataBuiltin::fs_exists, {text("f.bin")}, &hooks, "true"},
      {MetaDataBuiltin::fs_exists, {text("missing")}, &hooks, "false"},
      {MetaDataBuiltin::fs_is_dir, {text("d")}, &hooks, "true"},
      {MetaDataBuiltin::fs_is_dir, {text("f.bin")}, &hooks, "false"},
      {MetaDataBuiltin::fs_is_dir, {text("d")}, &no_predicates, "false"},
      {MetaDataBuiltin::fs_read_text, {text("f.bin")}, &hooks, R"("0123456789")"},
      {MetaDataBuiltin::fs_read_bytes, {text("f.bin")}, &hooks, R"(b"0123456789")"},
      {MetaDataBuiltin::fs_read_bytes, {text("f.bin"), Value::integer(2), Value::integer(3)}, &hooks, R"(b"234")"},
      {MetaDataBuiltin::fs_read_bytes, {text("f.bin"), Value::integer(10), Value::integer(0)}, &hooks, R"(b"")"},
      {MetaDataBuiltin::fs_list_dir, {text("d")}, &hooks, R"(["B","a","a.txt","b","sub"])"},
      {MetaDataBuiltin::toml_file, {text("c.toml")}, &hooks, "{t:{x:1}}"},
      {MetaDataBuiltin::json_file, {text("c.json")}, &hooks, "{k:[1]}"},
      {MetaDataBuiltin::json_parse, {Value::bytes({'[', '7', ']'})}, nullptr, "[7]"},
      {MetaDataBuiltin::toml_parse, {text("a = 'x'")}, nullptr, R"({a:"x"})"},
  };
  for (const auto& [builtin, arguments, file_hooks, expected] : cases)
    EXPECT_EQ(rendered(meta_data::evalDataBuiltin(builtin, arguments, file_hooks)), expected)
        << meta_data::kBuiltinNames[static_cast<std::size_t>(builtin)];
}

TEST(MetaFiles, RefuseInOrder) {
  MemoryFiles memory;
  memory.files = {{"root/f.bin", "0123456789"}, {"root/bad.json", "[-1"}, {"root/bad.toml", "a = 1.5"}};
  const MetaFileHooks hooks = memory.hooks();
  const MetaFileHooks unavailable;
  MetaFileHooks no_list = hooks;
  no_list.list = nullptr;

  const std::tuple<MetaDataBuiltin, std::vector<Value>, const MetaFileHooks*, Error> cases[] = {
      {MetaDataBuiltin::fs_exists, {}, &hooks, Error::InvalidArgument},
      {MetaDataBuiltin::fs_exists, {Value::integer(1)}, &hooks, Error::TypeMismatch},
      {MetaDataBuiltin::fs_read_text, {text("a"), text("b")}, nullptr, Error::InvalidArgument},
      {MetaDataBuiltin::fs_read_text, {Value::integer(1)}, nullptr, Error::FileNotAvailable},
      {MetaDataBuiltin::fs_read_text, {Value::integer(1)}, &unavailable, Error::FileNotAvailable},
      {MetaDataBuiltin::fs_read_text, {Value::integer(1)}, &hooks, Error::TypeMismatch},
      {MetaDataBuiltin::fs_read_text, {text("missing")}, &hooks, Error::FileNotAvailable},
      {MetaDataBuiltin::fs_read_bytes, {text("f.bin"), Value::integer(0)}, &hooks, Error::InvalidArgument},
      {MetaDataBuiltin::fs_read_bytes, {text("f.bin"), Value::integer(0), text("1")}, &hooks, Error::TypeMismatch},
      {MetaDataBuiltin::fs_read_bytes, {text("f.bin"), Value::integer(11), Value::integer(0)}, &hooks,
       Error::InvalidApiInteger},
      {MetaDataBuiltin::fs_read_bytes, {text("f.bin"), Value::integer(1), Value::integer(10)}, &hooks,
       Error::InvalidApiInteger},
      {MetaDataBuiltin::fs_read_bytes, {text("f.bin"), Value::integer(1), Value::integer(~std::uint64_t{0})}, &hooks,
       Error::InvalidApiInteger},
      {MetaDataBuiltin::fs_list_dir, {text("d")}, &no_list, Error::FileNotAvailable},
      {MetaDataBuiltin::fs_list_dir, {text("nowhere")}, &hooks, Error::FileNotAvailable},
      {MetaDataBuiltin::toml_file, {text("bad.toml")}, &hooks, Error::TypeMismatch},
      {MetaDataBuiltin::toml_file, {text("missing")}, &unavailable, Error::FileNotAvailable},
      {MetaDataBuiltin::json_file, {text("bad.json")}, &hooks, Error::UnexpectedEndOfInput},
      {MetaDataBuiltin::json_parse, {Value::integer(1)}, &hooks, Error::TypeMismatch},
      {MetaDataBuiltin::toml_parse, {}, &hooks, Error::InvalidArgument},
  };
  for (const auto& [builtin, arguments, file_hooks, error] : cases)
    EXPECT_EQ(errorOf(meta_data::evalDataBuiltin(builtin, arguments, file_hooks)), error)
        << meta_data::kBuiltinNames[static_cast<std::size_t>(builtin)];
}

TEST(MetaFiles, PredicatesAnswerFalseWithoutFiles) {
  const MetaFileHooks unavailable;
  for (const MetaDataBuiltin builtin : {MetaDataBuiltin::fs_exists, MetaDataBuiltin::fs_is_dir}) {
    EXPECT_EQ(rendered(meta_data::evalDataBuiltin(builtin, std::vector{text("a.txt")}, nullptr)), "false");
    EXPECT_EQ(rendered(meta_data::evalDataBuiltin(builtin, std::vector{text("a.txt")}, &unavailable)), "false");
  }
}

}  // namespace
