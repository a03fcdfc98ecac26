// The documentation and the usage text against the command and settings
// tables: every command word and every option is described in tessel(1),
// in the README and in --help, and every command word of the table is one
// the interpreter accepts, with the argument the table says it reads.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "cli/interpreter.h"
#include "cli/options.h"
#include "cli/settings.h"
#include "cube/moves.h"

namespace tessel {
namespace {

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  EXPECT_TRUE(in) << path;
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// tessel(1) as plain text: "\-" is a hyphen, font changes (\fB, \fI, \fR,
// \fP) are dropped.
std::string man_text(std::string text) {
  std::string plain;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\\' && i + 1 < text.size() && text[i + 1] == '-') {
      plain += '-';
      ++i;
    } else if (text[i] == '\\' && i + 2 < text.size() && text[i + 1] == 'f') {
      i += 2;
    } else {
      plain += text[i];
    }
  }
  return plain;
}

bool word_char(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
         c == '-';
}

// Whether `phrase` occurs in `text` with no word character just before or
// after it: "add_edge" is not found in "add_edges", "-d" not in "-da".
bool has_phrase(const std::string& text, const std::string& phrase) {
  for (std::size_t at = text.find(phrase); at != std::string::npos;
       at = text.find(phrase, at + 1)) {
    const std::size_t end = at + phrase.size();
    if ((at == 0 || !word_char(text[at - 1])) && (end == text.size() || !word_char(text[end])))
      return true;
  }
  return false;
}

// What every description must name: each command word, each option
// spelling, and "set NAME" for every setting name.
std::vector<std::string> documented_words() {
  std::vector<std::string> words;
  for (const Command& c : commands()) words.emplace_back(c.word);
  for (const SearchSetting& s : search_settings()) {
    words.push_back(s.short_option());
    words.push_back(s.long_option());
    words.push_back(std::string("set ").append(s.short_name));
    words.push_back(std::string("set ").append(s.long_name));
  }
  for (const char* option : {"--silent", "--help", "-h", "--version"}) words.emplace_back(option);
  return words;
}

TEST(Docs, ManPageNamesEveryCommandAndOption) {
  const std::string man = man_text(read_file(TESSEL_SOURCE_DIR "/docs/tessel.1"));
  ASSERT_FALSE(man.empty());
  for (const std::string& word : documented_words()) EXPECT_TRUE(has_phrase(man, word)) << word;
}

TEST(Docs, ReadmeNamesEveryCommandAndOption) {
  const std::string readme = read_file(TESSEL_SOURCE_DIR "/README.md");
  ASSERT_FALSE(readme.empty());
  for (const std::string& word : documented_words()) EXPECT_TRUE(has_phrase(readme, word)) << word;
}

TEST(Docs, UsageTextListsEveryCommandAndOption) {
  const std::string usage = usage_text();
  for (const Command& c : commands()) {
    std::string line = std::string("\n  ").append(c.word);
    if (!c.argument_label.empty()) line.append(" ").append(c.argument_label);
    EXPECT_NE(usage.find(line.append("  ")), std::string::npos) << c.word;
  }
  for (const SearchSetting& s : search_settings()) {
    const std::string line = std::string("\n  ")
                                 .append(s.short_option())
                                 .append(", ")
                                 .append(s.long_option())
                                 .append(" N  ");
    EXPECT_NE(usage.find(line), std::string::npos) << s.long_name;
    EXPECT_TRUE(has_phrase(usage, std::string(s.short_name))) << s.short_name;
  }
}

TEST(CommandTable, WordsAreDistinctAndNoMoveName) {
  std::set<std::string_view> words;
  for (const Command& c : commands()) {
    EXPECT_TRUE(words.insert(c.word).second) << c.word;
    EXPECT_EQ(find_command(c.word), &c) << c.word;
    EXPECT_LT(move_index(std::string(c.word)), 0) << c.word;
    EXPECT_FALSE(c.summary.empty()) << c.word;
    EXPECT_EQ(c.argument_label.empty(), c.argument == CommandArgument::none) << c.word;
  }
  for (std::string_view move : all_rotations_s) EXPECT_EQ(find_command(move), nullptr) << move;
  EXPECT_EQ(find_command(""), nullptr);
  EXPECT_EQ(find_command("Print"), nullptr);
  EXPECT_EQ(find_command("add_edge "), nullptr);
}

// An argument of each kind, with the blank before it.
std::string_view sample_argument(CommandArgument kind) {
  switch (kind) {
    case CommandArgument::none:
      return "";
    case CommandArgument::word:
      return " DF";
    case CommandArgument::setting:
      return " d 3";
    case CommandArgument::choice:
      return " post";
    case CommandArgument::stickers:
      return " UUUUUUUUURRRRRRRRRFFFFFFFFFDDDDDDDDDLLLLLLLLLBBBBBBBBB";
  }
  return "";
}

// Each command word, with an argument of the kind the table gives, runs
// and reads exactly that argument: the word after it is the one reported
// as unknown.
TEST(CommandTable, InterpreterAcceptsEveryWordWithItsArgument) {
  const std::string end_word = "no_such_command";
  for (const Command& c : commands()) {
    const std::string input =
        std::string(c.word).append(sample_argument(c.argument)).append(" ").append(end_word);
    SCOPED_TRACE(input);
    std::istringstream in(input);
    std::ostringstream out, err;
    Interpreter interpreter(in, out, err);
    interpreter.set_depth_cap(3);
    const std::vector<std::string> args = {"--silent"};
    EXPECT_EQ(interpreter.run(args), 1);
    const std::string error = std::string("ERROR: Unknown command ").append(end_word).append("\n");
    EXPECT_EQ(out.str().find("ERROR"), out.str().size() - error.size()) << out.str();
    EXPECT_TRUE(out.str().ends_with(error)) << out.str();
  }
}

// Every spelling of every setting reaches its field: the two names after
// "set" and the two options.
TEST(SettingsTable, EverySpellingStoresItsField) {
  for (const SearchSetting& s : search_settings()) {
    for (const std::string& name : {std::string(s.short_name), std::string(s.long_name)}) {
      const std::string input = std::string("set ").append(name).append(" 7");
      SCOPED_TRACE(input);
      std::istringstream in(input);
      std::ostringstream out, err;
      Interpreter interpreter(in, out, err);
      ASSERT_EQ(interpreter.run(std::vector<std::string>{"--silent"}), 0);
      EXPECT_EQ(interpreter.parameters().*s.field, 7);
      for (const SearchSetting& other : search_settings())
        if (&other != &s) {
          EXPECT_EQ(interpreter.parameters().*other.field, search_parameters{}.*other.field);
        }
    }
    for (const std::string& option : {s.short_option(), s.long_option()}) {
      SCOPED_TRACE(option);
      std::istringstream in("");
      std::ostringstream out, err;
      Interpreter interpreter(in, out, err);
      ASSERT_EQ(interpreter.run(std::vector<std::string>{option, "7"}), 0);
      EXPECT_EQ(interpreter.parameters().*s.field, 7);
      EXPECT_EQ(out.str(), "INFO: Tessel 1.0.6\nINFO: " + s.banner_line.with(7) + "\n");
    }
  }
}

}  // namespace
}  // namespace tessel
