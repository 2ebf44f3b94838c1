#include "parser_driver.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

// The grammar is linked here with recording callbacks in place of the tables.
namespace {

std::vector<std::string> events;
std::vector<std::string> messages;  // error hook, with the line number
std::string text;
size_t pos = 0;
bool countNamespaces = false;  // newNamespace adds to the error count

int textSource() { return pos < text.size() ? static_cast<unsigned char>(text[pos++]) : -1; }

void recordMessage(const char* message) {
  messages.push_back(std::string(message) + "@" + std::to_string(dbparse_getlineno()));
}

std::string str(const char* s) { return s != nullptr ? s : "-"; }
std::string str(int n) { return std::to_string(n); }

// Records "fn(arg,...)", or "fn" without arguments.
template <typename... Args>
int record(const char* fn, const Args&... args) {
  std::string e = fn, separator = "(";
  ((e += separator + str(args), separator = ","), ...);
  events.push_back(sizeof...(args) > 0 ? e + ")" : e);
  return 1;
}

// The capabilities a definition was given, when any differs from its cleared value.
int withCaps(int) {
  std::string caps = std::string(dbparse_getDescription()) + "|" + dbparse_getUnits() + "|" +
                     dbparse_getCharacteristics() + "|" + dbparse_getMap() + "|" +
                     str(dbparse_getSerial()) + "|" + str(dbparse_getRpcid());
  if (caps != "||||1|0") events.back() += "[" + caps + "]";
  return 1;
}

int parse(const std::string& schema) {
  text = schema;
  pos = 0;
  events.clear();
  messages.clear();
  dbparse_setErrorHook(recordMessage);
  return dbparse_schema(textSource, "test.schema");
}

// What a parse gave: the callbacks in order, then each message after "!",
// all separated by blanks; the result first when it is not 0.
std::string parsed(const std::string& schema) {
  int result = parse(schema);
  std::string out = result != 0 ? "=" + str(result) : "";
  for (const std::string& e : events) out += (out.empty() ? "" : " ") + e;
  for (const std::string& m : messages) out += (out.empty() ? "!" : " !") + m;
  return out;
}

// Name delivered to newNamespace for "namespace <word>\n".
std::string namespaceName(const std::string& word) {
  parse("namespace " + word + "\n");
  if (events.size() != 1 || events[0].compare(0, 13, "newNamespace(") != 0) return "<none>";
  return events[0].substr(13, events[0].size() - 14);
}

}  // namespace

// Each callback records its call; a definition that takes capabilities
// records them too.
#define RECORD(fn, params, ...) \
  int dbparse_##fn params { return record(#fn, ##__VA_ARGS__); }
#define RECORD_CAPS(fn, params, ...) \
  int dbparse_##fn params { return withCaps(record(#fn, __VA_ARGS__)); }
RECORD_CAPS(newAgent, (const char* name, int isProxy), name, isProxy)
RECORD_CAPS(newGroup, (const char* name, int isTable), name, isTable)
RECORD_CAPS(newAttribute, (const char* name, int type, int size, const char* e, int access), name,
            type, size, e, access)
RECORD(newAgentError, (int number, const char* t), number, t)
RECORD(beginEnumeration, (const char* name, int inAgent), name, inAgent)
RECORD(nextEnumeration, (int number, const char* name), number, name)
RECORD(endEnumeration, (const char* name, int inAgent), name, inAgent)
RECORD(newField, (const char* name, int type, int size, const char* e), name, type, size, e)
RECORD(newRecord, (const char* s), s) RECORD(newInstance, (const char* s), s)
RECORD(nextInstanceField, (const char* s), s) RECORD(beginClusterRec, (const char* s), s)
RECORD(endAgent, (void)) RECORD(endGroup, (void)) RECORD(endRecord, (void))
RECORD(beginInstanceFields, (void)) RECORD(endInstanceFields, (void))
RECORD(storeInstance, (void)) RECORD(endInstance, (void)) RECORD(beginCluster, (void))
RECORD(endClusterRec, (void)) RECORD(endCluster, (void))

int dbparse_newNamespace(const char* name) {
  if (!countNamespaces) return record("newNamespace", name);
  dbparse_inc_error();
  return record("parsing", dbparse_parsing());
}

namespace {

struct Case {
  std::string schema;
  std::string parsed;
};

void expectParses(const std::vector<Case>& cases) {
  for (const Case& c : cases) EXPECT_EQ(c.parsed, parsed(c.schema)) << c.schema;
}

TEST(SchemaGrammarTest, EveryDefinitionKindInOrder) {
  const char* schema =
      "# station agent\n"
      "agent myAgent description \"The agent\" serial 3 rpcid 100200 (\n"
      "  group sys description \"System group\" (\n"
      "    readonly short a1 rw unsigned short a2 units \"ms\" wo int a3 na unsigned int a4\n"
      "    long a5 readwrite unsigned long a6 writeonly float a7 notaccessible double a8\n"
      "    octet[8] a9 string [32] a10\n"
      "    counter a11 gauge a12 timeticks a13 netaddress a14 ipaddress a15\n"
      "    unixtime a16 pointer a17 recordname a18 agentname a19 name a20 objectid a21\n"
      "    RO enum status a22 characteristics \"c\" map m\n"
      "  )\n"
      "  table tbl ( int col1 )\n"
      "  agenterrors ( 1 \"first error\" 2 second )\n"
      "  enum status ( 1 up 2 down -5 broken )\n"
      ")\n"
      "proxy myProxy ( )\n"
      "namespace ns1\n"
      "enum color ( 0 red 1 green )\n"
      "record rec1 ( int f1 enum color f2 string[16] f3 )\n"
      "instance inst1 ( ( a b c ) ( \"x y\" z ) )\n"
      "cluster ( c1 ( v1 v2 ) c2 ( w1 ) )\n";
  EXPECT_EQ(
      "newAgent(myAgent,0)[The agent||||3|100200] newGroup(sys,0)[System group||||1|0] "
      "newAttribute(a1,1,1,-,1) newAttribute(a2,2,1,-,3)[|ms|||1|0] newAttribute(a3,3,1,-,2) "
      "newAttribute(a4,4,1,-,0) newAttribute(a5,5,1,-,1) newAttribute(a6,6,1,-,3) "
      "newAttribute(a7,7,1,-,2) newAttribute(a8,8,1,-,0) newAttribute(a9,9,8,-,1) "
      "newAttribute(a10,10,32,-,1) newAttribute(a11,11,1,-,1) newAttribute(a12,12,1,-,1) "
      "newAttribute(a13,13,1,-,1) newAttribute(a14,14,1,-,1) newAttribute(a15,15,1,-,1) "
      "newAttribute(a16,16,1,-,1) newAttribute(a17,17,1,-,1) newAttribute(a18,18,1,-,1) "
      "newAttribute(a19,19,1,-,1) newAttribute(a20,22,1,-,1) newAttribute(a21,23,64,-,1) "
      "newAttribute(a22,21,1,status,1)[||c|m|1|0] endGroup newGroup(tbl,1) "
      "newAttribute(col1,3,1,-,1) endGroup newAgentError(1,first error) newAgentError(2,second) "
      "beginEnumeration(status,1) nextEnumeration(1,up) nextEnumeration(2,down) "
      "nextEnumeration(-5,broken) endEnumeration(status,1) endAgent newAgent(myProxy,1) endAgent "
      "newNamespace(ns1) beginEnumeration(color,0) nextEnumeration(0,red) "
      "nextEnumeration(1,green) endEnumeration(color,0) newRecord(rec1) newField(f1,3,1,-) "
      "newField(f2,21,1,color) newField(f3,10,16,-) endRecord newInstance(inst1) "
      "beginInstanceFields nextInstanceField(a) nextInstanceField(b) nextInstanceField(c) "
      "endInstanceFields storeInstance beginInstanceFields nextInstanceField(x y) "
      "nextInstanceField(z) endInstanceFields storeInstance endInstance beginCluster "
      "beginClusterRec(c1) beginInstanceFields nextInstanceField(v1) nextInstanceField(v2) "
      "endInstanceFields endClusterRec beginClusterRec(c2) beginInstanceFields "
      "nextInstanceField(w1) endInstanceFields endClusterRec endCluster",
      parsed(schema));
  EXPECT_EQ(21, dbparse_getlineno());
  EXPECT_STREQ("test.schema", dbparse_getFilename());
}

TEST(SchemaGrammarTest, ReservedWords) {
  expectParses({
      {"  # only a comment\n\n", ""},
      // Reserved words ignore case unless quoted; a quoted "enum" is a plain
      // word: the definition is skipped, the next one read.
      {"EnUm Color ( 1 Red )\nNAMESPACE x\n",
       "beginEnumeration(Color,0) nextEnumeration(1,Red) endEnumeration(Color,0) newNamespace(x)"},
      {"\"enum\" color ( 1 red )\nnamespace after\n", "newNamespace(after) !syntax error@1"},
      // Names may spell reserved words.
      {"record enum ( name name enum int record unsigned int unsigned )\n",
       "newRecord(enum) newField(name,22,1,-) newField(record,21,1,int) "
       "newField(unsigned,4,1,-) endRecord"},
      {"agent group ( table enum ( int agent ) )\nenum proxy ( 1 short )\n",
       "newAgent(group,0) newGroup(enum,1) newAttribute(agent,3,1,-,1) endGroup endAgent "
       "beginEnumeration(proxy,0) nextEnumeration(1,short) endEnumeration(proxy,0)"},
      // Only the first value of a value group is read plain; every cluster
      // record name is.
      {"instance i ( ( int \"int\" ) )\n",
       "newInstance(i) beginInstanceFields nextInstanceField(int) nextInstanceField(int) "
       "endInstanceFields storeInstance endInstance"},
      {"instance i ( ( int int ) )\nnamespace after\n",
       "newInstance(i) beginInstanceFields nextInstanceField(int) newNamespace(after) "
       "!syntax error@1"},
      {"cluster ( enum ( a ) record ( record ) )\n",
       "beginCluster beginClusterRec(enum) beginInstanceFields nextInstanceField(a) "
       "endInstanceFields endClusterRec beginClusterRec(record) beginInstanceFields "
       "nextInstanceField(record) endInstanceFields endClusterRec endCluster"},
  });
}

TEST(SchemaGrammarTest, BrokenDefinitionsAreSkipped) {
  expectParses({
      // The error comes while reserved words are off (after "namespace"); the
      // recovery switches them on again so that "enum" starts the next one.
      {"namespace ( enum e ( 1 a )\n",
       "beginEnumeration(e,0) nextEnumeration(1,a) endEnumeration(e,0) !syntax error@1"},
      // An error deep inside an agent drops the rest of it up to the next definition.
      {"agent a (\n group g ( int ) x y )\n)\nrecord r ( long f )\n",
       "newAgent(a,0) newGroup(g,0) newRecord(r) newField(f,5,1,-) endRecord !syntax error@2"},
      // "unsigned" must be followed by short, int or long.
      {"record r ( unsigned double d )\nnamespace n\n",
       "newRecord(r) newNamespace(n) !syntax error@1"},
      // The last word needs a terminator; a bracket is one.
      {"namespace first\nnamespace last", "newNamespace(first) !syntax error@2"},
      {"enum e ( 1 x )", "beginEnumeration(e,0) nextEnumeration(1,x) endEnumeration(e,0)"},
      // Capabilities are cleared between definitions.
      {"agent a ( group g ( int x serial 9 rpcid 4 units u int y ) )\n",
       "newAgent(a,0) newGroup(g,0) newAttribute(x,3,1,-,1)[|u|||9|4] "
       "newAttribute(y,3,1,-,1) endGroup endAgent"},
  });
  EXPECT_EQ(0, dbparse_errors());  // syntax errors are not counted
}

TEST(SchemaLexerTest, CommentsQuotesNumbersAndIgnoredCharacters) {
  EXPECT_EQ("abcd", namespaceName("ab#comment\ncd"));  // a comment joins words
  EXPECT_EQ(3, dbparse_getlineno());
  EXPECT_EQ("abc d", namespaceName("ab\"c d\""));  // a quote may open mid-word
  EXPECT_EQ("ab", namespaceName(std::string("a\x01\x7f\r", 4) + std::string(1, '\0') + "b\r"));
  EXPECT_EQ("caf\xc3\xa9", namespaceName("caf\xc3\xa9"));
  expectParses({
      {"namespace ab #comment\ncd\n", "newNamespace(ab) !syntax error@3"},
      {"namespace a\n# trailing", "newNamespace(a)"},
      // Line ends inside quotes are kept but not counted.
      {"namespace \"a\n\nb\"\nnamespace c )\n",
       "newNamespace(a\n\nb) newNamespace(c) !syntax error@2"},
      {"namespace \"ab\"cd\n", "newNamespace(ab) !syntax error@2"},  // the quote ends the word
      // An unterminated quote runs to the end of the text and is lost.
      {"namespace a\nnamespace \"b\n", "newNamespace(a) !syntax error@2"},
      {"enum e ( -5 a -x b - c 007 d 99999999999 e 12ab f )\n",
       "beginEnumeration(e,0) nextEnumeration(-5,a) nextEnumeration(-1,b) nextEnumeration(0,c) "
       "nextEnumeration(7,d) nextEnumeration(2147483647,e) nextEnumeration(-1,f) "
       "endEnumeration(e,0) !invalid string or octet length@1 !invalid string or octet length@1"},
      {"record r ( octet [ x ] o string [ -3 ] s )\n",
       "newRecord(r) newField(o,9,-1,-) newField(s,10,-1,-) endRecord "
       "!invalid string or octet length@1 !invalid string or octet length@1"},
  });
}

TEST(SchemaLexerTest, LongLinesAndWords) {
  // Lines longer than the line buffer are read across refills.
  std::string line;
  for (int i = 0; i < 300; i++) line += "namespace n" + std::to_string(i) + " ";
  EXPECT_EQ(0, parse(line + "\n"));
  ASSERT_EQ(300u, events.size());
  EXPECT_EQ("newNamespace(n299)", events.back());
  EXPECT_EQ(2, dbparse_getlineno());

  std::string longWord(2000, 'w');
  EXPECT_EQ(std::string(64, 'w'), namespaceName(longWord));
  EXPECT_EQ("newRecord(r) newField(f,3,1,-) newAgent(a,0)[" + std::string(1023, 'w') +
                "||||1|0] endAgent !syntax error@1",  // fields take no capabilities
            parsed("record r ( int f description " + longWord + " )\n"
                   "agent a description " + longWord + " ( )\n"));
}

TEST(SchemaParseTest, CallbackErrorsAddToTheResult) {
  EXPECT_EQ(0, dbparse_parsing());
  countNamespaces = true;
  EXPECT_EQ("=2 parsing(1) parsing(1)", parsed("namespace a\nnamespace b\n"));
  countNamespaces = false;
  EXPECT_EQ(2, dbparse_errors());
  EXPECT_EQ(0, dbparse_parsing());
  EXPECT_EQ(0, parse("namespace a\n"));  // each parse starts its count afresh
  EXPECT_EQ(0, dbparse_errors());
  EXPECT_EQ(1, dbparse_schema(nullptr, "x"));
}

const char kDeepest[] = "agent a ( table t ( rw enum e x description d ) )\n";

#ifndef YYINITDEPTH
TEST(SchemaParseTest, InitialStackIsEnoughForTheDeepestDefinition) {
  // The grammar's lists are left-recursive: no input nests deeper than the
  // 150 states the stack starts with, so the allocator is never called.
  dbparse_stack_allocator previous =
      dbparse_setStackAllocator([](void*, size_t) -> void* { return nullptr; });
  EXPECT_EQ("newAgent(a,0) newGroup(t,1) newAttribute(x,21,1,e,3)[d||||1|0] endGroup endAgent",
            parsed(kDeepest));
  dbparse_setStackAllocator(previous);
}
#else
int allocations = 0;
int allocationsAllowed = 0;
void* limitedAllocator(void* block, size_t bytes) {
  if (allocations++ >= allocationsAllowed) return nullptr;
  return realloc(block, bytes);
}

TEST(SchemaParseTest, StackDoublesAndReportsOverflow) {
  // Built with a 2-state initial stack, the same text needs the growth.
  dbparse_stack_allocator previous = dbparse_setStackAllocator(limitedAllocator);
  allocationsAllowed = 100;
  EXPECT_EQ(0, parse(kDeepest));
  EXPECT_EQ(5u, events.size());
  EXPECT_GE(allocations, 6);  // 2 -> 4 -> 8 -> 16, two stacks
  // Failing the third allocation (second growth of the state stack) abandons
  // the parse; the blocks already taken are released; the next parse starts afresh.
  allocations = 0;
  allocationsAllowed = 2;
  EXPECT_EQ(1, parse(kDeepest));
  EXPECT_EQ((std::vector<std::string>{"yacc stack overflow@1"}), messages);
  EXPECT_EQ(0, dbparse_parsing());
  allocationsAllowed = 100;
  EXPECT_EQ(0, parse(kDeepest));
  dbparse_setStackAllocator(previous);
}
#endif

TEST(QuoteStringTest, QuotesOnlyWhatTheLexerWouldSplit) {
  EXPECT_STREQ("enum", db_quote_string("enum"));
  EXPECT_STREQ("\"a\"\"b\"", db_quote_string("a\"b"));
  // Everything it writes reads back as the same single word.
  for (const char* word : {"", "plain", "two words", "a\"b", "\"\"", "(x)", "#x", "enum",
                           "line\nend", "tab\there", "[", "ctl\x01"}) {
    EXPECT_EQ(word, namespaceName(db_quote_string(word))) << word;
    EXPECT_TRUE(messages.empty()) << word;
  }
  // Too long for the buffer: cut, still a well-formed word.
  std::string quotes(1000, '"');
  const char* q = db_quote_string(quotes.c_str());
  EXPECT_LT(strlen(q), 1024u);
  EXPECT_EQ(std::string(64, '"'), namespaceName(q));
}

}  // namespace
