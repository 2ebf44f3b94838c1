// The outgoing data of a forwarded report: the forwarding host, and for
// database-manager traps the element information that the receiver's
// database templates ask for.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <unistd.h>

#include "attribute.h"
#include "daemon.h"
#include "globals.h"
#include "log.h"
#include "orxdb/orxdb.h"
#include "parse_dbtmpl.h"
#include "tessel/tessel_generic.h"

namespace {

const uint32_t kDbManagerProg = 100110;
const char kGlyphGroup[] = "tessel_glyph_state";
const char kNone[] = "~~~NONE~~~";
const int kAllFlags = OVI_DB_MEMBERSHIP | OVI_DB_COLOR | OVI_DB_AGENTS | OVI_DB_ATTRIBUTES |
                      OVI_DB_CONNECTIONS;  // 31

// Element names and values of database-manager data, cut to this size.
enum { kValueSize = 1024 };

void putDatum(TesselServiceMsg* msg, const char* name, uint32_t type, uint32_t length,
              const void* value) {
  Tessel_data d;
  memset(&d, 0, sizeof d);
  snprintf(d.name, sizeof d.name, "%s", name);
  d.type = type;
  d.length = length;
  d.value = const_cast<void*>(value);
  if (!TesselGeneric().putData(&d, msg))
    ovi_trace(3, "Cannot add %s (type %u, length %u) to the report\n", d.name, type, length);
}

void putNode(TesselServiceMsg* msg, const infoList* n) {
  putDatum(msg, n->name, n->type, n->length, n->value);
}

void putUnchanged(TesselServiceMsg* msg, const Tessel_data* d) {
  putDatum(msg, d->name, d->type, d->length, d->value);
}

// The value as text: its bytes up to its length or a NUL, cut to size - 1.
void valueText(const void* value, uint32_t length, char* out, size_t size) {
  size_t n = value != nullptr ? strnlen(static_cast<const char*>(value), length) : 0;
  if (n > size - 1) n = size - 1;
  if (n > 0) memcpy(out, value, n);
  out[n] = '\0';
}

// Empties the message's argument data, so that it carries only what is
// added afterwards.
void emptyData(TesselServiceMsg* msg) {
  if (msg->clearData()) return;
  msg->argData.position = 0;
  msg->arglistLength = 0;
}

// The first filter record for the element: by host, component, view name,
// view type, then the default.
const FilterEntry* findEntry(Daemon* d, const char* element, const OVI_MessageInfo* info) {
  const FilterEntry* e = d->filterByHost(element, info);
  if (e == nullptr) e = d->filterByComponent(element, info);
  if (e == nullptr) e = d->filterByViewName(element, info);
  if (e == nullptr) e = d->filterByViewType(element, info);
  if (e == nullptr) e = d->filterByDefault(info);
  return e;
}

// An element's property as the database holds it.
struct Property {
  int kind;           // ORXDB_PROPERTY_*
  int64_t number;     // an integer property
  const char* text;   // a text property, valid until the next orxdb_read
};

Property readProperty(orxdb_buffer* element, const char* name) {
  Property p = {orxdb_get_property_kind(element, name), 0, nullptr};
  orxdb_value v = orxdb_get_property(element, name, 0);
  if (p.kind == ORXDB_PROPERTY_INTEGER) p.number = v.i64;
  if (p.kind == ORXDB_PROPERTY_TEXT) p.text = v.text != nullptr ? v.text : "";
  return p;
}

// True when nothing but blanks follows end.
bool onlyBlanks(const char* end) {
  while (*end == ' ' || *end == '\t' || *end == '\n') end++;
  return *end == '\0';
}

// A text as a decimal integer; 0 when it is not one.
long textNumber(const char* text) {
  char* end;
  long n = strtol(text, &end, 10);
  return end != text && onlyBlanks(end) ? n : 0;
}

int64_t integerOf(const Property& p) {
  if (p.kind == ORXDB_PROPERTY_INTEGER) return p.number;
  if (p.kind == ORXDB_PROPERTY_TEXT) return textNumber(p.text);
  return 0;
}

double realOf(const Property& p) {
  if (p.kind == ORXDB_PROPERTY_INTEGER) return static_cast<double>(p.number);
  if (p.kind != ORXDB_PROPERTY_TEXT) return 0;
  char* end;
  double x = strtod(p.text, &end);
  return end != p.text && onlyBlanks(end) ? x : 0;
}

// The property as text into a 256-byte buffer: an integer in decimal, an
// absent property empty.
void textOf(const Property& p, char out[256]) {
  if (p.kind == ORXDB_PROPERTY_TEXT)
    snprintf(out, 256, "%s", p.text);
  else if (p.kind == ORXDB_PROPERTY_INTEGER)
    snprintf(out, 256, "%lld", static_cast<long long>(p.number));
  else
    out[0] = '\0';
}

// An IPv4 address in network order: a dotted text, or an integer taken as
// the address in host order; 0.0.0.0 otherwise.
uint32_t addressOf(const Property& p) {
  struct in_addr a;
  if (p.kind == ORXDB_PROPERTY_TEXT && inet_aton(p.text, &a)) return a.s_addr;
  if (p.kind == ORXDB_PROPERTY_INTEGER) return htonl(static_cast<uint32_t>(p.number));
  return 0;
}

// Two signed words written "A.B" (as they are shown) or "A B"; an integer
// fills the first word.  Anything else gives 0 and 0.
void pairOf(const Property& p, int32_t out[2]) {
  out[0] = out[1] = 0;
  if (p.kind == ORXDB_PROPERTY_INTEGER) out[0] = static_cast<int32_t>(p.number);
  if (p.kind != ORXDB_PROPERTY_TEXT) return;
  char* end;
  long a = strtol(p.text, &end, 10);
  if (end == p.text) return;
  long b = 0;
  if (*end == '.' || *end == ' ') {
    const char* second = end + 1;
    b = strtol(second, &end, 10);
    if (end == second) return;
  }
  if (!onlyBlanks(end)) return;
  out[0] = static_cast<int32_t>(a);
  out[1] = static_cast<int32_t>(b);
}

}  // namespace

void free_info_list(infoList* first) {
  while (first != nullptr) {
    infoList* next = first->next;
    free(first->value);
    free(first);
    first = next;
  }
}

int Daemon::rebuildAttributes(infoList* list, TesselServiceMsg* msg, OVI_MessageInfo* info) {
  ovi_trace(2, "Daemon::rebuildAttributes\n");
  emptyData(msg);
  char localHost[256];
  if (gethostname(localHost, sizeof localHost) != 0) localHost[0] = '\0';
  localHost[sizeof localHost - 1] = '\0';
  sendStringAttribute(msg, VANT_FORWARDED_BY, localHost);

  if (msg->agentProg != kDbManagerProg) {
    msg->type = TESSEL_MSG_TRAP;
    for (infoList* n = list; n != nullptr; n = n->next) putNode(msg, n);
    free_info_list(list);
    return 1;
  }

  char value[kValueSize];
  if (strncmp(msg->group, kGlyphGroup, sizeof msg->group) == 0) {
    ovi_trace(3, "Processing glyph state trap\n");
    while (list != nullptr) {
      infoList* n = list;
      list = n->next;
      n->next = nullptr;
      putNode(msg, n);
      bool pass = true;
      if (strcmp(n->name, "glyph") == 0) {
        valueText(n->value, n->length, value, sizeof value);
        ovi_trace(3, "DBMGR_TRAP: Filter each host name: %s\n", value);
        info->reportClass = OVI_CLASS_GLYPH_TRAP;
        const FilterEntry* e = findEntry(this, value, info);
        pass = e != nullptr && e->action != nullptr && strcasecmp(e->action, "pass") == 0;
      }
      free_info_list(n);
      if (!pass) {
        free_info_list(list);
        return 0;
      }
    }
    return 1;
  }

  if (list != nullptr) {
    valueText(list->value, list->length, value, sizeof value);
    ovi_trace(3, "DBMGR_TRAP: Filter each host name: %s\n", value);
  }
  info->reportClass = OVI_CLASS_DBMGR_TRAP;
  int accepted = 0;
  while (list != nullptr) {
    infoList* n = list;
    list = n->next;
    n->next = nullptr;
    valueText(n->value, n->length, value, sizeof value);
    // The look-up's record is the module's until its next look-up; the name
    // is kept apart for the template steps.
    const FilterEntry* e = findEntry(this, value, info);
    char templateFile[OVI_DB_FIELD_SIZE];
    bool haveTemplate = e != nullptr;
    if (haveTemplate)
      snprintf(templateFile, sizeof templateFile, "%s",
               e->dbTemplateFile != nullptr ? e->dbTemplateFile : "");
    Tessel_data d;
    memset(&d, 0, sizeof d);
    snprintf(d.name, sizeof d.name, "%s", n->name);
    d.type = n->type;
    d.length = n->length;
    d.value = n->value;
    if (appendDBOption(msg, &d, haveTemplate ? templateFile : nullptr) == 1) accepted = 1;
    free_info_list(n);
    if (!accepted) emptyData(msg);
  }
  return accepted;
}

int Daemon::appendDBOption(TesselServiceMsg* msg, Tessel_data* datum, const char* templateFile) {
  if (strcasecmp(datum->name, "synched") == 0) {
    putUnchanged(msg, datum);
    return 1;
  }
  ovi_trace(1, "Appending optional info\n");
  char element[kValueSize];
  valueText(datum->value, datum->length, element, sizeof element);
  bool deletion = strcasecmp(datum->name, "deleted") == 0;

  int flags = kAllFlags;
  if (templateFile != nullptr) {
    if (ovi_opentemplate(templateFile) != 0) {
      flags = 0;
    } else {
      flags = ovi_getTemplateEntry(datum->name);
      ovi_trace(3, "BIG HONKING LETTERS: DB Flags for %s(%s) are %d\n", element, datum->name,
                flags);
      if (flags == 0 && !deletion) return 0;
    }
  }
  ovi_trace(2, "Flags are %d\n", flags);

  if (strcasecmp(datum->name, "background") == 0) {
    putUnchanged(msg, datum);
    msg->agentProg = OVI_AGENT_PROG;
    ovi_trace(3, "Change agent prog to %d\n", static_cast<int>(msg->agentProg));
    return 1;
  }
  // The station's own elements are never shown to another console.
  if (strncasecmp(element, "ORX:", 4) == 0) return 1;

  orxdb_buffer buffer;
  if (!orxdb_read(element, &buffer)) {
    ovi_trace(3, "FILTER: Database read error for %s (%d)\n", element, orx_error);
    if (deletion) putUnchanged(msg, datum);
    return 1;
  }
  putUnchanged(msg, datum);
  char type[80] = "";
  const char* t = orxdb_get_element_type(&buffer);
  if (t != nullptr && *t != '\0') {
    snprintf(type, sizeof type, "%s", t);
    sendStringAttribute(msg, "type", type);
  }

  if (strncasecmp(type, "connectio", 9) == 0 && (flags & OVI_DB_ATTRIBUTES) == 0) {
    for (const char* end : {"Object1", "Object2"}) {
      Property p = readProperty(&buffer, end);
      if (p.kind == ORXDB_PROPERTY_ABSENT) continue;
      char text[256];
      textOf(p, text);
      sendStringAttribute(msg, end, text);
    }
  }
  if (flags == -1) return 1;

  if (flags & OVI_DB_ATTRIBUTES) {
    const AttrList* attrs = getAttributes(type);
    if (attrs != nullptr) {
      ovi_trace(3, "ADDING ATTRIBUTES for Attributes (element %s:%d) \n", attrs->name.c_str(),
                attrs->count());
      for (int i = 0; i < attrs->count(); i++) {
        if (attrs->types[i] == 0 || attrs->names[i] == "Name") continue;
        addToHeader(msg, &buffer, attrs->names[i].c_str(), attrs->types[i]);
      }
    }
  }

  if (flags & OVI_DB_COLOR) {
    ovi_trace(3, "ADDING ATTRIBUTES for Color\n");
    int red, green, blue;
    if (orxdb_get_color(&buffer, &red, &green, &blue)) {
      sendIntAttribute(msg, "red", red);
      sendIntAttribute(msg, "green", green);
      sendIntAttribute(msg, "blue", blue);
    }
  }

  if (flags & OVI_DB_MEMBERSHIP) {
    ovi_trace(3, "ADDING ATTRIBUTES for Membership\n");
    char** views = orxdb_enumerate_views(&buffer);
    if (views == nullptr) {
      sendStringAttribute(msg, "view", kNone);
    } else {
      for (char** v = views; *v != nullptr; v++) {
        ovi_trace(2, "Processing view info %s for %s\n", *v, element);
        if (strncmp(*v, "ORX:", 4) == 0) continue;
        int x, y, z, x1, y1;
        bool placed = orxdb_get_view(&buffer, *v, &x, &y, &z, &x1, &y1) != 0;
        sendStringAttribute(msg, "view", *v);
        if (placed) {
          sendIntAttribute(msg, "Xpos", x);
          sendIntAttribute(msg, "Ypos", y);
          sendIntAttribute(msg, "X1pos", x1);
          sendIntAttribute(msg, "Y1pos", y1);
        }
      }
      orxdb_free_list(views);
    }
  }

  if (flags & OVI_DB_CONNECTIONS) {
    ovi_trace(3, "ADDING ATTRIBUTES for Connections\n");
    char** connections = orxdb_enumerate_connections(&buffer);
    if (connections == nullptr) {
      sendStringAttribute(msg, "connected", kNone);
    } else {
      for (char** c = connections; *c != nullptr; c++)
        if (**c != '\0') sendStringAttribute(msg, "connected", *c);
      orxdb_free_list(connections);
    }
  }

  if (flags & OVI_DB_AGENTS) {
    ovi_trace(3, "ADDING ATTRIBUTES for Agents\n");
    char** agents = orxdb_enumerate_agents(&buffer);
    if (agents == nullptr) {
      sendStringAttribute(msg, "agent", kNone);
    } else {
      for (char** a = agents; *a != nullptr; a++) {
        int indicator = 0;
        char text[256];
        memset(text, 0, sizeof text);
        if (!orxdb_get_agent(&buffer, *a, &indicator, text)) continue;
        if (indicator == 0) {
          sendStringAttribute(msg, "agent", *a);
        } else {
          char joined[512];
          snprintf(joined, sizeof joined, "%s:%s", *a, text);
          sendStringAttribute(msg, "agent", joined);
        }
      }
      orxdb_free_list(agents);
    }
  }

  ovi_trace(3, "Header size has now reached %d\n", static_cast<int>(msg->argData.size));
  return 1;
}

void Daemon::addToHeader(TesselServiceMsg* msg, orxdb_buffer* element, const char* name,
                         int type) {
  ovi_trace(3, "Looking for %s type %d\n", name, type);
  if (type < 1 || type > TESSEL_TYPE_MAX) {
    ovi_trace(3, "Attribute %s has no known type (%d): left out\n", name, type);
    return;
  }
  // The schema type code travels as the datum's type code, so the value
  // takes the form that the protocol gives that code.
  Property p = readProperty(element, name);
  union {
    int32_t i32;
    uint32_t u32;
    float f;
    double d;
    int32_t pair[2];
  } slot;
  memset(&slot, 0, sizeof slot);
  char text[256];
  switch (type) {
    case TESSEL_SHORT:
      slot.i32 = static_cast<int16_t>(integerOf(p));
      putDatum(msg, name, type, 2, &slot);
      return;
    case TESSEL_USHORT:
      slot.u32 = static_cast<uint16_t>(integerOf(p));
      putDatum(msg, name, type, 2, &slot);
      return;
    case TESSEL_INT: case TESSEL_LONG: case TESSEL_TIME: case TESSEL_ENUM: case TESSEL_INT32:
      slot.i32 = static_cast<int32_t>(integerOf(p));
      putDatum(msg, name, type, 4, &slot);
      return;
    case TESSEL_UINT: case TESSEL_ULONG: case TESSEL_COUNTER: case TESSEL_GAUGE: case TESSEL_TICKS:
      slot.u32 = static_cast<uint32_t>(integerOf(p));
      putDatum(msg, name, type, 4, &slot);
      return;
    case TESSEL_FLOAT:
      slot.f = static_cast<float>(realOf(p));
      putDatum(msg, name, type, 4, &slot);
      return;
    case TESSEL_DOUBLE:
      slot.d = realOf(p);
      putDatum(msg, name, type, 8, &slot);
      return;
    case TESSEL_IPADDR: case TESSEL_IPADDR2: case TESSEL_IPADDR3:
      slot.u32 = addressOf(p);
      putDatum(msg, name, type, 4, &slot);
      return;
    case TESSEL_PAIR:
      pairOf(p, slot.pair);
      putDatum(msg, name, type, 8, &slot);
      return;
    case TESSEL_OCTETS: case TESSEL_HEX:
      textOf(p, text);
      putDatum(msg, name, TESSEL_STRING, static_cast<uint32_t>(strlen(text)), text);
      return;
    default:  // TESSEL_STRING, TESSEL_OID (a "pointer": an element's name), TESSEL_OPAQUE
      textOf(p, text);
      putDatum(msg, name, type, static_cast<uint32_t>(strlen(text)), text);
      return;
  }
}

void Daemon::sendIntAttribute(TesselServiceMsg* msg, const char* name, int32_t value) {
  putDatum(msg, name, TESSEL_INT32, 4, &value);
}

void Daemon::sendStringAttribute(TesselServiceMsg* msg, const char* name, const char* text) {
  putDatum(msg, name, TESSEL_STRING, static_cast<uint32_t>(strlen(text)), text);
}
