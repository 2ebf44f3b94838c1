// Filter evaluation in a forwarding subprocess: which record of the
// receiver's filter file decides a report, and the priorities it gives.
//
// Records are looked for kind by kind (host, element type, the names of the
// views above the host, their types, default); the first kind that yields a
// record decides, whatever its action.  Every look-up reopens the filter
// file through the filter-file module, so an edit of the file applies to the
// next report.
#include "filter.h"

#include <stdlib.h>
#include <string.h>
#include <strings.h>

#include <memory>
#include <string>
#include <unordered_set>
#include <utility>
#include <vector>

#include "daemon.h"
#include "log.h"
#include "orxdb/orxdb.h"

namespace {

const char kHostKeyword[] = "hostname";
const char kComponentKeyword[] = "component";
const char kViewNameKeyword[] = "viewname";
const char kViewTypeKeyword[] = "viewtype";
const char kDefaultKeyword[] = "default";
const char kViewPrefix[] = "view.";
const size_t kViewPrefixLength = sizeof kViewPrefix - 1;

// Report types that are filtered; every other type passes.
enum : uint32_t { kEventReport = 4, kTrapReport = 12 };

// A possibly null text, printable with %s.
const char* text(const char* s) { return s != nullptr ? s : ""; }

struct ViewListFree {
  void operator()(char** list) const { ovi_free_view_list(list); }
};
typedef std::unique_ptr<char*[], ViewListFree> ViewList;

struct DbListFree {
  void operator()(char** list) const { orxdb_free_list(list); }
};
typedef std::unique_ptr<char*[], DbListFree> DbList;

void traceViewList(const char* element, char* const* views) {
  ovi_trace(3, "FILTER: Element %s exists in views :\n", element);
  for (; *views != nullptr; views++) ovi_trace(3, "\t\t\t%s\n", *views);
}

void traceFound(const char* keyword, const FilterEntry* entry) {
  ovi_trace(3, "FILTER EVENT: Search type %s, found %s, action %s\n", keyword,
            text(entry->target), text(entry->action));
}

// Opens the filter file for a look-up; false (traced) when it cannot be.
bool openFilter(const char* file) {
  int err = ovi_openfilter(file);
  if (err == 0) return true;
  ovi_trace(3, "FILTER EVENT: Can't open filter file %s: %s\n", file, strerror(err));
  return false;
}

// The record that this one view itself matches, by name or by type.
const FilterEntry* matchView(const char* view, ViewCategory category,
                             const OVI_MessageInfo* info) {
  if (category == ByViewName) return ovi_gethost(view, kViewNameKeyword, info);
  return ovi_verify_view_type(view, kViewTypeKeyword, info);
}

// Depth-first search from `start` up through the views containing it, each
// view taking its containing views in database order before its next
// sibling.  `visited` holds the views already searched in this evaluation:
// a view met again (the hierarchy loops, or two branches share an ancestor)
// found nothing the first time and is skipped.  Kept iterative with its own
// stack so that a deep hierarchy cannot exhaust the process stack.
const FilterEntry* searchUpward(const char* start, ViewCategory category,
                                const OVI_MessageInfo* info,
                                std::unordered_set<std::string>* visited) {
  struct Frame {
    ViewList views;  // the views containing one searched view
    size_t next;     // the next of them to search
  };
  std::vector<Frame> stack;
  const char* view = start;
  while (view != nullptr) {
    if (!visited->insert(view).second) {
      ovi_trace(4, "FILTER: View %s searched before, skipped\n", view);
    } else {
      const FilterEntry* entry = matchView(view, category, info);
      if (entry != nullptr) return entry;
      ViewList above(ovi_get_view_list(view));
      if (above != nullptr) {
        traceViewList(view, above.get());
        stack.push_back(Frame{std::move(above), 0});
      }
    }
    // The next view: the next unsearched one of the innermost open list.
    view = nullptr;
    while (view == nullptr && !stack.empty()) {
      Frame& top = stack.back();
      view = top.views[top.next];
      if (view != nullptr)
        top.next++;
      else
        stack.pop_back();
    }
  }
  return nullptr;
}

// The view steps of the chain: the first record found searching upward
// from each view that contains the host, in database order.
const FilterEntry* searchHostViews(const char* host, ViewCategory category,
                                   const OVI_MessageInfo* info) {
  ViewList views(ovi_get_view_list(host));
  if (views == nullptr) return nullptr;
  traceViewList(host, views.get());
  std::unordered_set<std::string> visited;
  const FilterEntry* entry = nullptr;
  for (char** v = views.get(); entry == nullptr && *v != nullptr; v++)
    entry = searchUpward(*v, category, info, &visited);
  if (entry != nullptr)
    traceFound(category == ByViewName ? kViewNameKeyword : kViewTypeKeyword, entry);
  return entry;
}

}  // namespace

int get_priority(const char* word) {
  ovi_trace(3, "Looking up priority %s\n", text(word));
  if (word == nullptr) return 0;
  if (strcasecmp(word, "low") == 0) return 1;
  if (strcasecmp(word, "med") == 0) return 2;
  if (strcasecmp(word, "high") == 0) return 3;
  return 0;  // "-" and any unknown word
}

char** ovi_get_view_list(const char* element) {
  if (element == nullptr) return nullptr;
  orxdb_buffer buffer;
  if (!orxdb_read(element, &buffer)) {
    ovi_trace(3, "FILTER (get_view_list) : Database read error %d for %s\n", orx_error, element);
    return nullptr;
  }
  DbList views(orxdb_enumerate_views(&buffer));
  if (views == nullptr) {
    ovi_trace(3, "FILTER: Element %s exists in NO view!\n", element);
    return nullptr;
  }
  size_t count = 0;
  while (views[count] != nullptr) count++;
  // Owned copies in a block of its own, so that the list outlives the next
  // database call and is released by ovi_free_view_list alone.
  ViewList copy(static_cast<char**>(calloc(count + 1, sizeof(char*))));
  if (copy == nullptr) {
    ovi_trace(3, "FILTER: No memory for the views of %s\n", element);
    return nullptr;
  }
  for (size_t i = 0; i < count; i++) {
    copy[i] = strdup(views[i]);
    if (copy[i] == nullptr) {
      ovi_trace(3, "FILTER: No memory for the views of %s\n", element);
      return nullptr;
    }
  }
  return copy.release();
}

int ovi_free_view_list(char** list) {
  if (list == nullptr) return 0;
  for (char** v = list; *v != nullptr; v++) free(*v);
  free(list);
  return 1;
}

const FilterEntry* ovi_verify_view_type(const char* view, const char* keyword,
                                        const OVI_MessageInfo* info) {
  if (view == nullptr) return nullptr;
  orxdb_buffer buffer;
  if (!orxdb_read(view, &buffer)) {
    ovi_trace(3, "FILTER (get_view_list) : Database read error %d for %s\n", orx_error, view);
    ovi_trace(3, "FILTER: Database read error %d\n", orx_error);
    return nullptr;
  }
  // The type lives in the local buffer; ovi_gethost keeps its own copy.
  const char* type = text(orxdb_get_element_type(&buffer));
  ovi_trace(3, "FILTER: Element TYPE %s\n", type);
  if (strncasecmp(type, kViewPrefix, kViewPrefixLength) != 0) return nullptr;
  return ovi_gethost(type + kViewPrefixLength, keyword, info);
}

const FilterEntry* search_recursively_for_membership(const char* view, ViewCategory category,
                                                     const OVI_MessageInfo* info) {
  std::unordered_set<std::string> visited;
  return searchUpward(view, category, info, &visited);
}

// Nodes and their values are malloc'ed blocks, as the report decoding
// allocates them.
void free_data_list(vant_tessel_data_list* first) { free_value_list(first); }

// ---- the Daemon's part ----

int Daemon::filterReport(TesselServiceMsg* msg, TesselArglist* /*arglist*/,
                         TesselArglist* /*work1*/, TesselArglist* /*work2*/,
                         OVI_MessageInfo* info, const char* host) {
  child.filterPriority = 0;
  child.newPriority = 0;
  // Database-manager traps are filtered element by element when their data
  // are rebuilt.
  if (info != nullptr && info->reportClass == OVI_CLASS_DBMGR_TRAP) return 1;
  const uint32_t type = msg != nullptr ? msg->type : 0;
  if (type == kEventReport)
    ovi_trace(3, "FILTER EVENT: event from %s\n", text(host));
  else if (type == kTrapReport)
    ovi_trace(3, "FILTER TRAP: trap from %s\n", text(host));
  else
    return 1;

  const FilterEntry* entry = filterByHost(host, info);
  if (entry == nullptr) entry = filterByComponent(host, info);
  if (entry == nullptr) entry = filterByViewName(host, info);
  if (entry == nullptr) entry = filterByViewType(host, info);
  if (entry == nullptr) entry = filterByDefault(info);
  if (entry == nullptr) return 0;
  if (strcasecmp(text(entry->action), "pass") != 0) return 0;

  child.filterPriority = get_priority(entry->filterPriority);
  child.newPriority = get_priority(entry->newPriority);
  ovi_trace(3, "Priority %s now set to %d\n", text(entry->newPriority), child.newPriority);
  return 1;
}

namespace {

// Opens the filter file and takes its first record of `keyword` for target;
// `shown` is how a failed look-up names the target.
const FilterEntry* lookUpTarget(const char* filterFile, const char* keyword, const char* target,
                                const char* shown, const OVI_MessageInfo* info) {
  ovi_trace(3, "FILTER EVENT: Opened Filter file %s\n", filterFile);
  if (!openFilter(filterFile)) return nullptr;
  const FilterEntry* entry = ovi_gethost(target, keyword, info);
  if (entry != nullptr)
    traceFound(keyword, entry);
  else
    ovi_trace(5, "FILTER EVENT: Search type %s, Failed for target %s.\n", keyword, shown);
  return entry;
}

}  // namespace

const FilterEntry* Daemon::filterByHost(const char* host, const OVI_MessageInfo* info) {
  return lookUpTarget(filterFile, kHostKeyword, host, text(host), info);
}

const FilterEntry* Daemon::filterByComponent(const char* host, const OVI_MessageInfo* info) {
  orxdb_buffer element;
  if (!orxdb_read(host, &element)) {
    ovi_trace(3, "FILTER (Component) : Database read error %d for %s\n", orx_error, text(host));
    return nullptr;
  }
  // The type lives in the local buffer; ovi_gethost keeps its own copy.
  const char* type = text(orxdb_get_element_type(&element));
  ovi_trace(3, "FILTER: Element TYPE %s\n", type);
  return lookUpTarget(filterFile, kComponentKeyword, type, host, info);
}

// The view steps do not reopen the filter file: the host step of the same
// report did.
const FilterEntry* Daemon::filterByViewName(const char* host, const OVI_MessageInfo* info) {
  ovi_trace(3, "FILTER EVENT: Opened Filter file %s For VIEW-NAME!\n", filterFile);
  return searchHostViews(host, ByViewName, info);
}

const FilterEntry* Daemon::filterByViewType(const char* host, const OVI_MessageInfo* info) {
  ovi_trace(3, "FILTER EVENT: Opened Filter file %s For VIEW-TYPE!\n", filterFile);
  return searchHostViews(host, ByViewType, info);
}

const FilterEntry* Daemon::filterByDefault(const OVI_MessageInfo* info) {
  ovi_trace(3, "FILTER EVENT: Opened Filter file %s For Default\n", filterFile);
  if (!openFilter(filterFile)) return nullptr;
  const FilterEntry* entry = ovi_getdefault(kDefaultKeyword, info);
  if (entry != nullptr)
    ovi_trace(3, "FILTER EVENT: Search type %s, found %s, action %s, new_p %s\n", kDefaultKeyword,
              text(entry->target), text(entry->action), text(entry->newPriority));
  return entry;
}
