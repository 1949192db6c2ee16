// The programs' command-line surface as a shell sees it: --version, the
// bash completion each program writes from its command tree (sourced into a
// real bash and asked, as bash would, for candidates), and its agreement with
// what --help lists for every command.
#include <gtest/gtest.h>

#include <algorithm>
#include <regex>
#include <sstream>

#include "e2e/Processes.h"
#include "support/TestEnv.h"

namespace tarnvale::test {
namespace {

using Words = std::vector<std::string>;

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) out.push_back(line);
  return out;
}

bool Contains(const std::vector<std::string>& items, const std::string& item) {
  return std::find(items.begin(), items.end(), item) != items.end();
}

std::string Quoted(const std::string& word) {
  std::string q = "'";
  for (const char c : word) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

class ShellCompletion : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = MakeTempDir("shell");
    work_ = dir_ / "work";
    std::filesystem::create_directories(work_);
    WriteFileBytes(work_ / "demo.FMF", ":00000001FF\r\n");
  }

  static std::string PathOf(const std::string& program) {
    return program == "tarnvale-cli" ? TARNVALE_CLI_PATH : TARNVALE_SIM_PATH;
  }

  RunResult Run(const std::string& program, Words args) const {
    args.insert(args.begin(), PathOf(program));
    return RunCommand(args, dir_, 20000);
  }

  // The script the program writes for itself, stored once per program.
  std::filesystem::path Script(const std::string& program) {
    const auto path = dir_ / (program + ".bash");
    if (!std::filesystem::exists(path)) {
      const RunResult r = Run(program, {"--completion", "bash"});
      EXPECT_EQ(r.exitCode, 0) << r.err;
      WriteFileBytes(path, r.out);
    }
    return path;
  }

  // What bash offers for each query: the words on the command line (the
  // program first, the word being typed last), in a folder holding
  // demo.FMF. All queries of a program run in one bash.
  std::vector<std::vector<std::string>> CompleteAll(const std::string& program, const std::vector<Words>& queries) {
    const std::string marker = "--end-of-reply--";
    std::string script = "set -u\ncd " + Quoted(work_.string()) + "\nsource " + Quoted(Script(program).string()) +
                         "\nfn=$(complete -p " + program + " | sed -n 's/.*-F \\([^ ]*\\).*/\\1/p')\n"
                         "[[ -n $fn ]] || exit 7\n";
    for (const Words& words : queries) {
      script += "COMP_WORDS=(";
      for (const auto& w : words) script += " " + Quoted(w);
      script += " )\nCOMP_CWORD=" + std::to_string(words.size() - 1) + "\n\"$fn\"\n" +
                "printf '%s\\n' \"${COMPREPLY[@]}\" " + marker + "\n";
    }
    const auto file = dir_ / "complete.sh";
    WriteFileBytes(file, script);
    const RunResult r = RunCommand({"/bin/bash", "--noprofile", "--norc", file.string()}, dir_, 20000);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    std::vector<std::vector<std::string>> replies(1);
    for (const std::string& line : Lines(r.out)) {
      if (line == marker) {
        replies.emplace_back();
      } else {
        replies.back().push_back(line);
      }
    }
    replies.pop_back();  // after the last marker
    EXPECT_EQ(replies.size(), queries.size()) << r.out;
    replies.resize(queries.size());
    return replies;
  }

  std::vector<std::string> Complete(const Words& words) { return CompleteAll(words.front(), {words}).front(); }

  std::filesystem::path dir_, work_;
};

TEST_F(ShellCompletion, VersionAndCompletionRequestsAnswerAsDocumented) {
  struct Case {
    std::string program;
    Words args;
    int exitCode;
    std::string out;  // a regex over the whole standard output
  };
  const std::string version = TARNVALE_VERSION;
  const std::vector<Case> cases{
      {"tarnvale-cli", {"--version"}, 0, "tarnvale-cli " + version + "\n"},
      {"tarnvale-sim", {"--version"}, 0, "tarnvale-sim " + version + "\n"},
      {"tarnvale-cli", {"--completion", "zsh"}, 2, ""},
      // Help (and so the man pages) names the program, not the path it ran from.
      {"tarnvale-cli", {"flash", "--help"}, 0, "[^\n]*\nUsage: tarnvale-cli flash \\[OPTIONS\\] file\n(.*\n)*"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.program + " " + ::testing::PrintToString(c.args));
    const RunResult r = Run(c.program, c.args);
    EXPECT_EQ(r.exitCode, c.exitCode) << r.err;
    EXPECT_TRUE(std::regex_match(r.out, std::regex(c.out))) << r.out;
  }
}

// What is narrowed by the words typed so far, and values in place of
// options (every option and subcommand --help lists: the sweep below).
TEST_F(ShellCompletion, OffersWhatFitsTheWordsTypedSoFar) {
  struct Case {
    Words words;
    std::vector<std::string> offered;
    std::vector<std::string> notOffered;
  };
  const std::vector<Case> cases{
      {{"tarnvale-cli", "fl"}, {"flash"}, {"hex"}},
      {{"tarnvale-cli", "hex", ""}, {"scan", "stream"}, {"flash", "hex"}},
      {{"tarnvale-cli", "flash", "--p"}, {"--port", "--progress"}, {"--run", "--version"}},
      // After an option that takes a value: file names, not options.
      {{"tarnvale-cli", "flash", "--port", ""}, {"demo.FMF"}, {"--baud", "hex"}},
      // A value equal to a command name is still a value.
      {{"tarnvale-cli", "flash", "--port", "hex", ""}, {"demo.FMF"}, {"scan"}},
      // An option with a fixed set of values offers that set.
      {{"tarnvale-cli", "flash", "--progress", ""}, {"auto", "plain", "bar", "json"}, {"demo.FMF"}},
      {{"tarnvale-cli", "dump", "--baud", "1152"}, {"115200"}, {"11520", "9600"}},
      {{"tarnvale-sim", "bench", "--controller", "t"}, {"tn835"}, {"rq700"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.words));
    const auto got = Complete(c.words);
    for (const auto& w : c.offered) EXPECT_TRUE(Contains(got, w)) << w << " in " << ::testing::PrintToString(got);
    for (const auto& w : c.notOffered) EXPECT_FALSE(Contains(got, w)) << w;
  }
}

// Every option and subcommand that --help lists for any command is offered
// by completion there, and every subcommand is in the command list the man
// page is written from.
TEST_F(ShellCompletion, EveryCommandAndOptionInHelpIsCompleted) {
  const std::regex section(R"(^([A-Za-z][A-Za-z ]*):\s*$)");
  const std::regex subcommands("subcommands", std::regex::icase);
  const std::regex entry(R"(^\s{2}(\S+))");
  for (const std::string program : {"tarnvale-cli", "tarnvale-sim"}) {
    SCOPED_TRACE(program);
    const RunResult list = Run(program, {"--completion", "commands"});
    ASSERT_EQ(list.exitCode, 0) << list.err;
    std::vector<std::string> commands = Lines(list.out);
    ASSERT_GT(commands.size(), 4u);
    commands.insert(commands.begin(), "");
    std::vector<Words> options, subs, queries;  // per command; two queries each
    for (const std::string& command : commands) {
      Words typed{program};
      std::istringstream in(command);
      for (std::string w; in >> w;) typed.push_back(w);
      Words args(typed.begin() + 1, typed.end());
      args.push_back("--help");
      const RunResult help = Run(program, args);
      ASSERT_EQ(help.exitCode, 0) << command << ": " << help.err;
      options.emplace_back();
      subs.emplace_back();
      bool inSubcommands = false;
      for (const std::string& line : Lines(help.out)) {
        std::smatch m;
        if (std::regex_match(line, m, section)) {
          inSubcommands = std::regex_match(m[1].str(), subcommands);
        } else if (std::regex_search(line, m, entry) && inSubcommands) {
          subs.back().push_back(m[1]);
        } else if (std::regex_search(line, m, entry) && m[1].str().front() == '-') {
          std::istringstream names(m[1]);
          for (std::string n; std::getline(names, n, ',');) options.back().push_back(n);
        }
      }
      ASSERT_TRUE(Contains(options.back(), "--help")) << command << ": " << help.out;
      typed.push_back("-");
      queries.push_back(typed);
      typed.back() = "";
      queries.push_back(typed);
    }
    const auto replies = CompleteAll(program, queries);
    std::size_t optionsSeen = 0;
    for (std::size_t i = 0; i < commands.size(); ++i) {
      SCOPED_TRACE(commands[i]);
      optionsSeen += options[i].size();
      for (const auto& o : options[i]) EXPECT_TRUE(Contains(replies[2 * i], o)) << o;
      for (const auto& sub : subs[i]) {
        EXPECT_TRUE(Contains(replies[2 * i + 1], sub)) << sub;
        EXPECT_TRUE(Contains(commands, commands[i].empty() ? sub : commands[i] + " " + sub)) << sub;
      }
    }
    EXPECT_GT(optionsSeen, commands.size() * 2);
  }
}

}  // namespace
}  // namespace tarnvale::test
