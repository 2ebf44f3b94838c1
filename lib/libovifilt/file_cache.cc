#include "file_cache.h"

#include <new>
#include <utility>

int FileCache::add(const char* name) {
  if (find(name) != nullptr) return 1;
  // The containers report short memory by throwing; the readers promise 0.
  try {
    auto file = std::make_unique<File>();
    file->name = name;
    CachedRecords* records = &file->records;
    files_.push_back(std::move(file));
    if (open_(name) != 0) return 0;
    CachedRecord record;
    while (next_(&record)) records->push_back(std::move(record));
    return 1;
  } catch (const std::bad_alloc&) {
    return 0;
  }
}

const CachedRecords* FileCache::find(const char* name) const {
  for (const auto& file : files_)
    if (file->name == name) return &file->records;
  return nullptr;
}
