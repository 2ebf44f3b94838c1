// The management database library: elements, views, connections, agents and
// their properties, read by the daemon's subprocesses.
//
// A database named N is the SQLite file "db.N" in orxdb_dir().  A process
// reads one database at a time: orxdb_open() opens the database named by the
// environment entry ORX_NAME read-only, and every other call reads from it.
//
// orxdb_read() takes one consistent snapshot of an element (type, properties,
// colour, views with placements, connections, agents) and the calls on its
// buffer answer from that snapshot; a buffer filled before the latest read
// takes its snapshot anew when it is next used.  A concurrent `orxdb load`
// (one whole description file in one transaction) is therefore seen either
// entirely or not at all, and a read that meets the writer's commit waits
// for it (bounded) instead of failing.  A process keeps what its reads
// found while the file stays unchanged, so that reading an element again
// costs a read of the file's change counter, not a transaction.
//
// Results: int calls give non-zero on success and 0 otherwise; look-ups give
// a pointer or null.  A call that fails because of an error (no database,
// element missing, SQLite failure, memory) sets orx_error to one of the ORX_E*
// numbers below; a call that merely finds nothing (no colour, no placement, no
// views) returns 0 or null and leaves orx_error as it was.  Success never
// changes orx_error.
//
// Not thread-safe: one thread of a process uses the library.  A connection
// inherited across fork() is never touched by the child: the child calls
// orxdb_open() to get its own.
#ifndef PLATFORM_ORXDB_ORXDB_H_
#define PLATFORM_ORXDB_ORXDB_H_

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

// Numbers held by orx_error.
enum {
  ORX_OK = 0,
  ORX_ENONAME = 1,    // ORX_NAME is not set, empty, or not a valid database name
  ORX_ENODB = 2,      // the database does not exist
  ORX_EBADDB = 3,     // the file is not a management database, or cannot be opened
  ORX_ENOTOPEN = 4,   // no database is open in this process
  ORX_ENOTFOUND = 5,  // no element (or view) of that name
  ORX_EINVAL = 6,     // a null or unfilled argument, or a non-zero flags argument
  ORX_EBUSY = 7,      // a writer held the database longer than the wait allows
  ORX_EIO = 8,        // any other SQLite failure (I/O, corruption)
  ORX_ENOMEM = 9,     // memory is short
};

// Number of the last failure (ORX_E*), 0 before the first one.
extern int orx_error;

// Short English text for an ORX_E* number ("element not found"); never null.
const char* orxdb_strerror(int error);

// Longest element name and property text, and longest type and property name,
// in bytes without the terminating NUL.  The loader refuses longer ones.
enum { ORXDB_NAME_MAX = 255, ORXDB_TYPE_MAX = 127, ORXDB_TEXT_MAX = 255 };

// One element, filled by orxdb_read().  Caller-owned (on the stack is fine);
// it holds no resources and needs no release.  The other calls take it as
// their first argument.
typedef struct orxdb_buffer {
  int64_t id;                        // 0: nothing read (the read failed)
  uint64_t serial;                   // which read of this process filled it
  char name[ORXDB_NAME_MAX + 1];
  char type[ORXDB_TYPE_MAX + 1];
} orxdb_buffer;

// A property value, returned by value.  An integer property fills i64 (so i32
// and u32 hold its 32-bit word and i16 and u16 its low 16 bits on this
// little-endian host); a text property fills text, which points to storage of
// the library valid until the next orxdb_read() in this process.  A property
// that is absent is all zero: a null text and integer 0.  Which member to read
// is what orxdb_get_property_kind() says (a text property read as an integer
// gives the pointer's bits; an integer read as text is not a pointer).
typedef union orxdb_value {
  int16_t i16;
  uint16_t u16;
  int32_t i32;
  uint32_t u32;
  int64_t i64;
  const char* text;
  unsigned char bytes[16];
} orxdb_value;

// Directory that holds the databases: "/var/opt/ZEPHline/orx/db" mapped below
// $OVI_ROOT.  The text is the library's, valid until the next call.
const char* orxdb_dir(void);

// Opens the database named by ORX_NAME read-only, closing one opened before
// by this process.  Non-zero on success; 0 with orx_error set otherwise (and
// then no database is open).
int orxdb_open(void);

// Closes the open database, if any, and releases the library's storage.
void orxdb_close(void);

// Keeps the open database the one that ORX_NAME names now: when its file was
// replaced since it was opened (dropped and loaded again, or another file
// renamed over it) the database is opened anew; when it was removed, it is
// closed (reads fail with ORX_ENOTOPEN) until a file of that name appears.
// A long-running reader calls it once per unit of work (a report): it costs
// a status call and one read of the file's change counter, and until the
// next call what earlier reads found is not checked against the file again:
// a commit made meanwhile shows in those elements from the next unit on.
// Non-zero when a database is open afterwards.
int orxdb_refresh(void);

// Fills *buffer with the element `name`.  Non-zero when it exists; 0 with
// orx_error set otherwise (ORX_ENOTFOUND when there is no such element), and
// then *buffer is marked unfilled.  Ends the validity of earlier property texts.
int orxdb_read(const char* name, orxdb_buffer* buffer);

// The element's type (a view's begins "view.", a connection's "connection"),
// pointing into *buffer; null when the buffer is unfilled.
const char* orxdb_get_element_type(orxdb_buffer* buffer);

// The element's property `name` (see orxdb_value).  `flags` must be 0.
orxdb_value orxdb_get_property(orxdb_buffer* buffer, const char* name, int flags);

// What kind of value the element's property `name` holds, so that callers
// read the right member of orxdb_value.
enum {
  ORXDB_PROPERTY_ABSENT = 0,   // no such property (or the buffer is unfilled)
  ORXDB_PROPERTY_INTEGER = 1,  // read i64 (or its narrower members)
  ORXDB_PROPERTY_TEXT = 2,     // read text
};
int orxdb_get_property_kind(orxdb_buffer* buffer, const char* name);

// Non-zero and the three integers filled when the element has a colour.
int orxdb_get_color(orxdb_buffer* buffer, int* red, int* green, int* blue);

// Non-zero and the five integers filled when the element has a placement in
// the view named `view` (x, y, z, x1, y1; the daemon sends all but z).  0 when
// it is not in that view or is in it without a placement.
int orxdb_get_view(orxdb_buffer* buffer, const char* view,
                   int* x, int* y, int* z, int* x1, int* y1);

// Non-zero when the element has the agent `agent`: *indicator is set, and
// text (a 256-byte buffer of the caller) receives the agent's text, at most
// ORXDB_TEXT_MAX bytes and a NUL; an empty text when the agent has none.
int orxdb_get_agent(orxdb_buffer* buffer, const char* agent, int* indicator, char* text);

// The names of the views that contain the element, of its connections and of
// its agents, in the order they were loaded, as a null-terminated array
// released with orxdb_free_list(); null when there are none (or on failure,
// with orx_error set).
char** orxdb_enumerate_views(orxdb_buffer* buffer);
char** orxdb_enumerate_connections(orxdb_buffer* buffer);
char** orxdb_enumerate_agents(orxdb_buffer* buffer);

// Releases a list of the enumerate calls; null is allowed.
void orxdb_free_list(char** list);

// Iteration over the elements of a view in the order they were loaded.  The
// names are taken when the enumeration opens, so it holds no lock while the
// caller walks it.  `flags` must be 0.  Returns a handle (for an empty view
// too), or null with orx_error set (ORX_ENOTFOUND when there is no element
// of that name).
typedef struct orxdb_enumeration orxdb_enumeration;
orxdb_enumeration* orxdb_enumerate_elements(const char* view, int flags);

// Next element name, valid until the handle is released; null at the end.
const char* orxdb_get_next_element(orxdb_enumeration* handle);

// Releases the handle; null is allowed.
void orxdb_free_enumeration_handle(orxdb_enumeration* handle);

#ifdef __cplusplus
}
#endif

#endif  // PLATFORM_ORXDB_ORXDB_H_
