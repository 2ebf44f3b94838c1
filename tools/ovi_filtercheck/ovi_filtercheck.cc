// ovi_filtercheck FILE [HOST]: shows how ovi_sender reads a filter file.
//
// Prints every record with its eight fields (defaults filled in), each
// database and trap template file the records name and whether it can be
// read, what registering with the file would report, and, given a host name,
// which record the host look-up finds for each kind of report.  Operators
// run it before a console registers with the file.
//
// Exit status: 0 the file would be accepted; 1 it cannot be opened or a file
// it names cannot be read; 2 usage error.
#include <stdio.h>
#include <string.h>
#include <strings.h>

#include <string>
#include <vector>

#include "attribute.h"
#include "cli.h"
#include "data_file.h"
#include "message_info.h"
#include "parse_dbtmpl.h"
#include "parse_filter.h"
#include "parse_trap.h"
#include "trap_limits.h"

namespace {

const char kProgram[] = "ovi_filtercheck";

std::string counted(int n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

struct Options {
  const char* file = nullptr;
  const char* host = nullptr;
  bool schemas = false;
};

void usage(FILE* out) {
  fprintf(out,
          "Usage: %s [-h|--help] FILE [HOST]\n"
          "       %s --schemas\n"
          "  Shows how ovi_sender reads the filter file FILE (a name without a leading\n"
          "  \"/\" is taken in the data directory): every record with its eight fields,\n"
          "  the template files it names and whether they can be read, and with HOST\n"
          "  the record that the host look-up finds.\n"
          "  --schemas reads the schema directories named by \"qm.snmp.schemas\" in\n"
          "  orx.conf as ovi_sender does and prints its enumeration and record tables.\n",
          kProgram, kProgram);
}

// Returns -1 to go on, else the exit status.
int parseArgs(int argc, char** argv, Options* opt) {
  std::vector<const char*> positional;
  bool optionsEnd = false;
  for (int i = 1; i < argc; i++) {
    const char* arg = argv[i];
    if (optionsEnd || arg[0] != '-' || arg[1] == '\0') {
      positional.push_back(arg);
    } else if (strcmp(arg, "--") == 0) {
      optionsEnd = true;
    } else if (strcmp(arg, "--schemas") == 0) {
      opt->schemas = true;
    } else if (strcmp(arg, "-h") == 0 || strcmp(arg, "--help") == 0) {
      usage(stdout);
      return 0;
    } else if (strcmp(arg, "--version") == 0) {
      cli_printVersion(kProgram);
      return 0;
    } else {
      fprintf(stderr, "%s: unknown option %s (try --help)\n", kProgram, arg);
      return 2;
    }
  }
  if (opt->schemas) {
    if (positional.empty()) return -1;
    fprintf(stderr, "%s: --schemas takes no FILE (try --help)\n", kProgram);
    return 2;
  }
  if (positional.empty() || positional.size() > 2) {
    fprintf(stderr, "%s: expected FILE [HOST] (try --help)\n", kProgram);
    return 2;
  }
  opt->file = positional[0];
  opt->host = positional.size() > 1 ? positional[1] : nullptr;
  return -1;
}

// A field as a C-style quoted string, so that blanks, quotes and empty
// fields show.
std::string quoted(const char* text) { return cli_quoted(text, CLI_QUOTE_C); }

bool isKnownKeyword(const char* keyword) {
  for (const char* k : {"hostname", "component", "viewname", "viewtype", "default"})
    if (strcasecmp(keyword, k) == 0) return true;
  return false;
}

void printRecord(int index, const FilterEntry* e) {
  printf("record %d\n", index);
  printf("  keyword          %s\n", quoted(e->keyword).c_str());
  printf("  target           %s\n", quoted(e->target).c_str());
  printf("  filterPriority   %s\n", quoted(e->filterPriority).c_str());
  printf("  newPriority      %s\n", quoted(e->newPriority).c_str());
  printf("  action           %s\n", quoted(e->action).c_str());
  printf("  dbTemplateFile   %s\n", quoted(e->dbTemplateFile).c_str());
  printf("  reportClasses    %s\n", quoted(e->reportClasses).c_str());
  printf("  trapTemplateFile %s\n", quoted(e->trapTemplateFile).c_str());
  if (!isKnownKeyword(e->keyword))
    printf("  note: the keyword is none of hostname, component, viewname, viewtype, default;"
           " no look-up finds this record\n");
  if (decide_event_or_trap(e->reportClasses) == 0)
    printf("  note: the report classes select nothing; the record applies to database-manager"
           " traps only\n");
}

bool contains(const std::vector<std::string>& names, const char* name) {
  for (const std::string& n : names)
    if (n == name) return true;
  return false;
}

// The entries of a trap template file that opens.
int trapEntries(const char* name) {
  int entries = 0;
  if (ovi_open_trap_file(name) == 0) {
    char label[OVI_TRAP_FIELD_SIZE], traps[OVI_TRAP_FIELD_SIZE], oid[OVI_TRAP_FIELD_SIZE];
    while (ovi_get_trap_entry(label, traps, oid)) entries++;
    ovi_close_trap_file();
  }
  return entries;
}

// How one kind of template file is checked: opened and closed again as the
// daemon opens it at registration, and its entries counted once it opens.
struct TemplateKind {
  const char* kind;
  int (*open)(const char* name);
  void (*close)();
  int (*entries)(const char* name);
};

const TemplateKind kDbTemplate = {"db", ovi_open_db_template_file, ovi_close_db_template_file,
                                  ovi_db_file_entry_count};
const TemplateKind kTrapTemplate = {"trap", ovi_open_trapfile_for_reading,
                                    [] { ovi_close_trapfile_after_reading(); }, trapEntries};

// The line about a template file: its name and path, then the error that
// kept it from being read or how many entries it holds.
void printTemplate(const TemplateKind& t, const char* name) {
  std::string path = ovi_data_file_path(name);
  int err = t.open(name);
  t.close();
  int entries = err == 0 ? t.entries(name) : 0;
  printf("%s template file %s (%s): ", t.kind, quoted(name).c_str(), path.c_str());
  if (err != 0)
    printf("cannot be read: %s\n", strerror(err));
  else
    printf("read, %s\n", counted(entries, "entry", "entries").c_str());
}

void printDbTemplate(const char* name) {
  if (name[0] == '\0')
    printf("db template file \"\": no file named\n");
  else
    printTemplate(kDbTemplate, name);
}

// Position (from 1) of the first cached record equal to a look-up result;
// equal records match alike, so the first is the one the look-up found.
int indexOf(const FilterEntry* found) {
  int index = 1;
  for (const FilterEntry* e = ovi_filter_cache(); e != nullptr; e = e->next, index++) {
    if (strcmp(e->keyword, found->keyword) == 0 && strcmp(e->target, found->target) == 0 &&
        strcmp(e->filterPriority, found->filterPriority) == 0 &&
        strcmp(e->newPriority, found->newPriority) == 0 && strcmp(e->action, found->action) == 0 &&
        strcmp(e->dbTemplateFile, found->dbTemplateFile) == 0 &&
        strcmp(e->reportClasses, found->reportClasses) == 0 &&
        strcmp(e->trapTemplateFile, found->trapTemplateFile) == 0)
      return index;
  }
  return 0;
}

std::string describe(const FilterEntry* e) {
  return "record " + std::to_string(indexOf(e)) + " (" +
         (strcasecmp(e->action, "pass") == 0 ? "pass" : "drop") + ")";
}

void printHostLookUps(const char* host) {
  static const struct {
    const char* kind;
    int reportClass;
  } kinds[] = {
      {"event reports", OVI_CLASS_EVENT},
      {"glyph-state traps", OVI_CLASS_GLYPH_TRAP},
      {"database-manager traps", OVI_CLASS_DBMGR_TRAP},
  };
  printf("host %s\n", quoted(host).c_str());
  for (const auto& k : kinds) {
    OVI_MessageInfo info{};
    info.reportClass = static_cast<int16_t>(k.reportClass);
    const FilterEntry* e = ovi_gethost(host, "hostname", &info);
    if (e != nullptr) {
      printf("  %s: hostname %s\n", k.kind, describe(e).c_str());
      continue;
    }
    // Component and view records need the management database; the default
    // is what applies when none of them does.
    e = ovi_getdefault("default", &info);
    if (e != nullptr)
      printf("  %s: no hostname record; default %s\n", k.kind, describe(e).c_str());
    else
      printf("  %s: no hostname record and no default record (dropped)\n", k.kind);
  }
}

}  // namespace

int main(int argc, char** argv) {
  Options opt;
  int status = parseArgs(argc, argv, &opt);
  if (status >= 0) return status;
  if (opt.schemas) return list_schema_tables(kProgram) ? 0 : 1;

  char message[256] = "";
  int result = ovi_openfilter_with_msg(opt.file, message);
  std::string path = ovi_data_file_path(opt.file);
  if (result != 0 && strcmp(message, "filter file") == 0) {
    fprintf(stderr, "%s: cannot open filter file %s: %s\n", kProgram, path.c_str(), strerror(result));
    return 1;
  }

  printf("filter file %s (%s)\n", quoted(opt.file).c_str(), path.c_str());
  int count = 0;
  for (const FilterEntry* e = ovi_filter_cache(); e != nullptr; e = e->next) printRecord(++count, e);
  printf("%s\n", counted(count, "record", "records").c_str());

  std::vector<std::string> dbFiles, trapFiles;
  for (const FilterEntry* e = ovi_filter_cache(); e != nullptr; e = e->next) {
    if (!contains(dbFiles, e->dbTemplateFile)) dbFiles.push_back(e->dbTemplateFile);
    if (strcmp(e->trapTemplateFile, "-") != 0 && !contains(trapFiles, e->trapTemplateFile))
      trapFiles.push_back(e->trapTemplateFile);
  }
  for (const std::string& name : dbFiles) printDbTemplate(name.c_str());
  for (const std::string& name : trapFiles) printTemplate(kTrapTemplate, name.c_str());

  if (result == 0)
    printf("registration: accepted\n");
  else
    printf("registration: refused with \"Can't open %s\"\n", message);

  if (opt.host != nullptr) printHostLookUps(opt.host);
  fflush(stdout);
  if (result != 0) {
    fprintf(stderr, "%s: %s: Can't open %s\n", kProgram, path.c_str(), message);
    return 1;
  }
  return 0;
}
