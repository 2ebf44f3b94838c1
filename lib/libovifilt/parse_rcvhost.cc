#include "parse_rcvhost.h"

#include <ctype.h>
#include <pwd.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <new>
#include <string>

#include "data_file.h"
#include "parse_filter.h"
#include "tessel/tessel_config.h"

// --- Language ---

// Reads the next whitespace-separated word into word (256 bytes), keeping its
// first 255 characters so that an over-long word stays one word.  Returns 0
// at the end of the file.
static int readWord(FILE* fp, char* word) {
  int c;
  while ((c = getc(fp)) != EOF && isspace(c)) {
  }
  if (c == EOF) return 0;
  size_t n = 0;
  for (; c != EOF && !isspace(c); c = getc(fp))
    if (n < 255) word[n++] = static_cast<char>(c);
  word[n] = '\0';
  return 1;
}

void set_db_locale_lang(const char* database) {
  FilePtr fp;
  if (database == nullptr || ovi_open_data_file("ovi_sender.lang", &fp) != 0) return;
  char name[256], lang[256];
  while (readWord(fp.get(), name) && readWord(fp.get(), lang)) {
    if (strcmp(name, database) == 0) {
      setenv("LANG", lang, 1);
      return;
    }
  }
}

// --- Installation check ---

static bool isElementRecord(const char* line) {
  const char* p = strstr(line, "record");
  if (p == nullptr) return false;
  p += strlen("record");
  for (const char* type : {"component.", "bus.", "view.", "connection."})
    if (strstr(p, type) != nullptr) return true;
  return false;
}

int ovi_verify_ovi_field_in_file(const char* path, char* message) {
  char scratch[OVI_MESSAGE_SIZE];
  if (message == nullptr) message = scratch;
  if (path == nullptr) path = "";
  FilePtr fp;
  if (tessel_open_text_file(path, &fp) != 0) {
    snprintf(message, OVI_MESSAGE_SIZE, "Cannot open file %s", path);
    return 1;
  }
  char line[1024];
  bool found = false;
  while (!found && fgets(line, sizeof line, fp.get()) != nullptr) found = isElementRecord(line);
  if (!found) {
    snprintf(message, OVI_MESSAGE_SIZE, "Cannot find any records in file %s", path);
    return 1;
  }
  while (fgets(line, sizeof line, fp.get()) != nullptr) {
    if (strstr(line, "Created_by_ovi") != nullptr) return 0;
    if (strchr(line, ')') != nullptr) break;
  }
  snprintf(message, OVI_MESSAGE_SIZE,
           "The management console was installed after this package.\n"
           "\tThe changes made by this package in file %s are undone.\n"
           "\tPlease install this package now!\n",
           path);
  return 2;
}

int ovi_verify_ovi_installation(char* message) {
  std::string path = tessel_path(
      (std::string(ovi_get_ovi_installation_base_dir()) + "/struct/elements.schema").c_str());
  return ovi_verify_ovi_field_in_file(path.c_str(), message);
}

// --- Receiver host file ---

static const char* envValue(const char* name) {
  const char* v = getenv(name);
  return v != nullptr && v[0] != '\0' ? v : nullptr;
}

// Forms the current name (withHost) or the older one into path.
static int formName(char* path, bool withHost, char* message) {
  const char* home = envValue("HOME");
  if (home == nullptr) {
    const struct passwd* pw = getpwuid(getuid());
    if (pw != nullptr && pw->pw_dir != nullptr && pw->pw_dir[0] != '\0') home = pw->pw_dir;
  }
  if (home == nullptr) {
    if (message != nullptr) snprintf(message, OVI_MESSAGE_SIZE, "unable to locate your home directory.");
    return -1;
  }
  const char* user = envValue("ORX_NAME");
  if (user == nullptr) user = envValue("USER");
  if (user == nullptr) user = envValue("LOGNAME");
  if (user == nullptr) {
    // What cuserid() gives: the name of the effective user.
    const struct passwd* pw = getpwuid(geteuid());
    if (pw != nullptr && pw->pw_name != nullptr && pw->pw_name[0] != '\0') user = pw->pw_name;
  }
  if (user == nullptr) {
    if (message != nullptr)
      snprintf(message, OVI_MESSAGE_SIZE, "please set your ORX_NAME environment variable.");
    return -1;
  }
  char hostBuf[257];
  const char* host = envValue("HOSTNAME");
  if (host == nullptr) {
    if (gethostname(hostBuf, 256) == 0) {
      hostBuf[256] = '\0';
      host = hostBuf;
    } else {
      host = "local";
    }
  }
  // "." stands for the current directory: no directory part at all.
  const char* dir = strcmp(home, ".") == 0 ? "" : home;
  const char* sep = dir[0] == '\0' || strcmp(dir, "/") == 0 ? "" : "/";
  if (withHost)
    snprintf(path, OVI_RCVFILE_PATH_SIZE, "%s%s.ovi_rcvrc.%s.%s", dir, sep, user, host);
  else
    snprintf(path, OVI_RCVFILE_PATH_SIZE, "%s%s.ovi_rcvrc.%s", dir, sep, user);
  return 0;
}

int get_filename(char* path, char* message) { return formName(path, true, message); }

int generate_compatible_file(char* message) {
  char scratch[OVI_MESSAGE_SIZE];
  if (message == nullptr) message = scratch;
  char oldName[OVI_RCVFILE_PATH_SIZE], newName[OVI_RCVFILE_PATH_SIZE];
  if (formName(oldName, false, message) != 0 || formName(newName, true, message) != 0) return -1;
  struct stat st;
  if (stat(newName, &st) == 0 || stat(oldName, &st) != 0) return 0;

  FilePtr in(fopen(oldName, "r"));
  FilePtr out(in != nullptr ? fopen(newName, "w+") : nullptr);
  if (in == nullptr || out == nullptr) {
    perror("Cannot open files");
    exit(0);
  }
  fchmod(fileno(out.get()), 0664);
  char block[1024];
  size_t n;
  while ((n = fread(block, 1, sizeof block, in.get())) > 0) {
    if (fwrite(block, 1, n, out.get()) != n) {
      perror("Cannot write to the new file ");
      break;
    }
  }
  return 1;
}

static const char* column(const char* field) { return field[0] != '\0' ? field : "-"; }

int ovi_saveSndFILE(const OVI_Receiver* entries, char* message) {
  char path[OVI_RCVFILE_PATH_SIZE];
  if (get_filename(path, message) != 0) return -1;
  FilePtr fp(fopen(path, "w"));
  if (fp == nullptr) {
    printf("Can't open file %s\n", path);
    return 0;
  }
  for (const OVI_Receiver* e = entries; e != nullptr; e = e->next)
    fprintf(fp.get(), "%s %s %s %s %s %s\n", column(e->field[0]), column(e->field[1]),
            column(e->field[2]), column(e->field[3]), column(e->field[5]), column(e->field[4]));
  return 1;
}

void ovi_free_receivers(OVI_Receiver* entries) {
  while (entries != nullptr) {
    OVI_Receiver* e = entries;
    entries = e->next;
    delete e;
  }
}

static bool beginsWithAlnum(const char* text) {
  return isalnum(static_cast<unsigned char>(text[0])) != 0;
}

OVI_Receiver* ovi_loadSndFile(char* message) {
  char path[OVI_RCVFILE_PATH_SIZE];
  if (get_filename(path, message) != 0) return nullptr;
  // The uncached open takes a relative name below the data directory; the
  // file lies where saving put it, below the current directory.
  std::string name = path;
  if (name[0] != '/') {
    char cwd[4096];
    if (getcwd(cwd, sizeof cwd) == nullptr) return nullptr;
    name = std::string(cwd) + "/" + name;
  }
  if (ovi_open_uncached_filter(name.c_str()) != 0) return nullptr;
  // Saved column order: fields 1 to 4, then field 6, then field 5.
  static const int kColumnField[6] = {0, 1, 2, 3, 5, 4};
  char buffers[OVI_FILTER_FIELDS][OVI_FILTER_FIELD_SIZE];
  char* columns[OVI_FILTER_FIELDS];
  for (int i = 0; i < OVI_FILTER_FIELDS; i++) columns[i] = buffers[i];
  OVI_Receiver* head = nullptr;
  OVI_Receiver** tail = &head;
  while (ovi_getLine(columns) != -1) {
    if (!beginsWithAlnum(columns[0]) && !beginsWithAlnum(columns[1]) && !beginsWithAlnum(columns[2]))
      continue;
    OVI_Receiver* e = new (std::nothrow) OVI_Receiver;
    if (e == nullptr) break;
    for (int c = 0; c < 6; c++)
      ovi_copy_cut(e->field[kColumnField[c]], columns[c], sizeof e->field[0] - 1);
    e->next = nullptr;
    *tail = e;
    tail = &e->next;
  }
  ovi_close_uncached_filter();
  return head;
}
