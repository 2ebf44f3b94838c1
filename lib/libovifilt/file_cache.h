// The cache of the small text files that filter records name: database
// template files (parse_dbtmpl.h) and trap template files (parse_trap.h).
// Each file is read once, whole, into records that look-ups then walk.
//
// A cache keeps its files in the order they were added and finds them by the
// name exactly as it was added (compared byte for byte: "t" and "/dir/t" are
// two files).  Adding a name already cached does nothing, even when the file
// has changed since.  A new name is cached before its file is read: a file
// that cannot be opened stays cached without records, and one whose reading
// runs short of memory keeps the records read so far; neither is read again
// until the cache is emptied.  The records handed out stay valid, and
// unchanged, until clear().
//
// A file is read through its owner's own open and read functions, so the
// owner's stream is left as reading the file directly would leave it.  Not
// thread-safe: each reader owns one cache in its process-wide state.
#ifndef LIB_LIBOVIFILT_FILE_CACHE_H_
#define LIB_LIBOVIFILT_FILE_CACHE_H_

#include <memory>
#include <string>
#include <vector>

// One record of a cached file: its fields in file order, as the reader cut
// them.
using CachedRecord = std::vector<std::string>;
using CachedRecords = std::vector<CachedRecord>;

class FileCache {
 public:
  // Makes the named file the reader's open stream: 0, or an errno value.
  using OpenFn = int (*)(const char* name);
  // Reads the next record of that stream into *record; false at its end.
  using NextFn = bool (*)(CachedRecord* record);

  FileCache(OpenFn open, NextFn next) : open_(open), next_(next) {}
  FileCache(const FileCache&) = delete;
  FileCache& operator=(const FileCache&) = delete;

  // Caches the file of this (non-null) name unless it is cached.  Returns 1
  // when it was cached before, or is now and was read to its end; 0 when it
  // cannot be opened or memory runs short (it stays cached all the same,
  // except when there was no memory for its name).
  int add(const char* name);

  // Records of the cached file of exactly this (non-null) name, or null when
  // no such file is cached.
  const CachedRecords* find(const char* name) const;

  bool empty() const { return files_.empty(); }

  // Forgets every file and its records.
  void clear() { files_.clear(); }

 private:
  struct File {
    std::string name;
    CachedRecords records;
  };

  const OpenFn open_;
  const NextFn next_;
  // One allocation a file, so that records handed out survive later adds.
  std::vector<std::unique_ptr<File>> files_;
};

#endif  // LIB_LIBOVIFILT_FILE_CACHE_H_
