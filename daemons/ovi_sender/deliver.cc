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

// A text datum: its length is the text's, without the NUL.
void putText(TesselServiceMsg* msg, const char* name, const char* text) {
  putDatum(msg, name, TESSEL_STRING, static_cast<uint32_t>(strlen(text)), text);
}

// A 32-bit integer datum.
void putInt(TesselServiceMsg* msg, const char* name, int32_t value) {
  putDatum(msg, name, TESSEL_INT32, 4, &value);
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

// Sends a glyph-state trap's data (taking the list over); 0, and the rest of
// the data dropped, as soon as the filter does not pass a glyph it names.
int addGlyphTrap(Daemon* d, infoList* list, TesselServiceMsg* msg, OVI_MessageInfo* info) {
  ovi_trace(3, "Processing glyph state trap\n");
  char value[kValueSize];
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
      const FilterEntry* e = findEntry(d, value, info);
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

// The value of an attribute of a binary type code, as the datum carries it.
union Slot {
  int32_t i32;
  uint32_t u32;
  float f;
  double d;
  int32_t pair[2];
};

// Fills *slot (zeroed first) with the property in the form of a binary type
// code; the datum's length, or 0 for a code whose value goes as text.
uint32_t binaryValue(const Property& p, int type, Slot* slot) {
  memset(slot, 0, sizeof *slot);
  switch (type) {
    case TESSEL_SHORT:
      slot->i32 = static_cast<int16_t>(integerOf(p));
      return 2;
    case TESSEL_USHORT:
      slot->u32 = static_cast<uint16_t>(integerOf(p));
      return 2;
    case TESSEL_INT: case TESSEL_LONG: case TESSEL_TIME: case TESSEL_ENUM: case TESSEL_INT32:
      slot->i32 = static_cast<int32_t>(integerOf(p));
      return 4;
    case TESSEL_UINT: case TESSEL_ULONG: case TESSEL_COUNTER: case TESSEL_GAUGE: case TESSEL_TICKS:
      slot->u32 = static_cast<uint32_t>(integerOf(p));
      return 4;
    case TESSEL_FLOAT:
      slot->f = static_cast<float>(realOf(p));
      return 4;
    case TESSEL_DOUBLE:
      slot->d = realOf(p);
      return 8;
    case TESSEL_IPADDR: case TESSEL_IPADDR2: case TESSEL_IPADDR3:
      slot->u32 = addressOf(p);
      return 4;
    case TESSEL_PAIR:
      pairOf(p, slot->pair);
      return 8;
    default:
      return 0;
  }
}

// ---- the steps of one database-manager datum ----

// What the steps after the database read share.
struct Element {
  TesselServiceMsg* msg;  // the outgoing report
  orxdb_buffer* buffer;   // the element as read
  const char* name;       // the element's name as the datum gives it
};

// Room for an element's type; a longer type is sent and looked up cut.
enum { kTypeSize = 80 };

// The template's flags for the datum into *flags (all without a template,
// none when it cannot be selected); 0 when its entry leaves out a datum
// other than a deletion.
int templateFlags(const Tessel_data* datum, const char* element, bool deletion,
                  const char* templateFile, int* flags) {
  *flags = kAllFlags;
  if (templateFile == nullptr) return 1;
  if (ovi_opentemplate(templateFile) != 0) {
    *flags = 0;
    return 1;
  }
  *flags = ovi_getTemplateEntry(datum->name);
  ovi_trace(3, "BIG HONKING LETTERS: DB Flags for %s(%s) are %d\n", element, datum->name,
            *flags);
  return *flags != 0 || deletion;
}

// A "background" datum goes on unchanged and makes the report the daemon's own.
void addBackground(TesselServiceMsg* msg, const Tessel_data* datum) {
  putUnchanged(msg, datum);
  msg->agentProg = OVI_AGENT_PROG;
  ovi_trace(3, "Change agent prog to %d\n", static_cast<int>(msg->agentProg));
}

// Reads the element and sends the datum; 0 when the element is not in the
// database, and then only a deletion goes on (alone).
int readElement(TesselServiceMsg* msg, const Tessel_data* datum, const char* element,
                bool deletion, orxdb_buffer* buffer) {
  if (!orxdb_read(element, buffer)) {
    ovi_trace(3, "FILTER: Database read error for %s (%d)\n", element, orx_error);
    if (deletion) putUnchanged(msg, datum);
    return 0;
  }
  putUnchanged(msg, datum);
  return 1;
}

// Sends the element's type when it has one and keeps it in type (empty when
// it has none), cut to kTypeSize - 1 characters.
void addType(const Element& e, char type[kTypeSize]) {
  type[0] = '\0';
  const char* t = orxdb_get_element_type(e.buffer);
  if (t == nullptr || *t == '\0') return;
  snprintf(type, kTypeSize, "%s", t);
  putText(e.msg, "type", type);
}

// A connection's ends, Object1 then Object2, those that are set.
void addConnectionEnds(const Element& e) {
  for (const char* end : {"Object1", "Object2"}) {
    Property p = readProperty(e.buffer, end);
    if (p.kind == ORXDB_PROPERTY_ABSENT) continue;
    char text[256];
    textOf(p, text);
    putText(e.msg, end, text);
  }
}

// The attributes of the element's schema record but its Name, each in the
// form of its type code.
void addAttributes(Daemon* d, const Element& e, const char* type) {
  const AttrList* attrs = getAttributes(type);
  if (attrs == nullptr) return;
  ovi_trace(3, "ADDING ATTRIBUTES for Attributes (element %s:%d) \n", attrs->name.c_str(),
            attrs->count());
  for (int i = 0; i < attrs->count(); i++) {
    if (attrs->types[i] == 0 || attrs->names[i] == "Name") continue;
    d->addToHeader(e.msg, e.buffer, attrs->names[i].c_str(), attrs->types[i]);
  }
}

// The element's colour, when it has one.
void addColor(const Element& e) {
  ovi_trace(3, "ADDING ATTRIBUTES for Color\n");
  int red, green, blue;
  if (!orxdb_get_color(e.buffer, &red, &green, &blue)) return;
  putInt(e.msg, "red", red);
  putInt(e.msg, "green", green);
  putInt(e.msg, "blue", blue);
}

// Sends one item of an element's list as the datum `name` (and what goes
// with it).
typedef void (*AddItem)(const Element& e, const char* name, const char* item);

// Sends each item of the element's list that `enumerate` takes, or
// "~~~NONE~~~" as `name` when the list is empty; `step` names it in the trace.
void addList(const Element& e, const char* step, char** (*enumerate)(orxdb_buffer*),
             const char* name, AddItem addItem) {
  ovi_trace(3, "ADDING ATTRIBUTES for %s\n", step);
  char** items = enumerate(e.buffer);
  if (items == nullptr) {
    putText(e.msg, name, kNone);
    return;
  }
  for (char** item = items; *item != nullptr; item++) addItem(e, name, *item);
  orxdb_free_list(items);
}

// A view that holds the element, then the element's place in it when it has
// one; the station's own views are left out.
void addView(const Element& e, const char* name, const char* view) {
  ovi_trace(2, "Processing view info %s for %s\n", view, e.name);
  if (strncmp(view, "ORX:", 4) == 0) return;
  int x, y, z, x1, y1;
  bool placed = orxdb_get_view(e.buffer, view, &x, &y, &z, &x1, &y1) != 0;
  putText(e.msg, name, view);
  if (!placed) return;
  putInt(e.msg, "Xpos", x);
  putInt(e.msg, "Ypos", y);
  putInt(e.msg, "X1pos", x1);
  putInt(e.msg, "Y1pos", y1);
}

// A connection of the element; an empty name is left out.
void addConnection(const Element& e, const char* name, const char* connection) {
  if (*connection != '\0') putText(e.msg, name, connection);
}

// An agent of the element, "agent:text" when its indicator is set; left out
// when the database cannot give it.
void addAgent(const Element& e, const char* name, const char* agent) {
  int indicator = 0;
  char text[256];
  memset(text, 0, sizeof text);
  if (!orxdb_get_agent(e.buffer, agent, &indicator, text)) return;
  if (indicator == 0) {
    putText(e.msg, name, agent);
    return;
  }
  char joined[512];
  snprintf(joined, sizeof joined, "%s:%s", agent, text);
  putText(e.msg, name, joined);
}

// What the template's flags ask for, in the order receivers have always
// been given it.
void addFlagged(Daemon* d, const Element& e, const char* type, int flags) {
  if (flags & OVI_DB_ATTRIBUTES) addAttributes(d, e, type);
  if (flags & OVI_DB_COLOR) addColor(e);
  if (flags & OVI_DB_MEMBERSHIP) addList(e, "Membership", orxdb_enumerate_views, "view", addView);
  if (flags & OVI_DB_CONNECTIONS)
    addList(e, "Connections", orxdb_enumerate_connections, "connected", addConnection);
  if (flags & OVI_DB_AGENTS) addList(e, "Agents", orxdb_enumerate_agents, "agent", addAgent);
}

}  // namespace

void free_info_list(infoList* first) { free_value_list(first); }

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

  if (strncmp(msg->group, kGlyphGroup, sizeof msg->group) == 0)
    return addGlyphTrap(this, list, msg, info);

  char value[kValueSize];
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
  int flags;
  if (!templateFlags(datum, element, deletion, templateFile, &flags)) return 0;
  ovi_trace(2, "Flags are %d\n", flags);

  if (strcasecmp(datum->name, "background") == 0) {
    addBackground(msg, datum);
    return 1;
  }
  // The station's own elements are never shown to another console.
  if (strncasecmp(element, "ORX:", 4) == 0) return 1;
  orxdb_buffer buffer;
  if (!readElement(msg, datum, element, deletion, &buffer)) return 1;

  const Element e = {msg, &buffer, element};
  char type[kTypeSize];
  addType(e, type);
  // A connection's ends, unless the flags carry the attributes bit (its
  // attributes hold the ends); no entry (-1) carries every bit.
  if (strncasecmp(type, "connectio", 9) == 0 && (flags & OVI_DB_ATTRIBUTES) == 0)
    addConnectionEnds(e);
  if (flags == -1) return 1;  // no template entry for the datum: the type alone
  addFlagged(this, e, type, flags);
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
  Slot slot;
  uint32_t length = binaryValue(p, type, &slot);
  if (length != 0) {
    putDatum(msg, name, type, length, &slot);
    return;
  }
  char text[256];
  textOf(p, text);
  // Octets and hex go as plain text; TESSEL_STRING, TESSEL_OID (a "pointer":
  // an element's name) and TESSEL_OPAQUE keep their code.
  int sent = type == TESSEL_OCTETS || type == TESSEL_HEX ? TESSEL_STRING : type;
  putDatum(msg, name, sent, static_cast<uint32_t>(strlen(text)), text);
}

void Daemon::sendIntAttribute(TesselServiceMsg* msg, const char* name, int32_t value) {
  putInt(msg, name, value);
}

void Daemon::sendStringAttribute(TesselServiceMsg* msg, const char* name, const char* text) {
  putText(msg, name, text);
}
