// The schema tables: the enumerations, the attributes of enumeration type and
// the record layouts read from the agent schema files at start-up, and the
// look-ups report decoding and element information use.
//
// The tables are filled once by build_attribute_lists (through the parser
// callbacks declared in parser_driver.h) and read for the rest of the
// process's life; forwarding subprocesses inherit them by fork.  They own
// every name they hold.  Names compare exactly; when two definitions share a
// name, the look-ups find the one read first.
#ifndef DAEMONS_OVI_SENDER_ATTRIBUTE_H_
#define DAEMONS_OVI_SENDER_ATTRIBUTE_H_

#include <string>
#include <vector>

// Most entries of one enumeration and most fields of one record layout;
// further ones are ignored.
const int kSchemaMaxEntries = 1024;

// The configuration key that lists the schema directories, separated by ':'.
extern const char schema_path_keyword[];  // "qm.snmp.schemas"

// One "enum" definition: value-to-name pairs in definition order.
struct EnumValues {
  struct Entry {
    int value;
    std::string name;
  };
  std::string name;             // at most 79 characters
  std::vector<Entry> entries;
  int count() const { return static_cast<int>(entries.size()); }
};

// One attribute whose type is an enumeration.
struct EnumAttribute {
  std::string name;             // at most 64 characters
  const EnumValues* values;     // the enumeration found when the attribute was read, or null
};

// One "record" definition: field type codes and names in field order.
struct AttrList {
  std::string name;             // at most 64 characters
  std::vector<int> types;       // schema type codes, 21 for an enumeration field
  std::vector<std::string> names;
  int count() const { return static_cast<int>(names.size()); }
};

// Reads every schema file of the directories named by "qm.snmp.schemas" in
// orx.conf (each mapped with tessel_path): for each directory D in list order
// the glue file D/../struct/orx.glue if it exists, the ".schema" files of
// D/../struct, then those of D, each directory's files in byte order of their
// names.  Directories and files that cannot be opened are skipped.  When the
// entry is missing or names no directory, logs "ovi_sender : error in
// orx.conf,  please check the qm.snmp.schemas entry" to syslog (LOG_ERR) and
// ends the process with status 1.
void build_attribute_lists(void);

// Callback arguments of db_load; kept for callers, unused by the tables.
typedef int (*db_callback)(void);

// Parses dir "/" entry when the entry's name, from its last '.' on, is
// exactly ".schema".
void process_schema(const char* dir, const char* entry);

// Traces "Processing %s" at level 3, then returns 0 for a path whose last
// component is "SCCS", else db_load(path, callback, null).  do_parse is the
// same.
int process_file(const char* path, db_callback callback);
int do_parse(const char* path, db_callback callback);

// Parses the schema file at path into the tables.  Returns 1 when it cannot
// be opened, else the result of dbparse_schema (0 when the file was read).
int db_load(const char* path, db_callback callback, db_callback reccallback);

// Character source of db_load: the next character of the file being loaded,
// or -1 at its end (or when none is being loaded).
int db_stdio_getchar(void);

// First enumeration table with that name, or null.
const EnumValues* getAttrValues(const char* enumName);

// First record layout with that name, or null.
const AttrList* getAttributes(const char* recordName);

// Text for value of the enumerated attribute named attribute: the value's
// name in the first enumerated attribute of that name; null when that
// attribute has no enumeration table or its table lacks the value; the
// decimal text of value when no enumerated attribute has that name (or
// attribute is null).  The text belongs to the tables or to a buffer the
// next call may overwrite.  Traces its search at level 1.
const char* translateEnum(const char* attribute, int value);

// Diagnostic dumps to standard output: for each enumerated attribute
// "Object: name" and one "\tposition:name" line per enumeration value; for
// each record layout "Object: name" and one "\ttype:name" line per field.
void list_all_enum_values(void);
void list_all_attributes(void);

// Empties the three tables (tests and tools that load them more than once).
void free_attribute_lists(void);

// For the checker tool: loads the schema directories as the daemon does and
// prints list_all_enum_values() then list_all_attributes().  Syntax errors,
// each configured directory that cannot be opened and a missing
// "qm.snmp.schemas" entry are written to standard error as lines beginning
// with progname; the last returns 0 with nothing printed.  Returns 1 once the
// tables are printed, 0 when a directory could not be opened.
int list_schema_tables(const char* progname);

#endif  // DAEMONS_OVI_SENDER_ATTRIBUTE_H_
