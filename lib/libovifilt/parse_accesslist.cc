#include "parse_accesslist.h"

#include <strings.h>

#include "data_file.h"
#include "parse_filter.h"
#include "tokenizer.h"

namespace {

// The reader's state, one per process.
struct AccessListReader {
  FilePtr fp;  // the access list while it is open
};

AccessListReader accessList;

}  // namespace

int ovi_openaccess() {
  ovi_closefilter();
  return openTokenFile("ovi_sender.conf", &accessList.fp);
}

void ovi_closeaccess() { accessList.fp.reset(); }

static int getAccessLine(char* host, char* database) {
  database[0] = '\0';
  int end = getTokenField(accessList.fp.get(), host, OVI_ACCESS_FIELD_SIZE - 1);
  if (end != 0) return end;
  return getTokenField(accessList.fp.get(), database, OVI_ACCESS_FIELD_SIZE - 1);
}

int ovi_getAccessLine(char* host, char* database) { return getAccessLine(host, database); }

int ovi_checkaccess(const char* host, const char* database) {
  if (accessList.fp == nullptr || host == nullptr || host[0] == '\0' || database == nullptr ||
      database[0] == '\0')
    return 0;
  setTokenEof(0);
  char entryHost[OVI_ACCESS_FIELD_SIZE], entryDatabase[OVI_ACCESS_FIELD_SIZE];
  while (getAccessLine(entryHost, entryDatabase) != -1) {
    if (strcasecmp(entryHost, host) != 0) continue;
    if (strcasecmp(entryDatabase, database) == 0) return 1;
  }
  return 0;
}
