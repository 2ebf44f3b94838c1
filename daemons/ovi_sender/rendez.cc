#include "rendez.h"

#include <string.h>

#include <new>

#include "tessel/tessel_service_msg.h"

std::unique_ptr<CachedReport> CachedReport::copyOf(const unsigned char* image, const char* arglist,
                                                   uint32_t length) {
  std::unique_ptr<CachedReport> c(new (std::nothrow) CachedReport);
  if (!c) return nullptr;
  c->header.reset(new (std::nothrow) unsigned char[TESSEL_MSG_IMAGE]);
  c->arglistData.reset(new (std::nothrow) char[length + 1]);
  if (!c->header || !c->arglistData) return nullptr;
  memcpy(c->header.get(), image, TESSEL_MSG_IMAGE);
  if (length > 0) memcpy(c->arglistData.get(), arglist, length);
  return c;
}

int ReportCache::append(std::unique_ptr<CachedReport> report) {
  if (!list_.append(report.get(), 0)) return 0;
  report.release();
  return 1;
}

CachedReport* ReportCache::oldest() const {
  TesselListNode* head = list_.first();
  return head != nullptr ? static_cast<CachedReport*>(TesselList::data(head)) : nullptr;
}

void ReportCache::dropOldest() {
  TesselListNode* head = list_.first();
  if (head == nullptr) return;
  delete static_cast<CachedReport*>(TesselList::data(head));
  list_.remove(head);
}

void ReportCache::clear() {
  while (list_.first() != nullptr) dropOldest();
}
