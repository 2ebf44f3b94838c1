// cli_getOptions and cli_quoted: what every program's command line and
// output rely on.
#include "cli.h"

#include <getopt.h>
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace {

void usage(FILE* out) { fputs("usage: prog [--to HOST]\n", out); }

struct Outcome {
  int status;
  int optind;
  std::vector<std::pair<int, std::string>> taken;  // option, value ("-" for none)
  std::string out, err;
};

// Runs cli_getOptions over args, the handler answering `verdict` for the
// option `refuse` and CLI_TAKEN for the others.
Outcome run(std::vector<std::string> args, int refuse = 0, int verdict = CLI_TAKEN) {
  args.insert(args.begin(), "prog");
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(&a[0]);
  argv.push_back(nullptr);
  optind = 0;  // getopt starts afresh
  Outcome o;
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  o.status = cli_getOptions("prog", static_cast<int>(args.size()), argv.data(), "d:",
                            "to= tcp count=", usage, [&](int c, const char* value) {
                              o.taken.emplace_back(c, value != nullptr ? value : "-");
                              return c == refuse ? verdict : CLI_TAKEN;
                            });
  o.out = testing::internal::GetCapturedStdout();
  o.err = testing::internal::GetCapturedStderr();
  o.optind = optind;
  return o;
}

TEST(CliOptionsTest, LongOptionsComeByIndexAndOperandsAreLeft) {
  Outcome o = run({"--to", "alpha", "--tcp", "-d", "3", "--count=7", "datum", "more"});
  EXPECT_EQ(-1, o.status);
  EXPECT_EQ(7, o.optind);
  using Taken = std::vector<std::pair<int, std::string>>;
  EXPECT_EQ((Taken{{CLI_LONG, "alpha"}, {CLI_LONG + 1, "-"}, {'d', "3"}, {CLI_LONG + 2, "7"}}),
            o.taken);
  EXPECT_EQ("", o.out + o.err);
}

TEST(CliOptionsTest, HelpWritesTheUsageOnStandardOutput) {
  for (const char* help : {"--help", "-h"}) {
    Outcome o = run({help, "--bogus"});
    EXPECT_EQ(0, o.status) << help;
    EXPECT_EQ("usage: prog [--to HOST]\n", o.out);
    EXPECT_EQ("", o.err);
  }
}

TEST(CliOptionsTest, UsageErrorsAreOneLineNamingTheProgram) {
  const struct {
    std::vector<std::string> args;
    int refuse;
    int verdict;
    const char* err;
  } cases[] = {
      {{"--bogus"}, 0, CLI_TAKEN, "prog: unknown option --bogus (see --help)\n"},
      {{"-q"}, 0, CLI_TAKEN, "prog: unknown option -q (see --help)\n"},
      {{"--to"}, 0, CLI_TAKEN, "prog: option --to needs a value (see --help)\n"},
      {{"--count", "x"}, CLI_LONG + 2, CLI_BAD_VALUE, "prog: bad value for --count: x\n"},
      {{"-d", "x"}, 'd', CLI_BAD_VALUE, "prog: bad value for -d: x\n"},
      // The handler wrote its own line: nothing more is said.
      {{"--tcp", "--bogus"}, CLI_LONG + 1, CLI_REFUSED, ""},
  };
  for (const auto& c : cases) {
    Outcome o = run(c.args, c.refuse, c.verdict);
    EXPECT_EQ(2, o.status) << c.err;
    EXPECT_EQ(c.err, o.err);
    EXPECT_EQ("", o.out);
  }
}

TEST(CliOptionsTest, NoOperandsNamesTheFirstStrayOne) {
  std::vector<std::string> args = {"prog", "--tcp", "stray", "other"};
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(&a[0]);
  optind = 2;
  testing::internal::CaptureStderr();
  EXPECT_EQ(0, cli_noOperands("prog", 4, argv.data()));
  EXPECT_EQ("prog: unexpected argument stray (see --help)\n",
            testing::internal::GetCapturedStderr());
  optind = 4;
  EXPECT_EQ(1, cli_noOperands("prog", 4, argv.data()));
}

TEST(CliQuotedTest, JsonAndCFormsEscapeQuotesBackslashesAndControls) {
  const char text[] = "a\"b\\c\n\t\x01\x7f\xc3\xa9";
  EXPECT_EQ("\"a\\\"b\\\\c\\n\\t\\u0001\\u007f\xc3\xa9\"", cli_quoted(text, CLI_QUOTE_JSON));
  EXPECT_EQ("\"a\\\"b\\\\c\\x0a\\x09\\x01\\x7f\xc3\xa9\"", cli_quoted(text, CLI_QUOTE_C));
  EXPECT_EQ(cli_quoted(text, CLI_QUOTE_JSON), cli_jsonString(text));
  EXPECT_EQ("\"\"", cli_quoted("", CLI_QUOTE_C));
}

}  // namespace
