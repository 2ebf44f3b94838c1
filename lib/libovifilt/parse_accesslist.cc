#include "parse_accesslist.h"

#include <string.h>
#include <strings.h>

#include "data_file.h"
#include "parse_filter.h"
#include "tokenizer.h"

static FilePtr afp;

int ovi_openaccess() {
  ovi_closefilter();
  int err = ovi_open_data_file("ovi_sender.conf", &afp);
  if (err == 0) setTokenEof(0);
  return err;
}

void ovi_closeaccess() { afp.reset(); }

static int getAccessLine(char* host, char* database) {
  ovi_copy_cut(host, getToken(afp.get()), OVI_ACCESS_FIELD_SIZE - 1);
  database[0] = '\0';
  if (getTokenEor()) return 1;
  if (getTokenEof()) return -1;
  ovi_copy_cut(database, getToken(afp.get()), OVI_ACCESS_FIELD_SIZE - 1);
  if (getTokenEor()) return 1;
  if (getTokenEof()) return -1;
  return 0;
}

int ovi_getAccessLine(char* host, char* database) { return getAccessLine(host, database); }

int ovi_checkaccess(const char* host, const char* database) {
  if (afp == nullptr || host == nullptr || host[0] == '\0' || database == nullptr ||
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
