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

int textSource() {
  return pos < text.size() ? static_cast<unsigned char>(text[pos++]) : -1;
}

void recordMessage(const char* message) {
  messages.push_back(std::string(message) + "@" + std::to_string(dbparse_getlineno()));
}

std::string caps() {
  return std::string(" [") + dbparse_getDescription() + "|" + dbparse_getUnits() + "|" +
         dbparse_getCharacteristics() + "|" + dbparse_getMap() + "|" +
         std::to_string(dbparse_getSerial()) + "|" + std::to_string(dbparse_getRpcid()) + "]";
}

const char* orDash(const char* s) { return s != nullptr ? s : "-"; }

int record(const std::string& event) {
  events.push_back(event);
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

// Name delivered to newNamespace for "namespace <word>\n".
std::string namespaceName(const std::string& word) {
  parse("namespace " + word + "\n");
  if (events.size() != 1 || events[0].compare(0, 13, "newNamespace(") != 0) return "<none>";
  return events[0].substr(13, events[0].size() - 14);
}

}  // namespace

int dbparse_newAgent(const char* name, int isProxy) {
  return record("newAgent(" + std::string(name) + "," + std::to_string(isProxy) + ")" + caps());
}
int dbparse_endAgent(void) { return record("endAgent"); }
int dbparse_newGroup(const char* name, int isTable) {
  return record("newGroup(" + std::string(name) + "," + std::to_string(isTable) + ")" + caps());
}
int dbparse_endGroup(void) { return record("endGroup"); }
int dbparse_newAgentError(int number, const char* t) {
  return record("newAgentError(" + std::to_string(number) + "," + t + ")");
}
int dbparse_newAttribute(const char* name, int type, int size, const char* enumName, int access) {
  return record("newAttribute(" + std::string(name) + "," + std::to_string(type) + "," +
                std::to_string(size) + "," + orDash(enumName) + "," + std::to_string(access) +
                ")" + caps());
}
int dbparse_newNamespace(const char* name) {
  if (countNamespaces) {
    dbparse_inc_error();
    return record("parsing=" + std::to_string(dbparse_parsing()));
  }
  return record("newNamespace(" + std::string(name) + ")");
}
int dbparse_beginEnumeration(const char* name, int inAgent) {
  return record("beginEnumeration(" + std::string(name) + "," + std::to_string(inAgent) + ")");
}
int dbparse_nextEnumeration(int number, const char* name) {
  return record("nextEnumeration(" + std::to_string(number) + "," + name + ")");
}
int dbparse_endEnumeration(const char* name, int inAgent) {
  return record("endEnumeration(" + std::string(name) + "," + std::to_string(inAgent) + ")");
}
int dbparse_newRecord(const char* name) { return record("newRecord(" + std::string(name) + ")"); }
int dbparse_newField(const char* name, int type, int size, const char* enumName) {
  return record("newField(" + std::string(name) + "," + std::to_string(type) + "," +
                std::to_string(size) + "," + orDash(enumName) + ")");
}
int dbparse_endRecord(void) { return record("endRecord"); }
int dbparse_newInstance(const char* name) { return record("newInstance(" + std::string(name) + ")"); }
int dbparse_beginInstanceFields(void) { return record("beginInstanceFields"); }
int dbparse_nextInstanceField(const char* t) { return record("nextInstanceField(" + std::string(t) + ")"); }
int dbparse_endInstanceFields(void) { return record("endInstanceFields"); }
int dbparse_storeInstance(void) { return record("storeInstance"); }
int dbparse_endInstance(void) { return record("endInstance"); }
int dbparse_beginCluster(void) { return record("beginCluster"); }
int dbparse_beginClusterRec(const char* t) { return record("beginClusterRec(" + std::string(t) + ")"); }
int dbparse_endClusterRec(void) { return record("endClusterRec"); }
int dbparse_endCluster(void) { return record("endCluster"); }

namespace {

using Events = std::vector<std::string>;

TEST(SchemaGrammarTest, EveryDefinitionKindInOrder) {
  const char* schema =
      "# station agent\n"
      "agent myAgent description \"The agent\" serial 3 rpcid 100200 (\n"
      "  group sys description \"System group\" (\n"
      "    readonly short a1\n"
      "    rw unsigned short a2 units \"ms\"\n"
      "    wo int a3\n"
      "    na unsigned int a4\n"
      "    long a5\n"
      "    readwrite unsigned long a6\n"
      "    writeonly float a7\n"
      "    notaccessible double a8\n"
      "    octet[8] a9\n"
      "    string [32] a10\n"
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
  ASSERT_EQ(0, parse(schema));
  Events expected = {
      "newAgent(myAgent,0) [The agent||||3|100200]", "newGroup(sys,0) [System group||||1|0]",
      "newAttribute(a1,1,1,-,1) [||||1|0]", "newAttribute(a2,2,1,-,3) [|ms|||1|0]",
      "newAttribute(a3,3,1,-,2) [||||1|0]", "newAttribute(a4,4,1,-,0) [||||1|0]",
      "newAttribute(a5,5,1,-,1) [||||1|0]", "newAttribute(a6,6,1,-,3) [||||1|0]",
      "newAttribute(a7,7,1,-,2) [||||1|0]", "newAttribute(a8,8,1,-,0) [||||1|0]",
      "newAttribute(a9,9,8,-,1) [||||1|0]", "newAttribute(a10,10,32,-,1) [||||1|0]",
      "newAttribute(a11,11,1,-,1) [||||1|0]", "newAttribute(a12,12,1,-,1) [||||1|0]",
      "newAttribute(a13,13,1,-,1) [||||1|0]", "newAttribute(a14,14,1,-,1) [||||1|0]",
      "newAttribute(a15,15,1,-,1) [||||1|0]", "newAttribute(a16,16,1,-,1) [||||1|0]",
      "newAttribute(a17,17,1,-,1) [||||1|0]", "newAttribute(a18,18,1,-,1) [||||1|0]",
      "newAttribute(a19,19,1,-,1) [||||1|0]", "newAttribute(a20,22,1,-,1) [||||1|0]",
      "newAttribute(a21,23,64,-,1) [||||1|0]", "newAttribute(a22,21,1,status,1) [||c|m|1|0]",
      "endGroup", "newGroup(tbl,1) [||||1|0]", "newAttribute(col1,3,1,-,1) [||||1|0]", "endGroup",
      "newAgentError(1,first error)", "newAgentError(2,second)", "beginEnumeration(status,1)",
      "nextEnumeration(1,up)", "nextEnumeration(2,down)", "nextEnumeration(-5,broken)",
      "endEnumeration(status,1)", "endAgent", "newAgent(myProxy,1) [||||1|0]", "endAgent",
      "newNamespace(ns1)", "beginEnumeration(color,0)", "nextEnumeration(0,red)",
      "nextEnumeration(1,green)", "endEnumeration(color,0)", "newRecord(rec1)",
      "newField(f1,3,1,-)", "newField(f2,21,1,color)", "newField(f3,10,16,-)", "endRecord",
      "newInstance(inst1)", "beginInstanceFields", "nextInstanceField(a)", "nextInstanceField(b)",
      "nextInstanceField(c)", "endInstanceFields", "storeInstance", "beginInstanceFields",
      "nextInstanceField(x y)", "nextInstanceField(z)", "endInstanceFields", "storeInstance",
      "endInstance", "beginCluster", "beginClusterRec(c1)", "beginInstanceFields",
      "nextInstanceField(v1)", "nextInstanceField(v2)", "endInstanceFields", "endClusterRec",
      "beginClusterRec(c2)", "beginInstanceFields", "nextInstanceField(w1)", "endInstanceFields",
      "endClusterRec", "endCluster",
  };
  EXPECT_EQ(expected, events);
  EXPECT_TRUE(messages.empty());
  EXPECT_EQ(28, dbparse_getlineno());
  EXPECT_STREQ("test.schema", dbparse_getFilename());
}

TEST(SchemaGrammarTest, EmptyTextIsAccepted) {
  EXPECT_EQ(0, parse(""));
  EXPECT_TRUE(events.empty());
  EXPECT_EQ(0, parse("  # only a comment\n\n"));
  EXPECT_TRUE(events.empty());
  EXPECT_TRUE(messages.empty());
}

TEST(SchemaGrammarTest, ReservedWordsIgnoreCaseUnlessQuoted) {
  EXPECT_EQ(0, parse("EnUm Color ( 1 Red )\nNAMESPACE x\n"));
  EXPECT_EQ((Events{"beginEnumeration(Color,0)", "nextEnumeration(1,Red)",
                    "endEnumeration(Color,0)", "newNamespace(x)"}),
            events);

  // A quoted "enum" is a plain word: the definition is skipped, the next read.
  EXPECT_EQ(0, parse("\"enum\" color ( 1 red )\nnamespace after\n"));
  EXPECT_EQ((Events{"newNamespace(after)"}), events);
  EXPECT_EQ((Events{"syntax error@1"}), messages);

  // "attribute" is reserved but no production uses it.
  EXPECT_EQ(0, parse("attribute x\nnamespace attribute\n"));
  EXPECT_EQ((Events{"newNamespace(attribute)"}), events);
  EXPECT_EQ(1u, messages.size());
}

TEST(SchemaGrammarTest, NamesMaySpellReservedWords) {
  EXPECT_EQ(0, parse("record enum ( name name enum int record unsigned int unsigned )\n"
                     "agent group ( table enum ( int agent ) )\n"
                     "enum proxy ( 1 short )\n"));
  EXPECT_EQ((Events{"newRecord(enum)", "newField(name,22,1,-)", "newField(record,21,1,int)",
                    "newField(unsigned,4,1,-)", "endRecord",
                    "newAgent(group,0) [||||1|0]", "newGroup(enum,1) [||||1|0]",
                    "newAttribute(agent,3,1,-,1) [||||1|0]", "endGroup", "endAgent",
                    "beginEnumeration(proxy,0)", "nextEnumeration(1,short)",
                    "endEnumeration(proxy,0)"}),
            events);
  EXPECT_TRUE(messages.empty());
}

TEST(SchemaGrammarTest, OnlyTheFirstValueOfAValueGroupIsReadPlain) {
  EXPECT_EQ(0, parse("instance i ( ( int \"int\" ) )\n"));
  EXPECT_EQ((Events{"newInstance(i)", "beginInstanceFields", "nextInstanceField(int)",
                    "nextInstanceField(int)", "endInstanceFields", "storeInstance",
                    "endInstance"}),
            events);

  EXPECT_EQ(0, parse("instance i ( ( int int ) )\nnamespace after\n"));
  EXPECT_EQ((Events{"newInstance(i)", "beginInstanceFields", "nextInstanceField(int)",
                    "newNamespace(after)"}),
            events);
  EXPECT_EQ((Events{"syntax error@1"}), messages);

  // Every cluster record name is read plain.
  EXPECT_EQ(0, parse("cluster ( enum ( a ) record ( record ) )\n"));
  EXPECT_EQ((Events{"beginCluster", "beginClusterRec(enum)", "beginInstanceFields",
                    "nextInstanceField(a)", "endInstanceFields", "endClusterRec",
                    "beginClusterRec(record)", "beginInstanceFields",
                    "nextInstanceField(record)", "endInstanceFields", "endClusterRec",
                    "endCluster"}),
            events);
}

TEST(SchemaGrammarTest, BrokenDefinitionIsSkippedAndReservedWordsComeBack) {
  // The error comes while reserved words are off (after "namespace"); the
  // recovery switches them on again so that "enum" starts the next one.
  EXPECT_EQ(0, parse("namespace ( enum e ( 1 a )\n"));
  EXPECT_EQ((Events{"beginEnumeration(e,0)", "nextEnumeration(1,a)", "endEnumeration(e,0)"}),
            events);
  EXPECT_EQ((Events{"syntax error@1"}), messages);

  // An error deep inside an agent drops the rest of it up to the next definition.
  EXPECT_EQ(0, parse("agent a (\n group g ( int ) x y )\n)\nrecord r ( long f )\n"));
  EXPECT_EQ((Events{"newAgent(a,0) [||||1|0]", "newGroup(g,0) [||||1|0]", "newRecord(r)",
                    "newField(f,5,1,-)", "endRecord"}),
            events);
  EXPECT_EQ((Events{"syntax error@2"}), messages);
  EXPECT_EQ(0, dbparse_errors());

  // "unsigned" must be followed by short, int or long.
  EXPECT_EQ(0, parse("record r ( unsigned double d )\nnamespace n\n"));
  EXPECT_EQ((Events{"newRecord(r)", "newNamespace(n)"}), events);
}

TEST(SchemaGrammarTest, LastWordWithoutTerminatorIsLost) {
  EXPECT_EQ(0, parse("namespace first\nnamespace last"));
  EXPECT_EQ((Events{"newNamespace(first)"}), events);
  EXPECT_EQ((Events{"syntax error@2"}), messages);

  EXPECT_EQ(0, parse("namespace last\n"));
  EXPECT_EQ((Events{"newNamespace(last)"}), events);
  // A bracket ends a word as well.
  EXPECT_EQ(0, parse("enum e ( 1 x )"));
  EXPECT_EQ(3u, events.size());
}

TEST(SchemaLexerTest, CommentsJoinWordsAndCountLines) {
  EXPECT_EQ("abcd", namespaceName("ab#comment\ncd"));
  EXPECT_EQ(3, dbparse_getlineno());
  EXPECT_EQ(0, parse("namespace ab #comment\ncd\n"));
  EXPECT_EQ((Events{"newNamespace(ab)"}), events);
  EXPECT_EQ((Events{"syntax error@3"}), messages);
  // A comment at the end of the text without a line end.
  EXPECT_EQ(0, parse("namespace a\n# trailing"));
  EXPECT_EQ((Events{"newNamespace(a)"}), events);
}

TEST(SchemaLexerTest, QuotedWords) {
  EXPECT_EQ("say \"hi\"", namespaceName("\"say \"\"hi\"\"\""));
  EXPECT_EQ("abc d", namespaceName("ab\"c d\""));
  EXPECT_EQ("", namespaceName("\"\""));
  EXPECT_EQ("(#)", namespaceName("\"(#)\""));
  EXPECT_EQ("a\x01z", namespaceName("\"a\x01z\""));

  // Line ends inside quotes are kept but not counted.
  EXPECT_EQ(0, parse("namespace \"a\n\nb\"\nnamespace c )\n"));
  EXPECT_EQ((Events{"newNamespace(a\n\nb)", "newNamespace(c)"}), events);
  EXPECT_EQ((Events{"syntax error@2"}), messages);

  // The closing quote ends the token.
  EXPECT_EQ(0, parse("namespace \"ab\"cd\n"));
  EXPECT_EQ((Events{"newNamespace(ab)"}), events);
  EXPECT_EQ(1u, messages.size());

  // An unterminated quote runs to the end of the text and is lost.
  EXPECT_EQ(0, parse("namespace a\nnamespace \"b\n"));
  EXPECT_EQ((Events{"newNamespace(a)"}), events);
}

TEST(SchemaLexerTest, IgnoredCharactersAndLongLines) {
  EXPECT_EQ("ab", namespaceName(std::string("a\x01\x7f\r", 4) + std::string(1, '\0') + "b\r"));
  EXPECT_EQ("caf\xc3\xa9", namespaceName("caf\xc3\xa9"));

  // Lines longer than the line buffer are read across refills.
  std::string line;
  for (int i = 0; i < 300; i++) line += "namespace n" + std::to_string(i) + " ";
  EXPECT_EQ(0, parse(line + "\n"));
  ASSERT_EQ(300u, events.size());
  EXPECT_EQ("newNamespace(n299)", events.back());
  EXPECT_EQ(2, dbparse_getlineno());
}

TEST(SchemaLexerTest, WordsAndNamesAreCut) {
  std::string longWord(2000, 'w');
  EXPECT_EQ(std::string(64, 'w'), namespaceName(longWord));
  EXPECT_EQ(0, parse("record r ( int f description " + longWord + " )\n"
                     "agent a description " + longWord + " ( )\n"));
  ASSERT_EQ(4u, events.size());
  EXPECT_EQ("newAgent(a,0) [" + std::string(1023, 'w') + "||||1|0]", events[2]);
  EXPECT_EQ(1u, messages.size());  // fields take no capabilities
}

TEST(SchemaLexerTest, Numbers) {
  EXPECT_EQ(0, parse("enum e ( -5 a -x b - c 007 d 99999999999 e 12ab f )\n"));
  EXPECT_EQ((Events{"beginEnumeration(e,0)", "nextEnumeration(-5,a)", "nextEnumeration(-1,b)",
                    "nextEnumeration(0,c)", "nextEnumeration(7,d)",
                    "nextEnumeration(2147483647,e)", "nextEnumeration(-1,f)",
                    "endEnumeration(e,0)"}),
            events);
  EXPECT_EQ((Events{"invalid string or octet length@1", "invalid string or octet length@1"}),
            messages);

  EXPECT_EQ(0, parse("record r ( octet [ x ] o string [ -3 ] s )\n"));
  EXPECT_EQ((Events{"newRecord(r)", "newField(o,9,-1,-)", "newField(s,10,-1,-)", "endRecord"}),
            events);
  EXPECT_EQ(2u, messages.size());
}

TEST(SchemaGrammarTest, CapabilitiesAreClearedBetweenDefinitions) {
  EXPECT_EQ(0, parse("agent a ( group g ( int x serial 9 rpcid 4 units u int y ) )\n"));
  ASSERT_EQ(6u, events.size());
  EXPECT_EQ("newAttribute(x,3,1,-,1) [|u|||9|4]", events[2]);
  EXPECT_EQ("newAttribute(y,3,1,-,1) [||||1|0]", events[3]);
}

TEST(SchemaParseTest, CallbackErrorsAddToTheResult) {
  EXPECT_EQ(0, dbparse_parsing());
  countNamespaces = true;
  EXPECT_EQ(2, parse("namespace a\nnamespace b\n"));
  countNamespaces = false;
  EXPECT_EQ((Events{"parsing=1", "parsing=1"}), events);
  EXPECT_EQ(2, dbparse_errors());
  EXPECT_EQ(0, dbparse_parsing());
  // Each parse starts its count afresh.
  EXPECT_EQ(0, parse("namespace a\n"));
  EXPECT_EQ(0, dbparse_errors());
  EXPECT_EQ(1, dbparse_schema(nullptr, "x"));
}

#ifndef YYINITDEPTH
TEST(SchemaParseTest, InitialStackIsEnoughForTheDeepestDefinition) {
  // The grammar's lists are left-recursive: no input nests deeper than the
  // 150 states the stack starts with, so the allocator is never called.
  dbparse_stack_allocator previous =
      dbparse_setStackAllocator([](void*, size_t) -> void* { return nullptr; });
  EXPECT_EQ(0, parse("agent a ( table t ( rw enum e x description d ) )\n"));
  EXPECT_EQ(5u, events.size());
  EXPECT_TRUE(messages.empty());
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
  // Built with a 2-state initial stack, the same texts need the growth.
  const char* schema = "agent a ( table t ( rw enum e x description d ) )\n";
  dbparse_stack_allocator previous = dbparse_setStackAllocator(limitedAllocator);
  allocations = 0;
  allocationsAllowed = 100;
  EXPECT_EQ(0, parse(schema));
  EXPECT_EQ(5u, events.size());
  EXPECT_GE(allocations, 6);  // 2 -> 4 -> 8 -> 16, two stacks

  // Failing the third allocation (second growth of the state stack) abandons
  // the parse; the blocks already taken are released.
  allocations = 0;
  allocationsAllowed = 2;
  EXPECT_EQ(1, parse(schema));
  EXPECT_EQ((Events{"yacc stack overflow@1"}), messages);
  EXPECT_EQ(0, dbparse_parsing());

  // The next parse starts afresh.
  allocationsAllowed = 100;
  allocations = 0;
  EXPECT_EQ(0, parse(schema));
  dbparse_setStackAllocator(previous);
}
#endif

TEST(QuoteStringTest, QuotesOnlyWhatTheLexerWouldSplit) {
  EXPECT_STREQ("\"\"", db_quote_string(""));
  EXPECT_STREQ("plain", db_quote_string("plain"));
  EXPECT_STREQ("enum", db_quote_string("enum"));
  EXPECT_STREQ("\"two words\"", db_quote_string("two words"));
  EXPECT_STREQ("\"a\"\"b\"", db_quote_string("a\"b"));
  EXPECT_STREQ("\"x(y)\"", db_quote_string("x(y)"));

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
