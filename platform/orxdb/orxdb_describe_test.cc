#include "orxdb/orxdb_describe.h"

#include <gtest/gtest.h>
#include <stdio.h>

#include <string>
#include <vector>

namespace {

typedef std::vector<std::string> Words;

// The words of a line, or {"<error>"} with *reason set.
Words split(const std::string& line, std::string* reason = nullptr) {
  std::vector<OrxdbWord> words;
  std::string why;
  if (!orxdb_splitLine(line, &words, &why)) {
    if (reason != nullptr) *reason = why;
    return {"<error>"};
  }
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

// Parses one line; "" on success, else the reason.
std::string parse(const std::string& line, OrxdbStatement* st) {
  std::vector<OrxdbStatement> sts;
  std::string error = readAll(line + "\n", &sts);
  if (!error.empty()) return error.substr(error.find(": ") + 2);
  if (sts.size() == 1) *st = sts[0];
  return "";
}

TEST(OrxdbSplitTest, WordsQuotesAndComments) {
  EXPECT_EQ((Words{"element", "router7", "component.router"}),
            split("  element\trouter7   component.router  "));
  EXPECT_EQ((Words{"a", "Machine room 2", "", "b"}), split("a \"Machine room 2\" \"\" b"));
  EXPECT_EQ((Words{"say \"hi\"", "c:\\dir", "back\\slash"}),
            split("\"say \\\"hi\\\"\" \"c:\\\\dir\" \"back\\slash\""));
  EXPECT_EQ(Words{}, split("   # a comment line"));
  EXPECT_EQ((Words{"element", "a", "b"}), split("element a b # trailing comment"));
  EXPECT_EQ((Words{"element", "#a", "b#c"}), split("element \"#a\" b#c"));

  std::string reason;
  EXPECT_EQ(Words{"<error>"}, split("element \"open a", &reason));
  EXPECT_EQ("unterminated quote", reason);
  EXPECT_EQ(Words{"<error>"}, split("element ab\"c d", &reason));
  EXPECT_EQ("quote inside a word", reason);
  EXPECT_EQ(Words{"<error>"}, split("element \"ab\"c d", &reason));
  EXPECT_EQ(Words{"<error>"}, split("element \"ends in backslash\\\"", &reason));
}

TEST(OrxdbParseTest, PropertyValueKinds) {
  OrxdbStatement st;
  ASSERT_EQ("", parse("property r n -2147483648", &st));
  EXPECT_FALSE(st.isText);
  EXPECT_EQ(-2147483648LL, st.number);
  ASSERT_EQ("", parse("property r n 4294967295", &st));
  EXPECT_EQ(4294967295LL, st.number);
  for (const char* text : {"\"42\"", "12a", "-", "\"\""}) {
    ASSERT_EQ("", parse(std::string("property r n ") + text, &st));
    EXPECT_TRUE(st.isText) << text;
  }
  for (const char* big : {"4294967296", "-2147483649", "99999999999999999999999999"})
    EXPECT_NE("", parse(std::string("property r n ") + big, &st)) << big;
}

TEST(OrxdbParseTest, RefusesBadShapesAndValues) {
  OrxdbStatement st;
  EXPECT_EQ("unknown statement \"elements\"", parse("elements a b", &st));
  EXPECT_EQ("expected element NAME TYPE", parse("element a", &st));
  EXPECT_EQ("empty element name", parse("element \"\" t", &st));
  for (const char* bad : {"\"element\" a b", "element a b c", "member a Home 1 2 3",
                          "member a Home 1 2 3 4 5 6", "agent a snmp", "color a 1 2",
                          "color a 1 2 x", "color a 1 2 2147483648", "member a Home 1 2 3 4 +5",
                          "agent a snmp yes", "member a \"\""})
    EXPECT_NE("", parse(bad, &st)) << bad;

  std::string n255(255, 'n'), n256(256, 'n');
  EXPECT_EQ("", parse("element " + n255 + " " + std::string(127, 't'), &st));
  for (const std::string& tooLong :
       {"element " + n256 + " t", "element e " + std::string(128, 't'), "agent e a 1 " + n256,
        "property e p " + n256})
    EXPECT_NE("", parse(tooLong, &st)) << tooLong.substr(0, 20);
  EXPECT_EQ("", parse("agent e a 1 " + n255, &st));
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
  const Words words = {"plain", "", "two words", "tab\there", "#hash", "mid#hash", "q\"uote",
                       "back\\slash", "\\", "\"", "trailing\\", "42", "cr\r"};
  for (const std::string& w : words) {
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
