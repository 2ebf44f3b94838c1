/* Grammar of agent schema files.  The lexer and the module state live in
 * parser_driver.cc; every production that uses a word's text is reduced
 * before the next token is read, so it takes the text from dbparse_word().
 *
 * kw_off switches reserved words off for the next word the lexer reads; the
 * productions after it switch them back on once their word is in. */

%define api.prefix {schema_yy}
%define parse.error simple
%expect 0

%{
#include <stddef.h>
#include <stdint.h>

#include "parser_driver.h"

/* The stack starts with room for 150 states and doubles whenever it is full;
 * only a failed allocation ends the parse (tests build it smaller to reach
 * the growth). */
#ifndef YYINITDEPTH
#define YYINITDEPTH 150
#endif

/* Doubles both stacks through the driver's allocator.  On failure the size
 * stays as it was, which makes the generated parser abort with result 1. */
template <typename S, typename V, typename N>
static void grow_parse_stacks(S** states, N stateBytes, V** values, N valueBytes, N* size) {
  if (*size <= 0 || static_cast<size_t>(*size) > SIZE_MAX / 2 / sizeof(V)) {
    schema_yyerror("yacc stack overflow");
    return;
  }
  size_t doubled = static_cast<size_t>(*size) * 2;
  void* s = *states;
  if (!dbparse_growStack(0, &s, static_cast<size_t>(stateBytes), doubled * sizeof(S))) {
    schema_yyerror("yacc stack overflow");
    return;
  }
  *states = static_cast<S*>(s);
  void* v = *values;
  if (!dbparse_growStack(1, &v, static_cast<size_t>(valueBytes), doubled * sizeof(V))) {
    schema_yyerror("yacc stack overflow");
    return;
  }
  *values = static_cast<V*>(v);
  *size = static_cast<N>(doubled);
}

#define yyoverflow(message, states, stateBytes, values, valueBytes, size) \
  grow_parse_stacks(states, stateBytes, values, valueBytes, size)
/* With yyoverflow supplied the skeleton's own exhaustion label goes unused. */
#pragma GCC diagnostic ignored "-Wunused-label"

/* Size of the last type read: 1, the bracketed length, or 64 for objectid. */
static int size;
%}

%union {
  int num;
  const char* str;
}

%token WORD 257
%token AGENT 258 "agent"
%token GROUP 259 "group"
%token TABLE 260 "table"
%token ATTRIBUTE 261 "attribute"
%token NAMESPACE 262 "namespace"
%token RECORD 263 "record"
%token RECORDNAME 264 "recordname"
%token INSTANCE 265 "instance"
%token CLUSTER 266 "cluster"
%token ENUM 267 "enum"
%token UNSIGNED 268 "unsigned"
%token DOUBLE 269 "double"
%token UNIXTIME 270 "unixtime"
%token IPADDRESS 271 "ipaddress"
%token SHORT 272 "short"
%token POINTER 273 "pointer"
%token GAUGE 274 "gauge"
%token INT 275 "int"
%token LONG 276 "long"
%token FLOAT 277 "float"
%token STRING 278 "string"
%token OCTET 279 "octet"
%token COUNTER 280 "counter"
%token TIMETICKS 281 "timeticks"
%token NETADDRESS 282 "netaddress"
%token AGENTNAME 283 "agentname"
%token DESCRIPTION 284 "description"
%token UNITS 285 "units"
%token AGENTERRORS 286 "agenterrors"
%token CHARACTERISTICS 288 "characteristics"
%token OBJECTID 289 "objectid"
%token NAME 290 "name"
%token PROXY 291 "proxy"
%token MAP 292 "map"
%token SERIAL 293 "serial"
%token READONLY 294 "readonly"
%token READWRITE 295 "readwrite"
%token WRITEONLY 296 "writeonly"
%token NOTACCESSIBLE 297 "notaccessible"
%token RPCID 298 "rpcid"

%type <str> ident enum_name agent_enum_name enum_ref
%type <num> posnum number type access

%%

schema
  : %empty
  | schema definition
  ;

definition
  : error         { dbparse_setReservedWords(1); }
  | agent_def
  | proxy_def
  | namespace_def
  | enum_def
  | record_def
  | instance_def
  | cluster_def
  ;

kw_off
  : %empty        { dbparse_setReservedWords(0); }
  ;

ident
  : kw_off WORD   { $$ = dbparse_keepName(); dbparse_setReservedWords(1); }
  ;

text
  : kw_off WORD   { dbparse_setReservedWords(1); }
  ;

posnum
  : WORD          { $$ = convertPosNumber(dbparse_word()); }
  ;

number
  : WORD          { $$ = convertNumber(dbparse_word()); }
  ;

agent_def
  : "agent" agent_head '(' group_list ')'  { dbparse_endAgent(); }
  ;

agent_head
  : ident caps    { dbparse_newAgent($1, 0); dbparse_clearCaps(); }
  ;

proxy_def
  : "proxy" proxy_head '(' group_list ')'  { dbparse_endAgent(); }
  ;

proxy_head
  : ident caps    { dbparse_newAgent($1, 1); dbparse_clearCaps(); }
  ;

group_list
  : %empty
  | group_list group_item
  ;

group_item
  : "group" group_head '(' attr_list ')'  { dbparse_endGroup(); }
  | "table" table_head '(' attr_list ')'  { dbparse_endGroup(); }
  | "agenterrors" '(' error_list ')'
  | "enum" agent_enum_name '(' enum_values ')'  { dbparse_endEnumeration($2, 1); }
  ;

group_head
  : ident caps    { dbparse_newGroup($1, 0); dbparse_clearCaps(); }
  ;

table_head
  : ident caps    { dbparse_newGroup($1, 1); dbparse_clearCaps(); }
  ;

error_list
  : %empty
  | error_list error_entry
  ;

error_entry
  : posnum WORD   { dbparse_newAgentError($1, dbparse_word()); }
  ;

attr_list
  : %empty
  | attr_list attr_def
  ;

attr_def
  : access type ident caps
      { dbparse_newAttribute($3, $2, size, NULL, $1); dbparse_clearCaps(); }
  | access "enum" enum_ref ident caps
      { dbparse_newAttribute($4, 21, 1, $3, $1); dbparse_clearCaps(); }
  ;

access
  : %empty            { $$ = 1; }
  | "readonly"        { $$ = 1; }
  | "readwrite"       { $$ = 3; }
  | "writeonly"       { $$ = 2; }
  | "notaccessible"   { $$ = 0; }
  ;

namespace_def
  : "namespace" ident  { dbparse_newNamespace($2); }
  ;

enum_def
  : "enum" enum_name '(' enum_values ')'  { dbparse_endEnumeration($2, 0); }
  ;

enum_name
  : kw_off WORD
      { $$ = dbparse_keepEnum(); dbparse_setReservedWords(1); dbparse_beginEnumeration($$, 0); }
  ;

agent_enum_name
  : kw_off WORD
      { $$ = dbparse_keepEnum(); dbparse_setReservedWords(1); dbparse_beginEnumeration($$, 1); }
  ;

enum_ref
  : kw_off WORD   { $$ = dbparse_keepEnum(); dbparse_setReservedWords(1); }
  ;

enum_values
  : %empty
  | enum_values enum_value
  ;

enum_value
  : number ident  { dbparse_nextEnumeration($1, $2); }
  ;

record_def
  : "record" record_name '(' field_list ')'  { dbparse_endRecord(); }
  ;

record_name
  : ident         { dbparse_newRecord($1); }
  ;

field_list
  : %empty
  | field_list field
  ;

field
  : type ident            { dbparse_newField($2, $1, size, NULL); }
  | "enum" enum_ref ident { dbparse_newField($3, 21, 1, $2); }
  ;

type
  : "short"                   { $$ = 1;  size = 1; }
  | "unsigned" "short"        { $$ = 2;  size = 1; }
  | "int"                     { $$ = 3;  size = 1; }
  | "unsigned" "int"          { $$ = 4;  size = 1; }
  | "long"                    { $$ = 5;  size = 1; }
  | "unsigned" "long"         { $$ = 6;  size = 1; }
  | "float"                   { $$ = 7;  size = 1; }
  | "double"                  { $$ = 8;  size = 1; }
  | "octet" '[' posnum ']'    { $$ = 9;  size = $3; }
  | "string" '[' posnum ']'   { $$ = 10; size = $3; }
  | "counter"                 { $$ = 11; size = 1; }
  | "gauge"                   { $$ = 12; size = 1; }
  | "timeticks"               { $$ = 13; size = 1; }
  | "netaddress"              { $$ = 14; size = 1; }
  | "ipaddress"               { $$ = 15; size = 1; }
  | "unixtime"                { $$ = 16; size = 1; }
  | "pointer"                 { $$ = 17; size = 1; }
  | "recordname"              { $$ = 18; size = 1; }
  | "agentname"               { $$ = 19; size = 1; }
  | "name"                    { $$ = 22; size = 1; }
  | "objectid"                { $$ = 23; size = 64; }
  ;

caps
  : %empty        { dbparse_clearCaps(); }
  | caps cap
  ;

cap
  : "description" text       { dbparse_setDescription(dbparse_word()); }
  | "units" text             { dbparse_setUnits(dbparse_word()); }
  | "characteristics" text   { dbparse_setCharacteristics(dbparse_word()); }
  | "map" text               { dbparse_setMap(dbparse_word()); }
  | "serial" posnum          { dbparse_setSerial($2); }
  | "rpcid" posnum           { dbparse_setRpcid($2); }
  ;

instance_def
  : "instance" instance_name '(' value_groups ')'  { dbparse_endInstance(); }
  ;

instance_name
  : ident         { dbparse_newInstance($1); }
  ;

value_groups
  : %empty
  | value_groups value_group_item
  ;

value_group_item
  : value_group   { dbparse_storeInstance(); }
  ;

value_group
  : kw_off '(' values ')'  { dbparse_endInstanceFields(); dbparse_setReservedWords(1); }
  ;

values
  : %empty        { dbparse_beginInstanceFields(); }
  | values value
  ;

value
  : text          { dbparse_nextInstanceField(dbparse_word()); }
  ;

cluster_def
  : "cluster" kw_off '(' cluster_recs ')'  { dbparse_endCluster(); dbparse_setReservedWords(1); }
  ;

cluster_recs
  : %empty        { dbparse_beginCluster(); }
  | cluster_recs cluster_rec
  ;

cluster_rec
  : cluster_rec_name value_group  { dbparse_endClusterRec(); dbparse_setReservedWords(0); }
  ;

cluster_rec_name
  : text          { dbparse_beginClusterRec(dbparse_word()); }
  ;

%%
