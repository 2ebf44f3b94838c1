// An ordered list of untyped pointers.  The list owns its nodes, never the
// data they point at: whoever removes a node frees its data.
#ifndef PLATFORM_TESSEL_TESSEL_LIST_H_
#define PLATFORM_TESSEL_TESSEL_LIST_H_

struct TesselListNode {
  void* data;
  TesselListNode* next;
  TesselListNode* prev;
};

class TesselList {
 public:
  TesselList() : head_(nullptr), tail_(nullptr), count_(0) {}
  ~TesselList();
  TesselList(const TesselList&) = delete;
  TesselList& operator=(const TesselList&) = delete;

  // Adds data at the end (`where` must be 0).  Non-zero on success, 0 when
  // memory is short.
  int append(void* data, int where);

  // Unlinks and frees the node; the data stay the caller's.
  void remove(TesselListNode* node);

  TesselListNode* first() const { return head_; }
  TesselListNode* next(const TesselListNode* node) const { return node->next; }
  static void* data(const TesselListNode* node) { return node->data; }
  int count() const { return count_; }

 private:
  TesselListNode* head_;
  TesselListNode* tail_;
  int count_;
};

#endif  // PLATFORM_TESSEL_TESSEL_LIST_H_
