// orxdb: creates, loads, dumps and deletes the station's management databases.
#include <errno.h>
#include <stdio.h>
#include <string.h>

#include <string>

#include "cli.h"
#include "orxdb/orxdb.h"
#include "orxdb/orxdb_admin.h"
#include "orxdb/orxdb_store.h"

namespace {

const char* const kUsage =
    "usage: orxdb COMMAND [ARGUMENT...]\n"
    "  orxdb dir                     print the database directory\n"
    "  orxdb create NAME             create an empty database (status 1 if it exists)\n"
    "  orxdb load NAME FILE          create or extend NAME from a description file (\"-\": stdin)\n"
    "  orxdb dump NAME               print the database as a description file\n"
    "  orxdb drop NAME               delete it\n"
    "\n"
    "Description file: one statement a line, blank-separated words, double quotes\n"
    "around a word that holds blanks (\\\" and \\\\ inside quotes), '#' starts a comment:\n"
    "  element NAME TYPE                  views have types \"view.TYPE\"; the root is Home\n"
    "  property ELEMENT NAME VALUE        unquoted decimal: integer; otherwise text\n"
    "  color ELEMENT RED GREEN BLUE\n"
    "  member ELEMENT VIEW [X Y Z X1 Y1]\n"
    "  connect ELEMENT CONNECTION\n"
    "  agent ELEMENT AGENT INDICATOR [TEXT]\n"
    "Elements must be declared before they are named.  A load is stored whole or,\n"
    "after a bad line, not at all.\n"
    "\n"
    "Exit status: 0 done, 1 the work failed, 2 usage error.\n";

int usageError(const std::string& why) {
  fprintf(stderr, "orxdb: %s (orxdb --help for usage)\n", why.c_str());
  return 2;
}

int failed(const std::string& why) {
  fprintf(stderr, "orxdb: %s\n", why.c_str());
  return 1;
}

struct Command {
  const char* name;
  int operands;  // words after the command
};

const Command kCommands[] = {
    {"dir", 0}, {"create", 1}, {"load", 2}, {"dump", 1}, {"drop", 1},
};

int load(const char* name, const char* file) {
  bool useStdin = strcmp(file, "-") == 0;
  FILE* in = useStdin ? stdin : fopen(file, "r");
  if (in == nullptr) return failed(std::string(file) + ": " + strerror(errno));
  std::string error;
  int ok = orxdb_loadFile(name, in, useStdin ? "stdin" : file, &error);
  if (!useStdin) fclose(in);
  return ok ? 0 : failed(error);
}

}  // namespace

int main(int argc, char** argv) {
  for (int i = 1; i < argc; i++) {
    if (strcmp(argv[i], "--help") == 0 || strcmp(argv[i], "-h") == 0) {
      fputs(kUsage, stdout);
      return 0;
    }
    if (strcmp(argv[i], "--version") == 0) {
      cli_printVersion("orxdb");
      return 0;
    }
  }
  if (argc < 2) return usageError("no command");
  const Command* command = nullptr;
  for (const Command& c : kCommands)
    if (strcmp(argv[1], c.name) == 0) command = &c;
  if (command == nullptr) return usageError("unknown command \"" + std::string(argv[1]) + "\"");
  if (argc - 2 != command->operands)
    return usageError(std::string(command->name) + " takes " +
                      (command->operands == 0   ? "no operand"
                       : command->operands == 1 ? "NAME"
                                                : "NAME FILE"));
  if (command->operands == 0) {
    printf("%s\n", orxdb_dir());
    return fflush(stdout) == 0 ? 0 : failed("write error");
  }
  const char* name = argv[2];
  if (!orxdb_validName(name)) return usageError("bad database name \"" + std::string(name) + "\"");

  std::string error;
  int ok = 0;
  if (strcmp(command->name, "load") == 0) return load(name, argv[3]);
  if (strcmp(command->name, "create") == 0) ok = orxdb_createDatabase(name, &error);
  if (strcmp(command->name, "dump") == 0) ok = orxdb_dumpDatabase(name, stdout, &error);
  if (strcmp(command->name, "drop") == 0) ok = orxdb_dropDatabase(name, &error);
  return ok ? 0 : failed(error);
}
