// The data a forwarding subprocess sends on: one node per datum of the
// decoded report, in order, each with an owned copy of its value.
#ifndef DAEMONS_OVI_SENDER_INFO_LIST_H_
#define DAEMONS_OVI_SENDER_INFO_LIST_H_

#include <stdint.h>
#include <stdlib.h>

#include "tessel/tessel_types.h"

struct infoList {
  char name[TESSEL_NAME_SIZE];
  uint32_t type;
  uint32_t length;
  void* value;        // owned (malloc), length bytes
  int relationalOp;   // copied from an event datum; 0 for entries made here
  void* threshold;    // copied pointer of an event datum; not owned, not read later
  int priority;
  infoList* next;
};

// Frees every node of the list and the values they own.
void free_info_list(infoList* first);

// Frees a list of malloc'ed nodes, each owning a malloc'ed `value`.
template <typename Node>
void free_value_list(Node* first) {
  while (first != nullptr) {
    Node* next = first->next;
    free(first->value);
    free(first);
    first = next;
  }
}

#endif  // DAEMONS_OVI_SENDER_INFO_LIST_H_
