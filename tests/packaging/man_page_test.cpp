// The manual pages and the shell completion name exactly the options each program's --help
// names, so that neither can drift from the program. Only option names are compared: the
// wording of either side may change freely.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

namespace dialmend {
namespace {

const std::string kPackaging = DIALMEND_SOURCE_DIR "/packaging";

struct Program {
  const char* name;
  const char* exe;
};

void PrintTo(const Program& program, std::ostream* out) {
  *out << program.name;
}

std::string Read(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  EXPECT_TRUE(in.good()) << "Cannot read " << path;
  return {std::istreambuf_iterator<char>(in), {}};
}

std::string HelpOf(const Program& program) {
  const std::string command = std::string(program.exe) + " --help";
  std::FILE* pipe = ::popen(command.c_str(), "r");
  EXPECT_NE(pipe, nullptr) << "Cannot start " << command;
  if (pipe == nullptr) return {};
  std::string text;
  char block[4096];
  for (std::size_t n; (n = std::fread(block, 1, sizeof block, pipe)) > 0;) text.append(block, n);
  EXPECT_EQ(::pclose(pipe), 0) << command << " failed";
  return text;
}

std::set<std::string> Matches(const std::string& text, const std::regex& pattern, int group) {
  std::set<std::string> found;
  for (std::sregex_iterator it(text.begin(), text.end(), pattern), end; it != end; ++it) {
    found.insert((*it)[group].str());
  }
  return found;
}

// Every long option the text names, as `--name`.
std::set<std::string> PlainOptions(const std::string& text) {
  return Matches(text, std::regex(R"(--[a-z][a-z0-9-]*)"), 0);
}

// Every long option roff text names: the dashes are written `\-` there.
std::set<std::string> RoffOptions(const std::string& text) {
  std::set<std::string> found;
  for (std::string name : Matches(text, std::regex(R"(\\-\\-[a-z](?:[a-z0-9]|\\-)*)"), 0)) {
    found.insert(std::regex_replace(name, std::regex(R"(\\-)"), "-"));
  }
  return found;
}

// fish names a long option by `-l name`.
std::set<std::string> FishOptions(const std::string& text) {
  std::set<std::string> found;
  for (const std::string& name : Matches(text, std::regex(R"(\s-l\s+([a-z][a-z0-9-]*))"), 1)) {
    found.insert("--" + name);
  }
  return found;
}

// The body of the manual page's section `heading`, up to the next section.
std::string Section(const std::string& page, const std::string& heading) {
  const std::string start = "\n.SH " + heading + "\n";
  const std::size_t from = page.find(start);
  if (from == std::string::npos) return {};
  const std::size_t to = page.find("\n.SH ", from + start.size());
  return page.substr(from + start.size(), to == std::string::npos ? to : to - from - start.size());
}

// The lines of the help that name `option`, to show beside a failure.
std::string HelpLinesNaming(const std::string& help, const std::string& option) {
  std::istringstream in(help);
  std::string lines;
  for (std::string line; std::getline(in, line);) {
    if (PlainOptions(line).count(option) != 0) lines += "\n    " + line;
  }
  return lines;
}

// Fails once for each option one side names and the other does not, saying what to change.
void ExpectSameOptions(const Program& program, const std::string& help,
                       const std::set<std::string>& listed, const std::string& where) {
  const std::set<std::string> in_help = PlainOptions(help);
  for (const std::string& option : in_help) {
    EXPECT_EQ(listed.count(option), 1u)
        << program.name << " --help names " << option << " but " << where
        << " does not: add it there (scripts/sync-option-docs drafts it from the help). The help "
        << "says:" << HelpLinesNaming(help, option);
  }
  for (const std::string& option : listed) {
    EXPECT_EQ(in_help.count(option), 1u)
        << where << " names " << option << " but " << program.name
        << " --help does not: remove it there, or add it to the help.";
  }
}

// The command-line programs, whose help ends with their exit statuses.
std::vector<Program> CommandLinePrograms() {
  return {{"dialmend-run", DIALMEND_RUN_EXE}, {"dialmend-convert", DIALMEND_CONVERT_EXE}};
}

std::vector<Program> Programs() {
  std::vector<Program> programs = CommandLinePrograms();
#ifdef DIALMEND_WINDOW_EXE
  programs.push_back({"dialmend", DIALMEND_WINDOW_EXE});
#endif
  return programs;
}

// A test name's part for a program: gtest names take no '-'.
std::string NameOf(std::string name) {
  for (char& c : name) {
    if (c == '-') c = '_';
  }
  return name;
}

// A file that lists the options: its path below packaging/ ('%' for the program's name), the
// manual page section that holds them (null: the whole file), and how they are written there.
struct OptionList {
  const char* name;
  const char* path;
  const char* section;
  std::set<std::string> (*options)(const std::string&);
};

void PrintTo(const OptionList& list, std::ostream* out) {
  *out << list.name;
}

const OptionList kOptionLists[] = {
    {"ManPageOptions", "man/%.1", "OPTIONS", RoffOptions},
    {"ManPageSynopsis", "man/%.1", "SYNOPSIS", RoffOptions},
    {"BashCompletion", "completion/bash/%", nullptr, PlainOptions},
    {"ZshCompletion", "completion/zsh/_%", nullptr, PlainOptions},
    {"FishCompletion", "completion/fish/%.fish", nullptr, FishOptions},
};

class OptionLists : public testing::TestWithParam<std::tuple<Program, OptionList>> {};

TEST_P(OptionLists, NameExactlyTheOptionsOfTheHelp) {
  const auto& [program, list] = GetParam();
  const std::string help = HelpOf(program);
  ASSERT_EQ(PlainOptions(help).count("--version"), 1u) << help;
  std::string path = list.path;
  path = kPackaging + "/" + path.replace(path.find('%'), 1, program.name);
  std::string text = Read(path);
  std::string where = path;
  if (list.section != nullptr) {
    text = Section(text, list.section);
    ASSERT_FALSE(text.empty()) << path << " has no " << list.section << " section";
    where = "the " + std::string(list.section) + " of " + path;
  }
  ExpectSameOptions(program, help, list.options(text), where);
}

INSTANTIATE_TEST_SUITE_P(Programs, OptionLists,
                         testing::Combine(testing::ValuesIn(Programs()),
                                          testing::ValuesIn(kOptionLists)),
                         [](const auto& info) {
                           return NameOf(std::get<0>(info.param).name) + "_" +
                                  std::get<1>(info.param).name;
                         });

class ManPageExitStatus : public testing::TestWithParam<Program> {};

TEST_P(ManPageExitStatus, ListsEveryExitStatusTheHelpGives) {
  const std::string help = HelpOf(GetParam());
  const std::size_t at = help.find("Exit status:");
  ASSERT_NE(at, std::string::npos) << GetParam().name << " --help gives no exit status";
  const std::string path = kPackaging + "/man/" + GetParam().name + ".1";
  const std::string statuses = Section(Read(path), "EXIT STATUS");
  const std::set<std::string> in_page = Matches(statuses, std::regex(R"(\n\.B (\d+)\n)"), 1);
  // The help gives each status as a number followed by its meaning: "0 done, 1 ...".
  const std::string listed = help.substr(at);
  for (const std::string& status : Matches(listed, std::regex(R"((?:: |, )(\d+) [a-z])"), 1)) {
    EXPECT_EQ(in_page.count(status), 1u)
        << GetParam().name << " --help gives exit status " << status << " but the EXIT STATUS of "
        << path << " does not";
  }
}

INSTANTIATE_TEST_SUITE_P(Programs, ManPageExitStatus, testing::ValuesIn(CommandLinePrograms()),
                         [](const auto& info) { return NameOf(info.param.name); });

}  // namespace
}  // namespace dialmend
