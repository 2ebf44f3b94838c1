// A small reader of JSON text, enough for the daemon's status file: objects,
// arrays, strings (with their escapes), numbers, true, false and null.
#ifndef TOOLS_OVI_STATUS_STATUS_JSON_H_
#define TOOLS_OVI_STATUS_STATUS_JSON_H_

#include <string>
#include <utility>
#include <vector>

struct JsonValue {
  enum Kind { kNull, kBool, kNumber, kString, kArray, kObject };
  Kind kind = kNull;
  bool boolean = false;
  double number = 0;
  std::string text;                                      // kString
  std::vector<JsonValue> items;                          // kArray
  std::vector<std::pair<std::string, JsonValue>> members;  // kObject, in file order

  // The member of an object with that name, or null.
  const JsonValue* member(const char* name) const;
  // A member's number, text or truth, or `otherwise` when it is missing or
  // of another kind.
  double numberOf(const char* name, double otherwise = 0) const;
  std::string textOf(const char* name) const;
  bool truthOf(const char* name) const;
};

// Parses the whole of `text` (blanks around it allowed) into *value.
// Returns 1, or 0 with *error saying where and why it is not JSON.
int json_parse(const std::string& text, JsonValue* value, std::string* error);

#endif  // TOOLS_OVI_STATUS_STATUS_JSON_H_
