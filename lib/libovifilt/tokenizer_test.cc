#include "tokenizer.h"

#include <gtest/gtest.h>
#include <stdio.h>

#include <string>
#include <vector>

#include "parse_filter.h"
#include "test_root.h"

namespace {

using Strings = std::vector<std::string>;

// Every token of text up to the end-of-file token, each as "[text]" with a
// "/" after it when it left the end-of-record flag set.
std::string tokensOf(const std::string& text) {
  FILE* fp = fmemopen(const_cast<char*>(text.data()), text.size(), "r");
  std::string out;
  setTokenEof(0);
  for (int n = 0; !getTokenEof() && n < 100; n++) {
    std::string t = getToken(fp);
    out += (n == 0 ? "[" : " [") + t + "]" + (getTokenEor() ? "/" : "");
  }
  fclose(fp);
  return out;
}

TEST(TokenizerTest, SeparatorsQuotesCommentsTheEndOfFileAndLongTokens) {
  const struct { std::string text, tokens; } cases[] = {
      // A token ended by its newline ends the record; one ended by a blank
      // does not, and the newline skipped before the end sets the flag.
      {"  alpha\tbeta\n\n   gamma \n", "[alpha] [beta]/ [gamma] []/"},
      // Quotes keep blanks, newlines and '#'; doubled quotes stand for one;
      // the character after a closing quote begins the next token.
      {"\"\"\" b \"\"\"\n", "[\" b \"] []/"},
      {"ab\" c#d\ne\"\n", "[ab c#d\ne] []/"},
      {"\"ab\"cd\n", "[ab] [cd]/ []"},
      // A comment runs to its line end without ending the token it is in.
      {"ab#rest of line\ncd e\n", "[abcd] [e]/ []"},
      // The end of the file discards an unfinished token.
      {"a b", "[a] []"},
      {std::string(5000, 'x') + " y\n", "[" + std::string(1023, 'x') + "] [y]/ []"},
  };
  for (const auto& c : cases) EXPECT_EQ(c.tokens, tokensOf(c.text)) << c.text.substr(0, 40);
}

// Records of the filter file format, read through the uncached reader: each
// as its result, then its eight fields joined by "|".
class RecordTest : public OviRootTest {
 protected:
  Strings records(const std::string& content) {
    write("records", content);
    EXPECT_EQ(0, ovi_open_uncached_filter("records"));
    char buffers[OVI_FILTER_FIELDS][OVI_FILTER_FIELD_SIZE];
    char* fields[OVI_FILTER_FIELDS];
    for (int i = 0; i < OVI_FILTER_FIELDS; i++) fields[i] = buffers[i];
    Strings out;
    for (int r; (r = ovi_getLine(fields)) != -1 && out.size() < 100;) {
      out.push_back(std::to_string(r) + " " + buffers[0]);
      for (int i = 1; i < OVI_FILTER_FIELDS; i++) out.back() += std::string("|") + buffers[i];
    }
    ovi_close_uncached_filter();
    return out;
  }
};

TEST_F(RecordTest, RecordsEndAtANewlineOrTheirEighthField) {
  const struct { std::string content; Strings records; } cases[] = {
      // A newline ends a record and clears the fields after its last.
      {"\n# comment\ndefault x - - pass t\n\nhostname alpha low\n",
       {"1 default|x|-|-|pass|t||", "1 hostname|alpha|low|||||"}},
      // Trailing blanks, a comment or a quote carry the record on; a ninth
      // token begins the next record.
      {"hostname alpha low high pass t.db   \nall - a b c d e f\n",
       {"0 hostname|alpha|low|high|pass|t.db|all|-", "1 a|b|c|d|e|f||"}},
      {"a b # note\nc \"d\"\ne\n", {"1 a|b|c|d|e|||"}},
      // Blank lines and comments at the end of the file make no record.
      {"default x - - pass t\n\n", {"1 default|x|-|-|pass|t||"}},
      {"default x - - pass t\n# the end\n  \n", {"1 default|x|-|-|pass|t||"}},
      {"\n\n", {}},
      // The last record is lost without its newline.
      {"hostname a - - pass t\nhostname b - - pass t", {"1 hostname|a|-|-|pass|t||"}},
      {std::string(600, 'k') + " b\n", {"1 " + std::string(256, 'k') + "|b||||||"}},
  };
  for (const auto& c : cases) EXPECT_EQ(c.records, records(c.content)) << c.content.substr(0, 40);
}

}  // namespace
