#include "orxdb/orxdb_describe.h"

#include <gtest/gtest.h>
#include <stdio.h>

#include <string>
#include <vector>

namespace {

typedef std::vector<std::string> Words;

// The words of a line, or {"<error: REASON>"}.
Words split(const std::string& line) {
  std::vector<OrxdbWord> words;
  std::string why;
  if (!orxdb_splitLine(line, &words, &why)) return {"<error: " + why + ">"};
  Words out;
  for (const OrxdbWord& w : words) out.push_back(w.text);
  return out;
}

// Reads text as a description file labelled "f"; "" or the error.
std::string readAll(const std::string& text, std::vector<OrxdbStatement>* out) {
  FILE* in = fmemopen(const_cast<char*>(text.data()), text.size(), "r");
  std::string error;
  int ok = orxdb_readDescription(in, "f", out, &error);
  fclose(in);
  return ok ? "" : error;
}

// Parses one line: "int N" or "text" for a property's value, "" for another
// statement, else the reason it is refused.
std::string parse(const std::string& line) {
  std::vector<OrxdbStatement> sts;
  std::string error = readAll(line + "\n", &sts);
  if (!error.empty()) return error.substr(error.find(": ") + 2);
  if (sts.size() != 1 || sts[0].kind != ORXDB_PROPERTY) return "";
  return sts[0].isText ? "text" : "int " + std::to_string(sts[0].number);
}

TEST(OrxdbSplitTest, WordsQuotesAndComments) {
  const struct { const char* line; Words words; } cases[] = {
      {"  element\trouter7   component.router  ", {"element", "router7", "component.router"}},
      {"a \"Machine room 2\" \"\" \"back\\slash\"", {"a", "Machine room 2", "", "back\\slash"}},
      {"   # a comment line", {}},
      {"element a b # trailing comment", {"element", "a", "b"}},
      {"element \"#a\" b#c", {"element", "#a", "b#c"}},
      {"element \"open a", {"<error: unterminated quote>"}},
      {"element \"ends in backslash\\\"", {"<error: unterminated quote>"}},
      {"element ab\"c d", {"<error: quote inside a word>"}},
      {"element \"ab\"c d", {"<error: no blank after a closing quote>"}},
  };
  for (const auto& c : cases) EXPECT_EQ(c.words, split(c.line)) << c.line;
}

TEST(OrxdbParseTest, PropertyValueKindsShapesAndBounds) {
  std::string n255(255, 'n'), n256(256, 'n');
  const struct { std::string line, result; } cases[] = {
      {"property r n -2147483648", "int -2147483648"},
      {"property r n 4294967295", "int 4294967295"},
      {"property r n \"42\"", "text"}, {"property r n 12a", "text"}, {"property r n -", "text"},
      {"property r n \"\"", "text"},
      {"property r n 4294967296", "integer out of range: 4294967296 (quote it for a text)"},
      {"property r n -2147483649", "integer out of range: -2147483649 (quote it for a text)"},
      {"elements a b", "unknown statement \"elements\""},
      {"element a", "expected element NAME TYPE"},
      {"element \"\" t", "empty element name"},
      {"element " + n255 + " " + std::string(127, 't'), ""},
      {"agent e a 1 " + n255, ""},
      {"color a 1 2 2147483648", "BLUE is not a 32-bit integer: \"2147483648\""},
  };
  for (const auto& c : cases) EXPECT_EQ(c.result, parse(c.line)) << c.line.substr(0, 30);
  for (const std::string& bad : Words{"property r n 99999999999999999999999999", "\"element\" a b", "element a b c",
        "member a Home 1 2 3", "member a Home 1 2 3 4 5 6", "agent a snmp", "color a 1 2",
        "color a 1 2 x", "member a Home 1 2 3 4 +5", "agent a snmp yes", "member a \"\"",
        "element " + n256 + " t", "element e " + std::string(128, 't'), "agent e a 1 " + n256,
        "property e p " + n256})
    EXPECT_NE("", parse(bad)) << bad.substr(0, 30);
}

TEST(OrxdbReadDescriptionTest, CountsEveryLineAndStopsAtTheFirstError) {
  std::vector<OrxdbStatement> sts;
  ASSERT_EQ("", readAll("# c\r\n\r\nelement a t\r\n  \nelement b t", &sts));
  ASSERT_EQ(2u, sts.size());
  EXPECT_EQ(3, sts[0].line);
  EXPECT_EQ("t", sts[0].name);  // the CR is not part of the word
  EXPECT_EQ(5, sts[1].line);
  EXPECT_EQ("f:4: expected connect ELEMENT CONNECTION",
            readAll("element a t\n# c\n\nconnect a\nelement b\n", &sts));
  EXPECT_EQ("f:2: NUL byte in line",
            readAll(std::string("element a t\nelement b") + '\0' + " t\n", &sts));
}

TEST(OrxdbQuoteTest, QuotedWordsReadBackToThemselves) {
  for (const std::string& w : Words{"plain", "", "two words", "tab\there", "#hash", "mid#hash",
                               "q\"uote", "back\\slash", "\\", "\"", "trailing\\", "42", "cr\r"}) {
    std::string line = "x " + orxdb_quoteWord(w, false) + " y";
    EXPECT_EQ((Words{"x", w, "y"}), split(line)) << line;
    // Also as the last word of a CRLF line.
    std::vector<OrxdbStatement> sts;
    if (w.empty()) continue;
    ASSERT_EQ("", readAll("element x " + orxdb_quoteWord(w, false) + "\r\n", &sts)) << w;
    EXPECT_EQ(w, sts[0].name);
  }
  EXPECT_EQ("\"42\"", orxdb_quoteWord("42", true));
}

}  // namespace
