#include "status_json.h"

#include <stdlib.h>
#include <string.h>

namespace {

// Nesting deeper than this is not a status file, and would only cost stack.
const int kMaxDepth = 32;

class Parser {
 public:
  explicit Parser(const std::string& text) : s_(text) {}

  int document(JsonValue* v, std::string* error) {
    skipBlanks();
    if (!value(v, 0)) return fail(error);
    skipBlanks();
    if (at_ != s_.size()) {
      why_ = "text after the value";
      return fail(error);
    }
    return 1;
  }

 private:
  int fail(std::string* error) {
    *error = "offset " + std::to_string(at_) + ": " + why_;
    return 0;
  }
  void skipBlanks() {
    while (at_ < s_.size() && strchr(" \t\r\n", s_[at_]) != nullptr) at_++;
  }
  bool take(char c) {
    skipBlanks();
    if (at_ < s_.size() && s_[at_] == c) {
      at_++;
      return true;
    }
    return false;
  }
  bool word(const char* w) {
    size_t n = strlen(w);
    if (s_.compare(at_, n, w) != 0) return false;
    at_ += n;
    return true;
  }
  bool error(const char* why) {
    why_ = why;
    return false;
  }

  bool value(JsonValue* v, int depth) {
    skipBlanks();
    if (depth > kMaxDepth) return error("nested too deep");
    if (at_ >= s_.size()) return error("a value is missing");
    char c = s_[at_];
    if (c == '{') return object(v, depth);
    if (c == '[') return array(v, depth);
    if (c == '"') {
      v->kind = JsonValue::kString;
      return string(&v->text);
    }
    if (word("true") || word("false")) {
      v->kind = JsonValue::kBool;
      v->boolean = c == 't';
      return true;
    }
    if (word("null")) return true;
    return number(v);
  }

  bool number(JsonValue* v) {
    const char* start = s_.c_str() + at_;
    if (*start != '-' && (*start < '0' || *start > '9')) return error("not a value");
    char* end;
    v->number = strtod(start, &end);
    v->kind = JsonValue::kNumber;
    at_ += static_cast<size_t>(end - start);
    return true;
  }

  bool string(std::string* out) {
    at_++;  // the opening quote
    while (at_ < s_.size()) {
      char c = s_[at_++];
      if (c == '"') return true;
      if (static_cast<unsigned char>(c) < 0x20) return error("a control character in a string");
      if (c != '\\') {
        *out += c;
        continue;
      }
      if (at_ >= s_.size()) break;
      char e = s_[at_++];
      const char* plain = strchr("\"\\/bfnrt", e);
      if (plain == nullptr && e != 'u') return error("an unknown escape");
      if (e != 'u') {
        *out += "\"\\/\b\f\n\r\t"[plain - "\"\\/bfnrt"];
        continue;
      }
      if (at_ + 4 > s_.size()) break;
      char* end;
      std::string hex = s_.substr(at_, 4);
      unsigned long code = strtoul(hex.c_str(), &end, 16);
      if (*end != '\0') return error("a bad \\u escape");
      at_ += 4;
      appendUtf8(code, out);
    }
    return error("a string without its end");
  }

  static void appendUtf8(unsigned long code, std::string* out) {
    if (code < 0x80) {
      *out += static_cast<char>(code);
    } else if (code < 0x800) {
      *out += static_cast<char>(0xc0 | (code >> 6));
      *out += static_cast<char>(0x80 | (code & 0x3f));
    } else {
      *out += static_cast<char>(0xe0 | (code >> 12));
      *out += static_cast<char>(0x80 | ((code >> 6) & 0x3f));
      *out += static_cast<char>(0x80 | (code & 0x3f));
    }
  }

  bool array(JsonValue* v, int depth) {
    at_++;
    v->kind = JsonValue::kArray;
    if (take(']')) return true;
    do {
      v->items.emplace_back();
      if (!value(&v->items.back(), depth + 1)) return false;
    } while (take(','));
    return take(']') || error("an array without its ']'");
  }

  bool object(JsonValue* v, int depth) {
    at_++;
    v->kind = JsonValue::kObject;
    if (take('}')) return true;
    do {
      skipBlanks();
      if (at_ >= s_.size() || s_[at_] != '"') return error("a member without its name");
      v->members.emplace_back();
      if (!string(&v->members.back().first)) return false;
      if (!take(':')) return error("a member without its ':'");
      if (!value(&v->members.back().second, depth + 1)) return false;
    } while (take(','));
    return take('}') || error("an object without its '}'");
  }

  const std::string& s_;
  size_t at_ = 0;
  const char* why_ = "";
};

}  // namespace

const JsonValue* JsonValue::member(const char* name) const {
  for (const auto& m : members)
    if (m.first == name) return &m.second;
  return nullptr;
}

double JsonValue::numberOf(const char* name, double otherwise) const {
  const JsonValue* m = member(name);
  return m != nullptr && m->kind == kNumber ? m->number : otherwise;
}

std::string JsonValue::textOf(const char* name) const {
  const JsonValue* m = member(name);
  return m != nullptr && m->kind == kString ? m->text : "";
}

bool JsonValue::truthOf(const char* name) const {
  const JsonValue* m = member(name);
  return m != nullptr && m->kind == kBool && m->boolean;
}

int json_parse(const std::string& text, JsonValue* value, std::string* error) {
  *value = JsonValue();
  return Parser(text).document(value, error);
}
