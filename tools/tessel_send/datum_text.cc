#include "datum_text.h"

#include <arpa/inet.h>
#include <errno.h>
#include <stdlib.h>
#include <string.h>

#include "cli.h"
#include "tessel/tessel_codec.h"
#include "tessel/tessel_oid.h"
#include "tessel/tessel_types.h"

namespace {

struct TypeName {
  const char* name;
  uint32_t code;
};
const TypeName kTypeNames[] = {
    {"short", TESSEL_SHORT}, {"ushort", TESSEL_USHORT}, {"int", TESSEL_INT},
    {"uint", TESSEL_UINT},   {"long", TESSEL_LONG},     {"ulong", TESSEL_ULONG},
    {"float", TESSEL_FLOAT}, {"double", TESSEL_DOUBLE}, {"string", TESSEL_STRING},
    {"octets", TESSEL_OCTETS}, {"ipaddr", TESSEL_IPADDR}, {"time", TESSEL_TIME},
    {"enum", TESSEL_ENUM},   {"int32", TESSEL_INT32},   {"oid", TESSEL_OID},
};

int parseType(const std::string& text, uint32_t* type) {
  for (const TypeName& t : kTypeNames)
    if (text == t.name) {
      *type = t.code;
      return 1;
    }
  uint64_t code;
  if (!cli_parseUnsigned(text.c_str(), TESSEL_TYPE_MAX, &code) || code == 0) return 0;
  *type = static_cast<uint32_t>(code);
  return 1;
}

template <typename T>
void store(T v, std::vector<unsigned char>* value) {
  value->resize(sizeof v);
  memcpy(value->data(), &v, sizeof v);
}

int parseSignedInto(const std::string& text, int64_t min, int64_t max, int64_t* v) {
  return cli_parseSigned(text.c_str(), min, max, v);
}

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

int parseValueText(uint32_t type, const std::string& text, std::vector<unsigned char>* value,
                   std::string* error) {
  int64_t s;
  uint64_t u;
  bool ok = true;
  switch (type) {
    case TESSEL_SHORT:
      ok = parseSignedInto(text, INT16_MIN, INT16_MAX, &s);
      if (ok) store(static_cast<int16_t>(s), value);
      break;
    case TESSEL_USHORT:
      ok = cli_parseUnsigned(text.c_str(), UINT16_MAX, &u);
      if (ok) store(static_cast<uint16_t>(u), value);
      break;
    case TESSEL_INT: case TESSEL_LONG: case TESSEL_ENUM: case TESSEL_INT32:
      ok = parseSignedInto(text, INT32_MIN, INT32_MAX, &s);
      if (ok) store(static_cast<int32_t>(s), value);
      break;
    case TESSEL_UINT: case TESSEL_ULONG: case TESSEL_COUNTER: case TESSEL_GAUGE: case TESSEL_TICKS:
      ok = cli_parseUnsigned(text.c_str(), UINT32_MAX, &u);
      if (ok) store(static_cast<uint32_t>(u), value);
      break;
    case TESSEL_FLOAT: case TESSEL_DOUBLE: {
      errno = 0;
      char* end;
      double d = strtod(text.c_str(), &end);
      ok = !text.empty() && *end == '\0' && errno == 0;
      if (ok && type == TESSEL_FLOAT) store(static_cast<float>(d), value);
      if (ok && type == TESSEL_DOUBLE) store(d, value);
      break;
    }
    case TESSEL_STRING: case TESSEL_OPAQUE:
      value->assign(text.begin(), text.end());
      break;
    case TESSEL_OCTETS: case TESSEL_HEX:
      ok = text.size() % 2 == 0;
      value->clear();
      for (size_t i = 0; ok && i < text.size(); i += 2) {
        int hi = hexDigit(text[i]), lo = hexDigit(text[i + 1]);
        ok = hi >= 0 && lo >= 0;
        value->push_back(static_cast<unsigned char>(hi * 16 + lo));
      }
      break;
    case TESSEL_IPADDR: case TESSEL_IPADDR2: case TESSEL_IPADDR3: {
      struct in_addr addr;
      ok = inet_aton(text.c_str(), &addr) != 0;
      if (ok) store(addr, value);
      break;
    }
    case TESSEL_PAIR: {
      size_t dot = text.find('.');
      int64_t a, b;
      ok = dot != std::string::npos && parseSignedInto(text.substr(0, dot), INT32_MIN, INT32_MAX, &a) &&
           parseSignedInto(text.substr(dot + 1), INT32_MIN, INT32_MAX, &b);
      if (ok) {
        int32_t pair[2] = {static_cast<int32_t>(a), static_cast<int32_t>(b)};
        value->resize(8);
        memcpy(value->data(), pair, 8);
      }
      break;
    }
    case TESSEL_TIME:
      ok = parseSignedInto(text, INT64_MIN, INT64_MAX, &s);
      if (ok) store(s, value);
      break;
    case TESSEL_OID: {
      std::vector<uint32_t> oid;
      ok = tessel_string2oid(text.c_str(), &oid);
      if (ok) {
        value->resize(oid.size() * 4);
        memcpy(value->data(), oid.data(), value->size());
      }
      break;
    }
    default:
      ok = false;
  }
  if (!ok) *error = "bad value for type " + std::to_string(type) + ": " + text;
  return ok;
}

int parseDatumText(const char* text, bool withThreshold, DatumText* out, std::string* error) {
  std::string s(text);
  size_t eq = s.find('=');
  size_t colon = eq == std::string::npos ? eq : s.find(':', eq + 1);
  if (eq == std::string::npos || eq == 0 || colon == std::string::npos) {
    *error = "a datum reads NAME=TYPE:VALUE: " + s;
    return 0;
  }
  out->name = s.substr(0, eq);
  if (out->name.size() >= TESSEL_NAME_SIZE) {
    *error = "datum name longer than 127 characters: " + out->name;
    return 0;
  }
  if (!parseType(s.substr(eq + 1, colon - eq - 1), &out->type)) {
    *error = "unknown type in " + s;
    return 0;
  }
  std::string value = s.substr(colon + 1);
  out->relationalOp = 0;
  size_t slash = value.rfind('/');
  if (withThreshold && slash != std::string::npos) {
    std::string tail = value.substr(slash + 1);
    size_t c1 = tail.find(':'), c2 = tail.rfind(':');
    uint64_t op, prio;
    if (c1 != std::string::npos && c2 != c1 &&
        cli_parseUnsigned(tail.substr(0, c1).c_str(), 255, &op) && op != 0 &&
        cli_parseUnsigned(tail.substr(c2 + 1).c_str(), 3, &prio) && prio >= 1) {
      if (!parseValueText(out->type, tail.substr(c1 + 1, c2 - c1 - 1), &out->threshold, error))
        return 0;
      out->relationalOp = static_cast<int>(op);
      out->priority = static_cast<int>(prio);
      value = value.substr(0, slash);
    }
  }
  if (!parseValueText(out->type, value, &out->value, error)) return 0;
  if (out->relationalOp != 0 && out->threshold.size() != out->value.size()) {
    // The protocol carries a threshold with the length of its value.
    *error = "threshold and value differ in length: " + s;
    return 0;
  }
  return 1;
}
