// The schema reader's front end: the lexer of agent schema files, the entry
// point that runs the generated grammar over one schema text, the accessors
// the callbacks use, and the callbacks themselves (declared here, defined by
// the schema tables module, attribute.cc).
//
// One parse runs at a time; all state is module-wide.  Names and texts
// handed to callbacks point into the parser's buffers and are valid only
// during the call.
#ifndef DAEMONS_OVI_SENDER_PARSER_DRIVER_H_
#define DAEMONS_OVI_SENDER_PARSER_DRIVER_H_

#include <stddef.h>

// Character source: returns the next character (0..255) of the schema text,
// or -1 at its end.  Must keep returning -1 once it has.
typedef int (*dbparse_getchar_fn)(void);

// Parses one schema text read from routine; filename is kept for callers
// (the error hook, dbparse_getFilename) and not used otherwise.  Returns the
// error count (dbparse_errors) plus 0 when the text was accepted or 1 when
// the parse was abandoned.  Syntax errors are recovered at the level of
// definitions and do not count, so a text with syntax errors still yields 0.
// A null routine yields 1.
int dbparse_schema(dbparse_getchar_fn routine, const char* filename);

// Capabilities of the definition being read ("description", "units",
// "characteristics", "map", "serial", "rpcid").  Texts are module buffers,
// empty when cleared; serial is 1 and rpcid 0 when cleared.
const char* dbparse_getDescription(void);
const char* dbparse_getUnits(void);
const char* dbparse_getCharacteristics(void);
const char* dbparse_getMap(void);
int dbparse_getSerial(void);
int dbparse_getRpcid(void);

int dbparse_getlineno(void);           // line being read, 1 at the start
const char* dbparse_getFilename(void); // name given to the running or last parse
int dbparse_errors(void);              // error count of the running or last parse
void dbparse_inc_error(void);          // adds 1 to the error count
int dbparse_parsing(void);             // 1 while a parse runs, else 0

// Text to write for word so that the lexer reads it back as one plain word:
// "\"\"" for an empty word, word itself when it holds only word characters,
// else the word in double quotes with inner quotes doubled (in a module
// buffer of 1024 bytes that the next call overwrites; a word too long for it
// is cut, the result staying a well-formed quoted word).
const char* db_quote_string(const char* word);

// Error hook: receives "syntax error", "yacc stack overflow" and "invalid
// string or octet length" while a parse runs (dbparse_getFilename and
// dbparse_getlineno tell where).  Null, the default, ignores them; the hook
// never changes the error count.  Returns the previous hook.
typedef void (*dbparse_error_hook)(const char* message);
dbparse_error_hook dbparse_setErrorHook(dbparse_error_hook hook);

// Allocator of the parse stack (realloc semantics; realloc by default).  The
// stack starts with room for 150 states and doubles when full; when the
// allocator fails the parse stops with "yacc stack overflow" and result 1.
// Tests substitute a failing one.  Returns the previous allocator.
typedef void* (*dbparse_stack_allocator)(void* block, size_t bytes);
dbparse_stack_allocator dbparse_setStackAllocator(dbparse_stack_allocator allocator);

// Callbacks made by the grammar, each returning 1 (the result is ignored).
// isProxy, isTable, inAgent are 0 or 1; type is a schema type code (21 for an
// enumeration); access is 0 not accessible, 1 read-only, 2 write-only,
// 3 read-write; enumName is null for an attribute or field of another type.
int dbparse_newAgent(const char* name, int isProxy);
int dbparse_endAgent(void);
int dbparse_newGroup(const char* name, int isTable);
int dbparse_endGroup(void);
int dbparse_newAgentError(int number, const char* text);
int dbparse_newAttribute(const char* name, int type, int size, const char* enumName, int access);
int dbparse_newNamespace(const char* name);
int dbparse_beginEnumeration(const char* enumName, int inAgent);
int dbparse_nextEnumeration(int number, const char* name);
int dbparse_endEnumeration(const char* enumName, int inAgent);
int dbparse_newRecord(const char* name);
int dbparse_newField(const char* name, int type, int size, const char* enumName);
int dbparse_endRecord(void);
int dbparse_newInstance(const char* name);
int dbparse_beginInstanceFields(void);
int dbparse_nextInstanceField(const char* text);
int dbparse_endInstanceFields(void);
int dbparse_storeInstance(void);
int dbparse_endInstance(void);
int dbparse_beginCluster(void);
int dbparse_beginClusterRec(const char* text);
int dbparse_endClusterRec(void);
int dbparse_endCluster(void);

// ---------------------------------------------------------------------------
// Between the generated grammar (parser.y) and this module only.

int schema_yylex(void);                 // next token code; its text in dbparse_word()
void schema_yyerror(const char* message);  // passes message to the error hook
const char* dbparse_word(void);         // text of the last token read
void dbparse_setReservedWords(int on);  // governs the next word the lexer reads
const char* dbparse_keepName(void);     // copies the last word, cut to 64, into save_name
const char* dbparse_keepEnum(void);     // same into save_enum
int convertPosNumber(const char* word); // 0 empty, decimal value, or -1 (reported)
int convertNumber(const char* word);    // as convertPosNumber, with a leading '-'
void dbparse_clearCaps(void);
void dbparse_setDescription(const char* text);
void dbparse_setUnits(const char* text);
void dbparse_setCharacteristics(const char* text);
void dbparse_setMap(const char* text);
void dbparse_setSerial(int serial);
void dbparse_setRpcid(int rpcid);
// Grows one parse stack (which: 0 states, 1 values) from the block *stack
// holding usedBytes to newBytes; the first growth copies out of the parser's
// own initial array.  Returns 1, or 0 with *stack unchanged and still valid.
int dbparse_growStack(int which, void** stack, size_t usedBytes, size_t newBytes);

#endif  // DAEMONS_OVI_SENDER_PARSER_DRIVER_H_
