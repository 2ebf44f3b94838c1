#include "tessel/tessel_list.h"

#include <new>

TesselList::~TesselList() {
  while (head_ != nullptr) remove(head_);
}

int TesselList::append(void* data, int where) {
  if (where != 0) return 0;
  TesselListNode* node = new (std::nothrow) TesselListNode{data, nullptr, tail_};
  if (node == nullptr) return 0;
  if (tail_ != nullptr) tail_->next = node; else head_ = node;
  tail_ = node;
  count_++;
  return 1;
}

void TesselList::remove(TesselListNode* node) {
  if (node == nullptr) return;
  if (node->prev != nullptr) node->prev->next = node->next; else head_ = node->next;
  if (node->next != nullptr) node->next->prev = node->prev; else tail_ = node->prev;
  count_--;
  delete node;
}
