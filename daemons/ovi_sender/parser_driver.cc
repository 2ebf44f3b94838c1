#include "parser_driver.h"

#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "parser.hh"

namespace {

const size_t kLineSize = 1024;   // line buffer
const size_t kWordSize = 1024;   // token text: at most 1023 characters
const size_t kNameMax = 64;      // names and enumeration names are cut to this
const size_t kCapSize = 1024;    // capability texts

// Module state of the one parse that runs at a time.
dbparse_getchar_fn my_get_routine = nullptr;
std::string filename;
char linebuf[kLineSize];
size_t rp = 0, wp = 0;
int un_char = -1;
int db_lineno = 1;
char string[kWordSize];
int disable_reservedWords = 0;
char save_name[kNameMax + 1];
char save_enum[kNameMax + 1];
char description[kCapSize], units[kCapSize], characteristics[kCapSize], map[kCapSize];
int serial = 1;
int rpcid = 0;
int parsing = 0;
int errors = 0;

dbparse_error_hook error_hook = nullptr;
dbparse_stack_allocator stack_allocator = realloc;
void* stack_heap[2] = {nullptr, nullptr};  // grown parse stacks, freed after each parse

enum CharClass : unsigned char { kWord, kIgnored, kLineEnd, kQuote, kBracket, kBlank, kComment };

CharClass charClass(int c) {
  if (c == '\n') return kLineEnd;
  if (c == '\t' || c == ' ') return kBlank;
  if (c < 32 || c == 127) return kIgnored;
  switch (c) {
    case '"': return kQuote;
    case '(': case ')': case '[': case ']': return kBracket;
    case '#': return kComment;
    default: return kWord;
  }
}

struct ReservedWord {
  const char* word;
  int code;
};

const ReservedWord reservedWords[] = {
    {"agent", AGENT},           {"group", GROUP},
    {"table", TABLE},           {"attribute", ATTRIBUTE},
    {"namespace", NAMESPACE},   {"record", RECORD},
    {"recordname", RECORDNAME}, {"instance", INSTANCE},
    {"cluster", CLUSTER},       {"enum", ENUM},
    {"unsigned", UNSIGNED},     {"double", DOUBLE},
    {"unixtime", UNIXTIME},     {"ipaddress", IPADDRESS},
    {"short", SHORT},           {"pointer", POINTER},
    {"gauge", GAUGE},           {"int", INT},
    {"long", LONG},             {"float", FLOAT},
    {"string", STRING},         {"octet", OCTET},
    {"counter", COUNTER},       {"timeticks", TIMETICKS},
    {"netaddress", NETADDRESS}, {"agentname", AGENTNAME},
    {"description", DESCRIPTION}, {"units", UNITS},
    {"agenterrors", AGENTERRORS}, {"characteristics", CHARACTERISTICS},
    {"objectid", OBJECTID},     {"name", NAME},
    {"proxy", PROXY},           {"map", MAP},
    {"serial", SERIAL},         {"readonly", READONLY},
    {"ro", READONLY},           {"readwrite", READWRITE},
    {"rw", READWRITE},          {"writeonly", WRITEONLY},
    {"wo", WRITEONLY},          {"notaccessible", NOTACCESSIBLE},
    {"na", NOTACCESSIBLE},      {"rpcid", RPCID},
};

// ASCII-only case folding: bytes above 127 are word characters that no
// reserved word contains, whatever the locale says about them.
bool equalsIgnoringCase(const char* a, const char* b) {
  for (; *a != '\0' && *b != '\0'; a++, b++) {
    unsigned char x = static_cast<unsigned char>(*a), y = static_cast<unsigned char>(*b);
    if (x >= 'A' && x <= 'Z') x = static_cast<unsigned char>(x - 'A' + 'a');
    if (x != y) return false;
  }
  return *a == *b;
}

int reservedCode(const char* word) {
  for (const ReservedWord& r : reservedWords)
    if (equalsIgnoringCase(word, r.word)) return r.code;
  return WORD;
}

// Next character of the text, through the line buffer.
int mygetchar() {
  if (un_char != -1) {
    int c = un_char;
    un_char = -1;
    return c;
  }
  if (rp >= wp) {
    rp = wp = 0;
    while (wp < kLineSize) {
      int c = my_get_routine();
      if (c < 0) break;
      linebuf[wp++] = static_cast<char>(c);
      if (c == '\n') break;
    }
    if (wp == 0) return -1;
  }
  return static_cast<unsigned char>(linebuf[rp++]);
}

int endOfInput() {
  string[0] = '\0';
  return 0;
}

int endWord(size_t len) {
  string[len] = '\0';
  return disable_reservedWords ? WORD : reservedCode(string);
}

void append(size_t* len, int c) {
  if (*len < kWordSize - 1) string[(*len)++] = static_cast<char>(c);
}

void copyCut(char* to, size_t room, const char* from) {
  size_t n = strnlen(from, room - 1);
  memcpy(to, from, n);
  to[n] = '\0';
}

}  // namespace

int schema_yylex(void) {
  size_t len = 0;
  bool inWord = false;
  for (;;) {
    int c = mygetchar();
    if (c < 0) return endOfInput();  // a word still being collected is lost
    switch (charClass(c)) {
      case kIgnored:
        break;
      case kLineEnd:
        db_lineno++;
        if (inWord) return endWord(len);
        break;
      case kBlank:
        if (inWord) return endWord(len);
        break;
      case kComment:
        // The comment does not end a word: the next line's first word joins it.
        do {
          c = mygetchar();
        } while (c >= 0 && c != '\n');
        if (c < 0) return endOfInput();
        db_lineno++;
        break;
      case kQuote:
        for (;;) {
          c = mygetchar();
          if (c < 0) return endOfInput();
          if (c == '"') {
            int next = mygetchar();
            if (next == '"') {
              append(&len, '"');
              continue;
            }
            un_char = next;
            string[len] = '\0';
            return WORD;
          }
          append(&len, c);
        }
      case kBracket:
        if (inWord) {
          un_char = c;
          return endWord(len);
        }
        string[0] = static_cast<char>(c);
        string[1] = '\0';
        return c;
      case kWord:
        append(&len, c);
        inWord = true;
        break;
    }
  }
}

void schema_yyerror(const char* message) {
  if (error_hook != nullptr) error_hook(message);
}

const char* dbparse_word(void) { return string; }

void dbparse_setReservedWords(int on) { disable_reservedWords = !on; }

const char* dbparse_keepName(void) {
  copyCut(save_name, sizeof save_name, string);
  return save_name;
}

const char* dbparse_keepEnum(void) {
  copyCut(save_enum, sizeof save_enum, string);
  return save_enum;
}

int convertPosNumber(const char* word) {
  long long value = 0;
  for (const char* p = word; *p != '\0'; p++) {
    if (*p < '0' || *p > '9') {
      schema_yyerror("invalid string or octet length");
      return -1;
    }
    // Saturate rather than overflow; no schema length comes near it.
    if (value < INT_MAX) value = value * 10 + (*p - '0');
  }
  return value > INT_MAX ? INT_MAX : static_cast<int>(value);
}

int convertNumber(const char* word) {
  if (word[0] != '-') return convertPosNumber(word);
  int value = convertPosNumber(word + 1);
  return value > 0 ? -value : value;
}

void dbparse_clearCaps(void) {
  description[0] = units[0] = characteristics[0] = map[0] = '\0';
  serial = 1;
  rpcid = 0;
}

void dbparse_setDescription(const char* text) { copyCut(description, sizeof description, text); }
void dbparse_setUnits(const char* text) { copyCut(units, sizeof units, text); }
void dbparse_setCharacteristics(const char* text) {
  copyCut(characteristics, sizeof characteristics, text);
}
void dbparse_setMap(const char* text) { copyCut(map, sizeof map, text); }
void dbparse_setSerial(int value) { serial = value; }
void dbparse_setRpcid(int value) { rpcid = value; }

int dbparse_growStack(int which, void** stack, size_t usedBytes, size_t newBytes) {
  void* block;
  if (*stack == stack_heap[which]) {
    block = stack_allocator(*stack, newBytes);
  } else {
    // First growth: the parser's initial stack is its own array.
    block = stack_allocator(nullptr, newBytes);
    if (block != nullptr) memcpy(block, *stack, usedBytes);
  }
  if (block == nullptr) return 0;
  stack_heap[which] = block;
  *stack = block;
  return 1;
}

int schema_yyparse(void);

int dbparse_schema(dbparse_getchar_fn routine, const char* name) {
  if (routine == nullptr || parsing) return 1;
  parsing = 1;
  un_char = -1;
  disable_reservedWords = 0;
  errors = 0;
  db_lineno = 1;
  my_get_routine = routine;
  filename = name != nullptr ? name : "";
  rp = wp = 0;
  string[0] = save_name[0] = save_enum[0] = '\0';
  dbparse_clearCaps();
  int result = schema_yyparse();
  for (void*& block : stack_heap) {
    free(block);
    block = nullptr;
  }
  my_get_routine = nullptr;
  parsing = 0;
  return errors + result;
}

const char* dbparse_getDescription(void) { return description; }
const char* dbparse_getUnits(void) { return units; }
const char* dbparse_getCharacteristics(void) { return characteristics; }
const char* dbparse_getMap(void) { return map; }
int dbparse_getSerial(void) { return serial; }
int dbparse_getRpcid(void) { return rpcid; }
int dbparse_getlineno(void) { return db_lineno; }
const char* dbparse_getFilename(void) { return filename.c_str(); }
int dbparse_errors(void) { return errors; }
void dbparse_inc_error(void) { errors++; }
int dbparse_parsing(void) { return parsing; }

dbparse_error_hook dbparse_setErrorHook(dbparse_error_hook hook) {
  dbparse_error_hook previous = error_hook;
  error_hook = hook;
  return previous;
}

dbparse_stack_allocator dbparse_setStackAllocator(dbparse_stack_allocator allocator) {
  dbparse_stack_allocator previous = stack_allocator;
  stack_allocator = allocator != nullptr ? allocator : realloc;
  return previous;
}

const char* db_quote_string(const char* word) {
  static char quoted[1024];
  if (word == nullptr || word[0] == '\0') return "\"\"";
  bool plain = true;
  for (const char* p = word; *p != '\0' && plain; p++)
    plain = charClass(static_cast<unsigned char>(*p)) == kWord;
  if (plain) return word;
  size_t n = 0;
  quoted[n++] = '"';
  for (const char* p = word; *p != '\0'; p++) {
    size_t need = *p == '"' ? 2 : 1;
    if (n + need + 1 >= sizeof quoted) break;  // keep room for the closing quote
    quoted[n++] = *p;
    if (*p == '"') quoted[n++] = '"';
  }
  quoted[n++] = '"';
  quoted[n] = '\0';
  return quoted;
}
