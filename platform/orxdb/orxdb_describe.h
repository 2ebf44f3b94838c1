// The description file of a management database: its words, its statements,
// and how a word is written back.
//
// One statement a line, words separated by blanks (spaces, tabs).  A word
// may be put in double quotes, which it needs when it holds blanks, a quote
// or a backslash, begins with '#', or is empty; inside quotes \" stands for a
// quote and \\ for a backslash.  An unquoted word that begins with '#' starts
// a comment that runs to the end of the line.  The statements:
//
//   element NAME TYPE
//   property ELEMENT NAME VALUE     an unquoted decimal VALUE is an integer
//                                   (-2147483648 to 4294967295), any other
//                                   VALUE, and every quoted one, a text
//   color ELEMENT RED GREEN BLUE
//   member ELEMENT VIEW [X Y Z X1 Y1]
//   connect ELEMENT CONNECTION
//   agent ELEMENT AGENT INDICATOR [TEXT]
//
// Colours, placements and indicators are signed 32-bit decimal integers.
#ifndef PLATFORM_ORXDB_ORXDB_DESCRIBE_H_
#define PLATFORM_ORXDB_ORXDB_DESCRIBE_H_

#include <stdint.h>
#include <stdio.h>

#include <string>
#include <vector>

struct OrxdbWord {
  std::string text;
  bool quoted;
};

enum OrxdbStatementKind {
  ORXDB_ELEMENT, ORXDB_PROPERTY, ORXDB_COLOR, ORXDB_MEMBER, ORXDB_CONNECT, ORXDB_AGENT
};

// One statement.  Which fields count depends on the kind:
//   element   element=NAME  name=TYPE
//   property  element  name  isText ? text : number
//   color     element  numbers[0..2]
//   member    element  name=VIEW  placed ? numbers[0..4]
//   connect   element  name=CONNECTION
//   agent     element  name=AGENT  numbers[0]=INDICATOR  hasText ? text
struct OrxdbStatement {
  int line = 0;
  OrxdbStatementKind kind = ORXDB_ELEMENT;
  std::string element;
  std::string name;
  std::string text;
  bool isText = false;   // property holds text; agent has a TEXT
  bool placed = false;   // member carries a placement
  int64_t number = 0;    // property's integer value
  int numbers[5] = {0, 0, 0, 0, 0};
};

// Splits one line (without its line end) into words.  Returns 1 with *words
// filled (empty for a blank or comment line), or 0 with *reason set.
int orxdb_splitLine(const std::string& line, std::vector<OrxdbWord>* words, std::string* reason);

// Makes a statement of a line's words (not empty).  Returns 1, or 0 with
// *reason set.  Checks the shape and the values, not whether the elements
// named exist.
int orxdb_parseStatement(const std::vector<OrxdbWord>& words, OrxdbStatement* statement,
                         std::string* reason);

// Reads a whole description file.  Returns 1 with *statements in file order,
// or 0 with *error set to "LABEL:LINE: reason" (or "LABEL: reason" when the
// file cannot be read).
int orxdb_readDescription(FILE* in, const char* label, std::vector<OrxdbStatement>* statements,
                          std::string* error);

// A word as the description file writes it: quoted when it must be, or when
// forceQuote is set.
std::string orxdb_quoteWord(const std::string& word, bool forceQuote);

// 1 when text is an unquoted property value that reads as an integer.
int orxdb_isIntegerWord(const std::string& text);

#endif  // PLATFORM_ORXDB_ORXDB_DESCRIBE_H_
