#include "tokenizer.h"

#include <gtest/gtest.h>
#include <stdio.h>

#include <string>
#include <vector>

#include "parse_filter.h"
#include "test_root.h"

namespace {

struct Token {
  std::string text;
  int eor;
  int eof;
};

// Every token of text up to and including the end-of-file token.
std::vector<Token> tokensOf(const std::string& text) {
  FILE* fp = fmemopen(const_cast<char*>(text.data()), text.size(), "r");
  std::vector<Token> out;
  setTokenEof(0);
  do {
    std::string t = getToken(fp);
    out.push_back({t, getTokenEor(), getTokenEof()});
  } while (!getTokenEof() && out.size() < 100);
  fclose(fp);
  return out;
}

std::vector<std::string> textsOf(const std::string& text) {
  std::vector<std::string> out;
  for (const Token& t : tokensOf(text)) out.push_back(t.text);
  return out;
}

using Strings = std::vector<std::string>;

TEST(TokenizerTest, BlanksTabsAndNewlinesSeparate) {
  auto t = tokensOf("  alpha\tbeta\n\n   gamma \n");
  ASSERT_EQ(4u, t.size());
  EXPECT_EQ("alpha", t[0].text);
  EXPECT_EQ(0, t[0].eor);
  EXPECT_EQ("beta", t[1].text);
  EXPECT_EQ(1, t[1].eor);  // ended by its newline
  EXPECT_EQ("gamma", t[2].text);
  EXPECT_EQ(0, t[2].eor);  // ended by a blank: the newline is still to come
  EXPECT_EQ("", t[3].text);
  EXPECT_EQ(1, t[3].eof);
  EXPECT_EQ(1, t[3].eor);  // the skipped newline was the last character read
}

TEST(TokenizerTest, QuotesKeepBlanksAndDoubledQuotes) {
  EXPECT_EQ((Strings{"a b", "c", ""}), textsOf("\"a b\" c\n"));
  // A quoted stretch holding a doubled quote, " b " and another doubled quote.
  EXPECT_EQ((Strings{"\" b \"", ""}), textsOf("\"\"\" b \"\"\"\n"));
  // A quote may stand inside a token; newlines and '#' are ordinary in it.
  EXPECT_EQ((Strings{"ab c#d\ne", ""}), textsOf("ab\" c#d\ne\"\n"));
  // The character after a closing quote begins the next token.
  EXPECT_EQ((Strings{"ab", "cd", ""}), textsOf("\"ab\"cd\n"));
  EXPECT_EQ((Strings{"", "x", ""}), textsOf("\"\" x\n"));
}

TEST(TokenizerTest, QuotedTokenBeforeNewlineDoesNotEndRecord) {
  auto t = tokensOf("\"a\"\nb\n");
  ASSERT_EQ(3u, t.size());
  EXPECT_EQ("a", t[0].text);
  EXPECT_EQ(0, t[0].eor);
  EXPECT_EQ("b", t[1].text);
  EXPECT_EQ(1, t[1].eor);
}

TEST(TokenizerTest, CommentsSkipToLineEndWithoutEndingToken) {
  EXPECT_EQ((Strings{"a", "b", ""}), textsOf("# only a comment\na b\n"));
  // '#' inside a token joins it with the next line's first token.
  EXPECT_EQ((Strings{"abcd", "e", ""}), textsOf("ab#rest of line\ncd e\n"));
  auto t = tokensOf("x # note\ny\n");
  ASSERT_EQ(3u, t.size());
  EXPECT_EQ(0, t[0].eor);
  EXPECT_EQ("y", t[1].text);
}

TEST(TokenizerTest, EndOfFileDiscardsUnfinishedToken) {
  auto t = tokensOf("a b");
  ASSERT_EQ(2u, t.size());
  EXPECT_EQ("a", t[0].text);
  EXPECT_EQ("", t[1].text);
  EXPECT_EQ(1, t[1].eof);
  EXPECT_EQ((Strings{""}), textsOf("\"unterminated quote\n"));
  // A closing quote right before the end still ends its token.
  EXPECT_EQ((Strings{"q", ""}), textsOf("\"q\""));
}

TEST(TokenizerTest, LongTokenIsCutTo1023Characters) {
  std::string big(5000, 'x');
  auto t = tokensOf(big + " y\n");
  ASSERT_EQ(3u, t.size());
  EXPECT_EQ(std::string(1023, 'x'), t[0].text);
  EXPECT_EQ("y", t[1].text);
  std::string quoted = "\"" + std::string(3000, 'q') + "\"\n";
  EXPECT_EQ(1023u, tokensOf(quoted)[0].text.size());
}

// Records of the filter file format, read through the uncached reader.
class RecordTest : public OviRootTest {
 protected:
  struct Record {
    int result;
    Strings fields;
  };

  std::vector<Record> records(const std::string& content) {
    write("records", content);
    EXPECT_EQ(0, ovi_open_uncached_filter("records"));
    char buffers[OVI_FILTER_FIELDS][OVI_FILTER_FIELD_SIZE];
    char* fields[OVI_FILTER_FIELDS];
    for (int i = 0; i < OVI_FILTER_FIELDS; i++) fields[i] = buffers[i];
    std::vector<Record> out;
    int r;
    while ((r = ovi_getLine(fields)) != -1 && out.size() < 100)
      out.push_back({r, Strings(buffers, buffers + OVI_FILTER_FIELDS)});
    ovi_close_uncached_filter();
    return out;
  }
};

TEST_F(RecordTest, NewlineEndsRecordAndClearsLaterFields) {
  auto r = records("\n# comment\nhostname alpha low\n\ndefault x - - pass t\n");
  ASSERT_EQ(2u, r.size());
  EXPECT_EQ(1, r[0].result);
  EXPECT_EQ((Strings{"hostname", "alpha", "low", "", "", "", "", ""}), r[0].fields);
  EXPECT_EQ("t", r[1].fields[5]);
}

TEST_F(RecordTest, TrailingBlanksCommentOrQuoteContinueRecord) {
  auto r = records("hostname alpha low high pass t.db   \nall - a b c d e f\n");
  ASSERT_EQ(2u, r.size());
  EXPECT_EQ((Strings{"hostname", "alpha", "low", "high", "pass", "t.db", "all", "-"}), r[0].fields);
  EXPECT_EQ(0, r[0].result);
  EXPECT_EQ((Strings{"a", "b", "c", "d", "e", "f", "", ""}), r[1].fields);

  r = records("a b # note\nc \"d\"\ne\n");
  ASSERT_EQ(1u, r.size());
  EXPECT_EQ((Strings{"a", "b", "c", "d", "e", "", "", ""}), r[0].fields);
}

TEST_F(RecordTest, NinthTokenBeginsNextRecord) {
  auto r = records("1 2 3 4 5 6 7 8 9 10\n");
  ASSERT_EQ(2u, r.size());
  EXPECT_EQ(0, r[0].result);
  EXPECT_EQ("8", r[0].fields[7]);
  EXPECT_EQ(1, r[1].result);
  EXPECT_EQ((Strings{"9", "10", "", "", "", "", "", ""}), r[1].fields);
}

TEST_F(RecordTest, LastRecordWithoutNewlineIsLost) {
  auto r = records("hostname a - - pass t\nhostname b - - pass t");
  ASSERT_EQ(1u, r.size());
  EXPECT_EQ("a", r[0].fields[1]);
  EXPECT_TRUE(records("").empty());
}

TEST_F(RecordTest, FieldsAreCutTo256Characters) {
  auto r = records(std::string(600, 'k') + " b\n");
  ASSERT_EQ(1u, r.size());
  EXPECT_EQ(std::string(256, 'k'), r[0].fields[0]);
  EXPECT_EQ("b", r[0].fields[1]);
}

}  // namespace
