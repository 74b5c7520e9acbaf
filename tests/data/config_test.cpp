#include "data/config.hpp"

#include <gtest/gtest.h>

#include <string>
#include <string_view>

namespace {

using data::config::ConfigNote;

std::string place(std::uint64_t line, std::uint64_t column) {
  return std::to_string(line) + ":" + std::to_string(column);
}

// The settings a project file gives, one "key=value" each, then a "warn"
// for every key the build does not read; or the error with where it lies and
// why.
std::string describe(std::string_view text) {
  const auto document = data::toml_parser::parse(text);
  if (!document) return "!toml " + std::string(qovrin::errorName(document.error()));
  ConfigNote why;
  const auto config = data::config::projectConfigFromToml(document->root, &why);
  if (!config)
    return "!" + std::string(qovrin::errorName(config.error())) + " " + place(why.at.line, why.at.column) + " " +
           why.message;
  std::string out;
  const auto add = [&](std::string_view item) { out += (out.empty() ? "" : " ") + std::string(item); };
  const std::pair<std::string_view, const std::optional<std::string>*> texts[] = {
      {"source", &config->source}, {"output", &config->output}, {"target", &config->target},
      {"isa", &config->isa},       {"os", &config->os},         {"abi", &config->abi}};
  for (const auto& [name, value] : texts)
    if (*value) add(std::string(name) + "=" + **value);
  if (config->bits) add("bits=" + std::to_string(*config->bits));
  for (const auto& define : config->defines) {
    std::string value;
    if (const auto* number = std::get_if<std::uint64_t>(&define.value)) value = std::to_string(*number);
    if (const auto* flag = std::get_if<bool>(&define.value)) value = *flag ? "true" : "false";
    if (const auto* string = std::get_if<std::string>(&define.value)) value = '"' + *string + '"';
    add("define " + define.name + "=" + value);
  }
  for (const auto& file : config->includeFiles) add("include " + file);
  for (const ConfigNote& note : data::config::unknownKeys(document->root))
    add("| warn " + place(note.at.line, note.at.column) + " " + note.message);
  return out;
}

TEST(ProjectConfig, EdgesOfTheValuesTheBuildReads) {
  const std::pair<std::string_view, std::string_view> cases[] = {
      {"", ""},
      {"[target]\nisa = \"x86\"\nbits = 65535\n", "isa=x86 bits=65535"},
      {"[target]\nisa = \"x86\"\nbits = 65536\n",
       "!InvalidTargetConfig 3:8 'bits' in [target] must be from 0 to 65535, not 65536"},
      {"[target]\nbits = -1\n", "!InvalidTargetConfig 2:8 'bits' in [target] must be from 0 to 65535, not -1"},
      {"[target]\nbits = 0\n", "bits=0"},
      {"[target]\nbits = \"64\"\n", "!InvalidTargetConfig 2:8 'bits' in [target] must be an integer, not a string"},
      {"[defines]\nZERO = 0\nOFF = false\nNONE = \"\"\nBIG = 9223372036854775807\n",
       "define ZERO=0 define OFF=false define NONE=\"\" define BIG=9223372036854775807"},
      {"[defines]\nN = -1\n", "!InvalidDefineValue 2:5 'N' in [defines] must not be negative (-1)"},
      {"[defines]\nPI = 3.5\n",
       "!InvalidDefineValue 2:6 'PI' in [defines] must be a string, a boolean or an integer, not a float"},
      // An empty key is a key like any other, and no key the build reads.
      {"[build]\n\"\" = \"src/a.qov\"\nsource = \"b.qov\"\n[target]\n\"\" = 64\n",
       "source=b.qov | warn 2:1 unknown key '' in [build] is ignored; it reads source, output, target"
       " | warn 5:1 unknown key '' in [target] is ignored; it reads isa, bits, os, abi"},
      // The key is kept as written here; whoever prints a note escapes it.
      {"[defines]\n\"\x1b[2J\" = -1\n",
       "!InvalidDefineValue 2:10 '\x1b[2J' in [defines] must not be negative (-1)"},
      {"[include]\nfiles = [\"a.qov\", \"\"]\n", "include a.qov include "},
      {"[include]\nfiles = [\"a.qov\", 1]\n",
       "!InvalidBuildConfig 2:19 each element of 'files' in [include] must be a string, not an integer"},
  };
  for (const auto& [text, expected] : cases) EXPECT_EQ(describe(text), expected) << text;
}

}  // namespace
