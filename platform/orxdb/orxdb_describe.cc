#include "orxdb/orxdb_describe.h"

#include <errno.h>
#include <stdlib.h>
#include <string.h>

#include "orxdb/orxdb.h"

namespace {

bool isBlank(char c) { return c == ' ' || c == '\t'; }

// Decimal digits with an optional leading '-'.
bool isDecimal(const std::string& s) {
  size_t i = s[0] == '-' ? 1 : 0;
  if (i == s.size()) return false;
  for (; i < s.size(); i++)
    if (s[i] < '0' || s[i] > '9') return false;
  return true;
}

// Value of a decimal word within [low, high]; 0 when it is not one or is
// out of range.
int decimalInRange(const std::string& s, int64_t low, int64_t high, int64_t* value) {
  if (s.empty() || !isDecimal(s)) return 0;
  bool negative = s[0] == '-';
  int64_t v = 0;
  for (size_t i = negative ? 1 : 0; i < s.size(); i++) {
    v = v * 10 + (s[i] - '0');
    if (v > high + 1 && v > -low) return 0;  // far out of range; stop before overflow
  }
  if (negative) v = -v;
  if (v < low || v > high) return 0;
  *value = v;
  return 1;
}

int checkName(const std::string& what, const std::string& text, size_t max, std::string* reason) {
  if (text.empty()) {
    *reason = "empty " + what;
    return 0;
  }
  if (text.size() > max) {
    *reason = what + " longer than " + std::to_string(max) + " bytes";
    return 0;
  }
  return 1;
}

int parseInt(const std::string& what, const OrxdbWord& word, int* out, std::string* reason) {
  int64_t v;
  if (!decimalInRange(word.text, INT32_MIN, INT32_MAX, &v)) {
    *reason = what + " is not a 32-bit integer: \"" + word.text + "\"";
    return 0;
  }
  *out = static_cast<int>(v);
  return 1;
}

struct Shape {
  const char* keyword;
  OrxdbStatementKind kind;
  size_t minWords, maxWords;  // words after the keyword
  const char* usage;
};

const Shape kShapes[] = {
    {"element", ORXDB_ELEMENT, 2, 2, "element NAME TYPE"},
    {"property", ORXDB_PROPERTY, 3, 3, "property ELEMENT NAME VALUE"},
    {"color", ORXDB_COLOR, 4, 4, "color ELEMENT RED GREEN BLUE"},
    {"member", ORXDB_MEMBER, 2, 7, "member ELEMENT VIEW [X Y Z X1 Y1]"},
    {"connect", ORXDB_CONNECT, 2, 2, "connect ELEMENT CONNECTION"},
    {"agent", ORXDB_AGENT, 3, 4, "agent ELEMENT AGENT INDICATOR [TEXT]"},
};

}  // namespace

int orxdb_isIntegerWord(const std::string& text) { return !text.empty() && isDecimal(text); }

int orxdb_splitLine(const std::string& line, std::vector<OrxdbWord>* words, std::string* reason) {
  words->clear();
  size_t i = 0, n = line.size();
  for (;;) {
    while (i < n && isBlank(line[i])) i++;
    if (i == n || line[i] == '#') return 1;
    OrxdbWord word;
    word.quoted = line[i] == '"';
    if (word.quoted) {
      i++;
      for (;;) {
        if (i == n) {
          *reason = "unterminated quote";
          return 0;
        }
        char c = line[i++];
        if (c == '"') break;
        if (c == '\\' && i < n && (line[i] == '"' || line[i] == '\\')) c = line[i++];
        word.text += c;
      }
      if (i < n && !isBlank(line[i])) {
        *reason = "no blank after a closing quote";
        return 0;
      }
    } else {
      while (i < n && !isBlank(line[i])) {
        if (line[i] == '"') {
          *reason = "quote inside a word";
          return 0;
        }
        word.text += line[i++];
      }
    }
    words->push_back(word);
  }
}

int orxdb_parseStatement(const std::vector<OrxdbWord>& words, OrxdbStatement* st,
                         std::string* reason) {
  const Shape* shape = nullptr;
  for (const Shape& s : kShapes)
    if (!words[0].quoted && words[0].text == s.keyword) shape = &s;
  if (shape == nullptr) {
    *reason = "unknown statement \"" + words[0].text + "\"";
    return 0;
  }
  size_t args = words.size() - 1;
  if (args < shape->minWords || args > shape->maxWords ||
      (shape->kind == ORXDB_MEMBER && args != 2 && args != 7)) {
    *reason = std::string("expected ") + shape->usage;
    return 0;
  }
  st->kind = shape->kind;
  st->element = words[1].text;
  st->name = words[2].text;
  if (!checkName("element name", st->element, ORXDB_NAME_MAX, reason)) return 0;
  switch (st->kind) {
    case ORXDB_ELEMENT:
      return checkName("type", st->name, ORXDB_TYPE_MAX, reason);
    case ORXDB_PROPERTY: {
      if (!checkName("property name", st->name, ORXDB_TYPE_MAX, reason)) return 0;
      const OrxdbWord& value = words[3];
      st->isText = value.quoted || !isDecimal(value.text);
      if (st->isText) {
        st->text = value.text;
        if (st->text.size() > ORXDB_TEXT_MAX) {
          *reason = "property text longer than " + std::to_string(ORXDB_TEXT_MAX) + " bytes";
          return 0;
        }
      } else if (!decimalInRange(value.text, INT32_MIN, UINT32_MAX, &st->number)) {
        *reason = "integer out of range: " + value.text + " (quote it for a text)";
        return 0;
      }
      return 1;
    }
    case ORXDB_COLOR:
      st->name.clear();
      return parseInt("RED", words[2], &st->numbers[0], reason) &&
             parseInt("GREEN", words[3], &st->numbers[1], reason) &&
             parseInt("BLUE", words[4], &st->numbers[2], reason);
    case ORXDB_MEMBER: {
      if (!checkName("view name", st->name, ORXDB_NAME_MAX, reason)) return 0;
      st->placed = args == 7;
      static const char* const kCoordinates[5] = {"X", "Y", "Z", "X1", "Y1"};
      for (int i = 0; st->placed && i < 5; i++)
        if (!parseInt(kCoordinates[i], words[3 + i], &st->numbers[i], reason)) return 0;
      return 1;
    }
    case ORXDB_CONNECT:
      return checkName("connection name", st->name, ORXDB_NAME_MAX, reason);
    case ORXDB_AGENT:
      if (!checkName("agent name", st->name, ORXDB_NAME_MAX, reason) ||
          !parseInt("INDICATOR", words[3], &st->numbers[0], reason))
        return 0;
      st->isText = args == 4;
      if (st->isText) {
        st->text = words[4].text;
        if (st->text.size() > ORXDB_TEXT_MAX) {
          *reason = "agent text longer than " + std::to_string(ORXDB_TEXT_MAX) + " bytes";
          return 0;
        }
      }
      return 1;
  }
  return 0;
}

int orxdb_readDescription(FILE* in, const char* label, std::vector<OrxdbStatement>* statements,
                          std::string* error) {
  statements->clear();
  char* buf = nullptr;
  size_t cap = 0;
  ssize_t n;
  int lineNo = 0;
  int ok = 1;
  std::vector<OrxdbWord> words;
  std::string reason;
  while (ok && (n = getline(&buf, &cap, in)) != -1) {
    lineNo++;
    std::string line(buf, static_cast<size_t>(n));
    if (!line.empty() && line.back() == '\n') line.pop_back();
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.find('\0') != std::string::npos) {
      reason = "NUL byte in line";
      ok = 0;
    } else if (!orxdb_splitLine(line, &words, &reason)) {
      ok = 0;
    } else if (!words.empty()) {
      OrxdbStatement st;
      st.line = lineNo;
      ok = orxdb_parseStatement(words, &st, &reason);
      if (ok) statements->push_back(st);
    }
  }
  int readError = ok && ferror(in) ? errno : 0;
  free(buf);
  if (!ok) {
    *error = std::string(label) + ":" + std::to_string(lineNo) + ": " + reason;
    return 0;
  }
  if (readError != 0) {
    *error = std::string(label) + ": " + strerror(readError);
    return 0;
  }
  return 1;
}

std::string orxdb_quoteWord(const std::string& word, bool forceQuote) {
  bool quote = forceQuote || word.empty() || word[0] == '#';
  // A control character is quoted too: a CR at the end of an unquoted last
  // word would be taken for part of the line end.
  for (char c : word)
    if (isBlank(c) || c == '"' || c == '\\' || static_cast<unsigned char>(c) < 0x20) quote = true;
  if (!quote) return word;
  std::string out = "\"";
  for (char c : word) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  return out + "\"";
}
