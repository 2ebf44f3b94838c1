#include "decode.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>

#include "attribute.h"
#include "daemon.h"
#include "filter.h"
#include "log.h"
#include "parse_filter.h"
#include "tessel/tessel_error.h"
#include "tessel/tessel_oid.h"
#include "vant/vant_fetch.h"

namespace {

const uint32_t kDbManagerProg = 100110;
const char kGlyphGroup[] = "tessel_glyph_state";

// A copy of n bytes and a NUL, or null when memory is short.
void* copyBytes(const void* value, size_t n) {
  char* copy = static_cast<char*>(malloc(n + 1));
  if (copy == nullptr) return nullptr;
  if (n > 0) memcpy(copy, value, n);
  copy[n] = '\0';
  return copy;
}

int32_t wordOf(const void* value, uint32_t length) {
  int32_t word = 0;
  memcpy(&word, value, length < 4 ? length : 4);
  return word;
}

// Appends an entry with its own copy of value; 0 when memory is short.
int appendInfo(ReportState* s, const char* name, uint32_t type, uint32_t length,
               const void* value, const Tessel_event* event = nullptr) {
  infoList* node = static_cast<infoList*>(calloc(1, sizeof(infoList)));
  if (node == nullptr) return 0;
  node->value = copyBytes(value, length);
  if (node->value == nullptr) {
    free(node);
    return 0;
  }
  snprintf(node->name, sizeof node->name, "%s", name);
  node->type = type;
  node->length = length;
  if (event != nullptr) {
    node->relationalOp = event->relationalOp;
    node->threshold = event->threshold;
    node->priority = event->priority;
  }
  infoList** tail = &s->sendList;
  while (*tail != nullptr) tail = &(*tail)->next;
  *tail = node;
  return 1;
}

void traceFetched(bool glyph, const Tessel_data& d) {
  if (!ovi_tracing(3)) return;
  const char* variant = glyph ? "2" : "0";
  switch (d.type) {
    case 9:
      ovi_trace(3, "FETCH: %s STR data name = [%s] data value = [%s]\n", variant, d.name,
                static_cast<const char*>(d.value));
      break;
    case 17:
      ovi_trace(3, "FETCH: %s OID data name = [%s] data value = [%s]\n", variant, d.name,
                tessel_oid2string(d.length, d.value));
      break;
    case 1: case 2: case 3: case 4: case 5: case 6: case 14: {
      static const char* const tags[] = {"", "SH ", "USH", "INT", "UIN", "L  ", "UL "};
      const char* tag = d.type == 14 ? "ENM" : tags[d.type];
      int value = d.type == 1   ? *static_cast<const int16_t*>(d.value)
                  : d.type == 2 ? *static_cast<const uint16_t*>(d.value)
                                : wordOf(d.value, d.length);
      ovi_trace(3, "FETCH: %s %s data name = [%s] data value = [%d]\n", variant, tag, d.name, value);
      break;
    }
    default:
      ovi_trace(3, "FETCH: %s OTH data name = [%s]\n", variant, d.name);
  }
}

// A node of the report's data list, with a copy of the datum's value.
vant_tessel_data_list* copyNode(const Tessel_data& d) {
  auto* node = static_cast<vant_tessel_data_list*>(calloc(1, sizeof(vant_tessel_data_list)));
  if (node == nullptr) return nullptr;
  snprintf(node->name, sizeof node->name, "%s", d.name);
  node->type = d.type;
  node->length = d.length;
  node->value = copyBytes(d.value, d.length);
  node->copied = node->value != nullptr;
  return node;
}

void setText(char** field, const char* text) {
  free(*field);
  *field = strdup(text);
}

// Gives the report the filter's new priority in its "priority" datum.
void applyNewPriority(vant_tessel_data_list** list, int newPriority) {
  const char* word = prio2str(newPriority);
  vant_tessel_data_list** tail = list;
  for (; *tail != nullptr; tail = &(*tail)->next) {
    vant_tessel_data_list* n = *tail;
    if (strcmp(n->name, "priority") != 0) continue;
    void* copy = copyBytes(word, strlen(word));
    if (copy == nullptr) return;
    free(n->value);
    n->value = copy;
    n->copied = 1;
    n->length = strlen(word) + 1;
    return;
  }
  Tessel_data d;
  memset(&d, 0, sizeof d);
  strcpy(d.name, "priority");
  d.type = 9;
  d.length = strlen(word);
  d.value = const_cast<char*>(word);
  *tail = copyNode(d);
}

// Reads a trap's data into *data, up to and including the end marker, and
// notes on the way what classifies it.  0 when the data cannot be read.
int fetchTrapData(Daemon* d, ReportState* s, bool glyph, vant_tessel_data_list** data) {
  vant_tessel_data_list** tail = data;
  for (;;) {
    Tessel_data datum;
    if (!vant_fetch_data(&datum, s->msg)) {
      // Data that cannot be read would be fetched for ever: the report ends.
      ovi_trace(3, "can't fetch dataRead statistics\n");
      return 0;
    }
    vant_tessel_data_list* node = copyNode(datum);
    if (node == nullptr) return 0;
    if (!glyph) traceFetched(false, datum);
    *tail = node;
    tail = &node->next;
    if (glyph && node->copied) traceFetched(true, datum);
    if (!node->copied) {
      ovi_trace(3, "Unable to copy the field information for %s.\n", datum.name);
    } else if (datum.type == 17) {
      snprintf(s->info.enterprise, sizeof s->info.enterprise, "%s",
               tessel_oid2string(datum.length, datum.value));
    } else if (strcmp(datum.name, "trap-type") == 0) {
      s->info.trapType = strcmp(static_cast<const char*>(node->value), "generic") == 0
                             ? OVI_TRAP_GENERIC : OVI_TRAP_ENTERPRISE;
    } else if (strcmp(datum.name, "trap-no") == 0) {
      s->info.trapNumber = wordOf(node->value, node->length);
    } else if (strcmp(datum.name, "priority") == 0) {
      if (glyph || s->info.reportClass == OVI_CLASS_TRAP)
        d->child.reportPriority = get_priority(static_cast<const char*>(node->value));
    } else if (glyph && strcmp(datum.name, "glyph") == 0) {
      setText(&s->host, static_cast<const char*>(node->value));
    }
    if (strcmp(datum.name, "tessel_endofargs") == 0) return 1;
  }
}

// Puts the trap's data that have a text form on the send list; a glyph-state
// trap's host name is prefixed with this host's, and one of another database
// is marked not to be sent.
void sendTrapData(Daemon* d, ReportState* s, bool glyph, const vant_tessel_data_list* data) {
  for (const vant_tessel_data_list* n = data; n != nullptr; n = n->next) {
    if (!n->copied || !value2str_has_text(n->type)) continue;
    if (glyph && strcmp(n->name, "orx_name") == 0 &&
        strncmp(d->orxName, static_cast<const char*>(n->value), n->length) != 0) {
      ovi_trace(3, "Skipping reset of glyph\n");
      s->dontSend = 1;
    }
    if (glyph && strcmp(n->name, "hostname") == 0) {
      char rewritten[512];
      snprintf(rewritten, sizeof rewritten, "%s:%.*s", s->localHost, static_cast<int>(n->length),
               static_cast<const char*>(n->value));
      ovi_trace(3, "Modified hostname %s\n", rewritten);
      appendInfo(s, n->name, n->type, strlen(rewritten) + 1, rewritten);
      continue;
    }
    appendInfo(s, n->name, n->type, n->length, n->value);
  }
}

}  // namespace

int decodeTrap(Daemon* d, ReportState* s) {
  TesselServiceMsg* msg = s->msg;
  bool glyph = strcmp(msg->group, kGlyphGroup) == 0;
  ovi_trace(3, "FORWARD:  Found a Trap\n");
  if (glyph) {
    s->info.reportClass = OVI_CLASS_GLYPH_TRAP;
    ovi_trace(2, "Got Message type GLYPH TRAP\n");
  } else if (msg->agentProg == kDbManagerProg) {
    s->info.reportClass = OVI_CLASS_DBMGR_TRAP;
    ovi_trace(2, "Got Message type DBMGR TRAP\n");
  } else {
    s->info.reportClass = OVI_CLASS_TRAP;
    ovi_trace(2, "Got Message type TRAP\n");
  }
  vant_tessel_data_list* data = nullptr;
  int passed = fetchTrapData(d, s, glyph, &data) &&
               d->filterReport(msg, s->arglist, s->work1, s->work2, &s->info, s->host);
  if (passed) {
    if (d->child.newPriority != 0 && (glyph || s->info.reportClass == OVI_CLASS_TRAP))
      applyNewPriority(&data, d->child.newPriority);
    sendTrapData(d, s, glyph, data);
  }
  free_data_list(data);
  return passed;
}

int decodeEvent(Daemon* d, ReportState* s) {
  TesselServiceMsg* msg = s->msg;
  ovi_trace(3, "WE JUST HIT THE ELSE!!!!");
  s->info.reportClass = OVI_CLASS_EVENT;
  ovi_trace(2, "Got Message type EVENT\n");
  if (!d->filterReport(msg, s->arglist, s->work1, s->work2, &s->info, s->host)) return 0;

  for (;;) {
    Tessel_event e;
    if (!vant_fetch_event(&e, msg)) {
      if (tessel_debug > 0) printf("can't fetch eventRead statistics\n");
      return 0;
    }
    if (e.type == 9)
      ovi_trace(3, "FETCH: event name = [%s] event value = [%s]\n", e.name,
                static_cast<const char*>(e.value));
    else
      ovi_trace(3, "FETCH: event name = [%s]\n", e.name);
    bool end = strcmp(e.name, "tessel_endofargs") == 0;
    if (!value2str_has_text(e.type)) {
      if (end) break;
      continue;
    }
    const char* name = nullptr;
    if (e.type == 14) {
      ovi_trace(3, "Attribute %s is an enum\n", e.name);
      name = translateEnum(e.name, wordOf(e.value, e.length));
    }
    if (name != nullptr)
      appendInfo(s, e.name, 9, strlen(name), name);
    else
      appendInfo(s, e.name, e.type, e.length, e.value, &e);

    if (e.relationalOp != 0) {
      // The text of the threshold: its value, or its enumeration name.
      char threshold[256];
      const char* text = value2str(e.type, e.threshold, e.length);
      snprintf(threshold, sizeof threshold, "%s", text != nullptr ? text : "");
      if (e.type == 14) {
        ovi_trace(3, "Attribute %s is an enum\n", e.name);
        const char* enumName = translateEnum(e.name, wordOf(e.threshold, e.length));
        if (enumName != nullptr) snprintf(threshold, sizeof threshold, "%s", enumName);
      }
      d->child.reportPriority = e.priority;
      int p = d->child.newPriority != 0 ? d->child.newPriority : d->child.reportPriority;
      // The reason describes the threshold whatever the priority.
      char reason[1024];
      snprintf(reason, sizeof reason, "%s %s %s", e.name, relop2str(e.relationalOp), threshold);
      const char* word = prio2str(p);
      const char* priority = strcasecmp(word, "med") == 0    ? "Medium"
                             : strcasecmp(word, "high") == 0 ? "High"
                                                             : "Low";
      msg->priority = p;
      appendInfo(s, "trap_reason", 9, strlen(reason), reason);
      ovi_trace(3, "Looking at priority %s\n", word);
      appendInfo(s, "trap_priority", 9, strlen(priority), priority);
    }
    if (end) break;
  }
  return 1;
}

int decodeReport(Daemon* d, ReportState* s, TesselServiceMsg* msg, TesselArglist* arglist,
                 TesselArglist* work1, TesselArglist* work2, const char* localHost) {
  memset(s, 0, sizeof *s);
  s->msg = msg;
  s->arglist = arglist;
  s->work1 = work1;
  s->work2 = work2;
  s->localHost = localHost;
  s->host = strdup(msg->host);
  int passed = 0;
  switch (msg->type) {
    case 2: case 12:
      passed = decodeTrap(d, s);
      break;
    case 4:
      passed = decodeEvent(d, s);
      break;
  }
  free(s->host);
  s->host = nullptr;
  return passed;
}
