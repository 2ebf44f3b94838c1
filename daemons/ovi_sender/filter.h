// Filter evaluation: the free functions of the filter module.  The Daemon
// members filterReport and filterBy* are declared with the Daemon.
#ifndef DAEMONS_OVI_SENDER_FILTER_H_
#define DAEMONS_OVI_SENDER_FILTER_H_

#include "message_info.h"
#include "parse_filter.h"
#include "vant/vant_fetch.h"

// Which view property a search compares.
enum ViewCategory { ByViewName = 0, ByViewType = 1 };

// "-" 0, "low" 1, "med" 2, "high" 3 (any case); any other word 0.
int get_priority(const char* word);

// The views that contain the element, as a NUL-terminated array of owned
// copies, or null when there are none or the element cannot be read.
char** ovi_get_view_list(const char* element);

// Frees a view list; 0 for null, 1 otherwise.
int ovi_free_view_list(char** list);

// The filter entry for the type of a view ("view.T" looked up as T), or null.
const FilterEntry* ovi_verify_view_type(const char* view, const char* keyword,
                                        const OVI_MessageInfo* info);

// Depth-first search from a view upward through the views that contain it;
// the first matching entry, or null.  Views that contain themselves, directly
// or further up, are searched once.
const FilterEntry* search_recursively_for_membership(const char* view, ViewCategory category,
                                                     const OVI_MessageInfo* info);

// Frees every node of a report data list and the values it owns.
void free_data_list(vant_tessel_data_list* first);

#endif  // DAEMONS_OVI_SENDER_FILTER_H_
