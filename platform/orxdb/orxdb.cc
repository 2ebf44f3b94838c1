#include "orxdb/orxdb.h"

#include <pthread.h>
#include <sys/stat.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <deque>
#include <new>
#include <string>
#include <unordered_map>
#include <vector>

#include "orxdb/orxdb_store.h"

static_assert(sizeof(orxdb_value) == 16, "a property value is 16 bytes");
static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__,
              "orxdb_value keeps an integer's low 16 and 32 bits in its first bytes");

int orx_error = ORX_OK;

namespace {

// The queries of the read calls, compiled once per connection.  Every
// statement is a lock round trip on the file, so a read gathers all of an
// element in one transaction.
enum Query {
  Q_BEGIN, Q_COMMIT, Q_ROLLBACK,
  Q_ELEMENT, Q_COLOR, Q_PROPERTIES, Q_VIEWS, Q_CONNECTIONS, Q_AGENTS, Q_VIEW_MEMBERS,
  Q_COUNT
};

const char* const kQueries[Q_COUNT] = {
    "BEGIN",
    "COMMIT",
    "ROLLBACK",
    "SELECT seq, type FROM element WHERE name = ?1",
    "SELECT red, green, blue FROM element WHERE seq = ?1 AND red IS NOT NULL",
    "SELECT name, value FROM property WHERE element = ?1 ORDER BY seq",
    "SELECT v.name, m.placed, m.x, m.y, m.z, m.x1, m.y1 FROM member m"
    " JOIN element v ON v.seq = m.view WHERE m.element = ?1 ORDER BY m.seq",
    "SELECT c.name FROM connection k JOIN element c ON c.seq = k.connection"
    " WHERE k.element = ?1 ORDER BY k.seq",
    "SELECT name, indicator, text FROM agent WHERE element = ?1 ORDER BY seq",
    "SELECT e.name FROM member m JOIN element e ON e.seq = m.element"
    " WHERE m.view = ?1 ORDER BY m.seq",
};

struct Property {
  std::string name;
  bool isText;
  int64_t number;
  std::string text;
};

struct Placement {
  std::string view;
  bool placed;
  int at[5];
};

struct Agent {
  std::string name;
  int indicator;
  std::string text;
};

// Everything about one element, read in one transaction.
struct Snapshot {
  uint64_t serial = 0;  // the buffer's serial it answers for
  bool hasColor = false;
  int color[3] = {0, 0, 0};
  std::vector<Property> properties;
  std::vector<Placement> views;
  std::vector<std::string> connections;
  std::vector<Agent> agents;
};

// An element as an earlier read found it (or found it missing).
struct KnownElement {
  int64_t id = 0;  // 0: no element of that name
  std::string type;
  Snapshot snap;
};

// Elements kept per database state.  SQLite changes the file's change
// counter with every commit, writing the header page first; while the
// counter read without a lock is still the one read under the lock that
// filled the cache, the file holds what the cache holds.  A read then costs
// one read of those four bytes instead of a transaction (a round of file
// locks and journal checks) and six queries.
enum { kKnownLimit = 512 };

// The open database of this process.
struct Reader {
  bool inherited = false;  // opened by a parent process before fork()
  uint64_t firstSerial = 0;  // buffers filled before this open are refused
  OrxdbConn conn;
  OrxdbStmt stmts[Q_COUNT];
  // Snapshots taken since the last orxdb_read; the texts handed out point
  // into them (a deque never moves its elements).
  std::deque<Snapshot> snapshots;
  sqlite3_file* file = nullptr;  // the database file, for its change counter
  bool knownValid = false;       // `known` holds the state of `knownCounter`
  uint32_t knownCounter = 0;
  // orxdb_refresh() found the file at `knownCounter`: reads until the next
  // refresh take `known` without reading the counter again.
  bool counterChecked = false;
  std::unordered_map<std::string, KnownElement> known;
};

Reader* reader = nullptr;
uint64_t lastSerial = 0;

// Which file ORX_NAME's path named when this process last opened the
// database or looked at the path: a refresh acts only when that changes.  An
// open file keeps its inode, so a file put in its place always differs.
struct FileIdentity {
  bool known = false;
  bool present = false;
  dev_t dev = 0;
  ino_t ino = 0;

  static FileIdentity of(const struct stat* st) {
    FileIdentity id;
    id.known = true;
    id.present = st != nullptr;
    if (st != nullptr) {
      id.dev = st->st_dev;
      id.ino = st->st_ino;
    }
    return id;
  }
  bool operator==(const FileIdentity& o) const {
    return known == o.known && present == o.present && dev == o.dev && ino == o.ino;
  }
};
FileIdentity lastSeen;

// Connections inherited from a parent process, kept reachable and never used.
std::vector<sqlite3*> inheritedConnections;

// Runs in the child after fork(): SQLite connections must not be shared
// between processes, so the child's copy goes out of use.
void markInherited() {
  if (reader != nullptr) reader->inherited = true;
}

const char* columnText(sqlite3_stmt* stmt, int i) {
  const char* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt, i));
  return text != nullptr ? text : "";
}

// The statement for q, compiled on first use; null with orx_error set when
// no database is open or compiling fails.
sqlite3_stmt* statement(Query q) {
  if (reader == nullptr || reader->inherited) {
    orx_error = ORX_ENOTOPEN;
    return nullptr;
  }
  OrxdbStmt& stmt = reader->stmts[q];
  if (stmt.get() == nullptr) {
    int rc = stmt.prepare(reader->conn.get(), kQueries[q]);
    if (rc != SQLITE_OK) {
      orx_error = orxdb_errorFromSqlite(rc);
      return nullptr;
    }
  }
  return stmt.get();
}

// Steps a statement: 1 for a row, 0 at the end, -1 on failure (orx_error set).
int step(sqlite3_stmt* stmt) {
  int rc = sqlite3_step(stmt);
  if (rc == SQLITE_ROW) return 1;
  if (rc == SQLITE_DONE) return 0;
  orx_error = orxdb_errorFromSqlite(rc);
  return -1;
}

// Runs one statement without results; 1 on success.
int run(Query q) {
  sqlite3_stmt* stmt = statement(q);
  if (stmt == nullptr) return 0;
  OrxdbStmtScope scope(stmt);
  return step(stmt) == 0;
}

// One read transaction: the statements run inside it see one state of the
// file.  It ends when the scope does (commit() or, on failure, rollback).
class ReadTransaction {
 public:
  ReadTransaction() : open_(run(Q_BEGIN)) {}
  ~ReadTransaction() {
    if (!open_) return;
    int error = orx_error;  // the failure that ended the transaction is the one to report
    run(Q_ROLLBACK);
    orx_error = error;
  }
  ReadTransaction(const ReadTransaction&) = delete;
  ReadTransaction& operator=(const ReadTransaction&) = delete;
  int ok() const { return open_; }
  int commit() {
    open_ = 0;
    return run(Q_COMMIT);
  }

 private:
  int open_;
};

// Runs q bound to an element id and calls row(stmt) for each row; 1 on success.
template <typename Row>
int eachRow(Query q, int64_t id, Row row) {
  sqlite3_stmt* stmt = statement(q);
  if (stmt == nullptr) return 0;
  OrxdbStmtScope scope(stmt);
  sqlite3_bind_int64(stmt, 1, id);
  int r;
  while ((r = step(stmt)) == 1) row(stmt);
  return r == 0;
}

// The change counter of the database file (big-endian, bytes 24-27 of its
// header); 0 when it cannot be read, or when the file is in write-ahead-log
// mode (header bytes 18 and 19 are 2), whose commits leave the counter alone.
int changeCounter(uint32_t* counter) {
  sqlite3_file* f = reader->file;
  unsigned char b[10];  // header bytes 18 to 27
  if (f == nullptr || f->pMethods == nullptr || f->pMethods->xRead(f, b, 10, 18) != SQLITE_OK ||
      b[0] != 1 || b[1] != 1)
    return 0;
  *counter = static_cast<uint32_t>(b[6]) << 24 | static_cast<uint32_t>(b[7]) << 16 |
             static_cast<uint32_t>(b[8]) << 8 | b[9];
  return 1;
}

// Remembers what a read found under the lock that saw `counter`.
void remember(uint32_t counter, const char* name, const KnownElement& e) {
  if (!reader->knownValid || reader->knownCounter != counter) {
    reader->known.clear();
    reader->knownCounter = counter;
    reader->knownValid = true;
  }
  if (reader->known.size() < kKnownLimit) reader->known[name] = e;
}

// Fills *snap with the details of element id inside the caller's transaction.
int readDetails(int64_t id, Snapshot* snap) {
  return eachRow(Q_COLOR, id, [snap](sqlite3_stmt* s) {
           snap->hasColor = true;
           for (int i = 0; i < 3; i++) snap->color[i] = sqlite3_column_int(s, i);
         }) &&
         eachRow(Q_PROPERTIES, id, [snap](sqlite3_stmt* s) {
           Property p;
           p.name = columnText(s, 0);
           p.isText = sqlite3_column_type(s, 1) == SQLITE_TEXT;
           p.number = p.isText ? 0 : sqlite3_column_int64(s, 1);
           if (p.isText) p.text = columnText(s, 1);
           snap->properties.push_back(std::move(p));
         }) &&
         eachRow(Q_VIEWS, id, [snap](sqlite3_stmt* s) {
           Placement v;
           v.view = columnText(s, 0);
           v.placed = sqlite3_column_int(s, 1) != 0;
           for (int i = 0; i < 5; i++) v.at[i] = sqlite3_column_int(s, 2 + i);
           snap->views.push_back(std::move(v));
         }) &&
         eachRow(Q_CONNECTIONS, id, [snap](sqlite3_stmt* s) {
           snap->connections.push_back(columnText(s, 0));
         }) &&
         eachRow(Q_AGENTS, id, [snap](sqlite3_stmt* s) {
           snap->agents.push_back(Agent{columnText(s, 0), sqlite3_column_int(s, 1),
                                        columnText(s, 2)});
         });
}

// Looks up an element inside the caller's transaction: 1 with *id and the
// type copied; 0 when missing (ORX_ENOTFOUND) or on failure.
int findElement(const char* name, int64_t* id, char* type, size_t typeSize) {
  sqlite3_stmt* stmt = statement(Q_ELEMENT);
  if (stmt == nullptr) return 0;
  OrxdbStmtScope scope(stmt);
  sqlite3_bind_text(stmt, 1, name, -1, SQLITE_STATIC);
  int r = step(stmt);
  if (r <= 0) {
    if (r == 0) orx_error = ORX_ENOTFOUND;
    return 0;
  }
  *id = sqlite3_column_int64(stmt, 0);
  if (type != nullptr) snprintf(type, typeSize, "%s", columnText(stmt, 1));
  return 1;
}

// The snapshot that answers for buffer, taken now when there is none; null
// with orx_error set when the buffer is unfilled, stale or the read fails.
const Snapshot* snapshotOf(const orxdb_buffer* buffer) {
  if (buffer == nullptr || buffer->id <= 0) {
    orx_error = ORX_EINVAL;
    return nullptr;
  }
  if (reader == nullptr || reader->inherited) {
    orx_error = ORX_ENOTOPEN;
    return nullptr;
  }
  if (buffer->serial < reader->firstSerial || buffer->serial > lastSerial) {
    orx_error = ORX_EINVAL;  // filled from another database
    return nullptr;
  }
  for (const Snapshot& s : reader->snapshots)
    if (s.serial == buffer->serial) return &s;
  Snapshot snap;
  snap.serial = buffer->serial;
  ReadTransaction txn;
  if (!txn.ok() || !readDetails(buffer->id, &snap) || !txn.commit()) return nullptr;
  reader->snapshots.push_back(std::move(snap));
  return &reader->snapshots.back();
}

// Packs names into one heap block: the null-terminated pointer array
// followed by the texts, so that one free() releases everything.
template <typename Names, typename NameOf>
char** packList(const Names& items, NameOf nameOf) {
  size_t bytes = (items.size() + 1) * sizeof(char*);
  for (const auto& item : items) bytes += nameOf(item).size() + 1;
  char** list = static_cast<char**>(malloc(bytes));
  if (list == nullptr) {
    orx_error = ORX_ENOMEM;
    return nullptr;
  }
  char* text = reinterpret_cast<char*>(list + items.size() + 1);
  size_t i = 0;
  for (const auto& item : items) {
    const std::string& name = nameOf(item);
    list[i++] = text;
    memcpy(text, name.c_str(), name.size() + 1);
    text += name.size() + 1;
  }
  list[i] = nullptr;
  return list;
}

const std::string& itself(const std::string& s) { return s; }

}  // namespace

struct orxdb_enumeration {
  char** names;
  size_t next;
};

const char* orxdb_strerror(int error) {
  switch (error) {
    case ORX_OK: return "no error";
    case ORX_ENONAME: return "no valid database name in ORX_NAME";
    case ORX_ENODB: return "database does not exist";
    case ORX_EBADDB: return "not a management database";
    case ORX_ENOTOPEN: return "no database open";
    case ORX_ENOTFOUND: return "element not found";
    case ORX_EINVAL: return "invalid argument";
    case ORX_EBUSY: return "database busy";
    case ORX_EIO: return "database I/O error";
    case ORX_ENOMEM: return "out of memory";
    default: return "unknown error";
  }
}

const char* orxdb_dir(void) {
  static std::string dir;
  dir = orxdb_dirPath();
  return dir.c_str();
}

void orxdb_close(void) {
  if (reader == nullptr) return;
  // A connection opened by the parent process belongs to it: closing it here
  // could release the parent's file locks, so the child only forgets it.
  if (reader->inherited) {
    for (OrxdbStmt& s : reader->stmts) s.release();
    inheritedConnections.push_back(reader->conn.release());
  }
  delete reader;
  reader = nullptr;
}

int orxdb_open(void) {
  static bool forkHandler = false;
  if (!forkHandler && pthread_atfork(nullptr, nullptr, markInherited) == 0) forkHandler = true;
  orxdb_close();
  const char* name = getenv("ORX_NAME");
  if (name == nullptr || !orxdb_validName(name)) {
    orx_error = ORX_ENONAME;
    return 0;
  }
  Reader* r = new (std::nothrow) Reader;
  if (r == nullptr) {
    orx_error = ORX_ENOMEM;
    return 0;
  }
  r->firstSerial = lastSerial + 1;
  std::string detail;
  struct stat st;
  int error = orxdb_connect(name, 0, &r->conn, &detail, &st);
  if (error != ORX_OK) {
    delete r;
    orx_error = error;
    return 0;
  }
  lastSeen = FileIdentity::of(&st);
  // Without the file there is no counter, and every read is a transaction.
  if (sqlite3_file_control(r->conn.get(), "main", SQLITE_FCNTL_FILE_POINTER, &r->file) !=
      SQLITE_OK)
    r->file = nullptr;
  reader = r;
  return 1;
}

int orxdb_refresh(void) {
  bool open = reader != nullptr && !reader->inherited;
  const char* name = getenv("ORX_NAME");
  if (name == nullptr || !orxdb_validName(name)) return open;
  struct stat st;
  FileIdentity now = FileIdentity::of(stat(orxdb_path(name).c_str(), &st) == 0 ? &st : nullptr);
  if (now == lastSeen) {
    // The same file: what the process keeps of it is checked once here for
    // the whole unit of work, not at each read.
    uint32_t counter;
    if (open)
      reader->counterChecked =
          reader->knownValid && changeCounter(&counter) && counter == reader->knownCounter;
    return open;
  }
  // Taken before trying, so that a file that cannot be opened is tried
  // again only once it changes, not at every call.
  lastSeen = now;
  if (!now.present) {
    orxdb_close();
    return 0;
  }
  return orxdb_open();
}

int orxdb_read(const char* name, orxdb_buffer* buffer) {
  if (buffer == nullptr || name == nullptr) {
    orx_error = ORX_EINVAL;
    return 0;
  }
  buffer->id = 0;
  buffer->serial = 0;
  buffer->name[0] = '\0';
  buffer->type[0] = '\0';
  if (reader == nullptr || reader->inherited) {
    orx_error = ORX_ENOTOPEN;
    return 0;
  }
  reader->snapshots.clear();
  if (strlen(name) > ORXDB_NAME_MAX) {
    orx_error = ORX_ENOTFOUND;
    return 0;
  }
  uint32_t counter = 0;
  if (reader->knownValid && (reader->counterChecked ||
                             (changeCounter(&counter) && counter == reader->knownCounter))) {
    auto it = reader->known.find(name);
    if (it != reader->known.end()) {
      const KnownElement& e = it->second;
      if (e.id == 0) {
        orx_error = ORX_ENOTFOUND;
        return 0;
      }
      snprintf(buffer->name, sizeof buffer->name, "%s", name);
      snprintf(buffer->type, sizeof buffer->type, "%s", e.type.c_str());
      buffer->id = e.id;
      buffer->serial = ++lastSerial;
      reader->snapshots.push_back(e.snap);
      reader->snapshots.back().serial = buffer->serial;
      return 1;
    }
  }
  KnownElement e;
  ReadTransaction txn;
  if (!txn.ok()) return 0;
  int found = findElement(name, &e.id, buffer->type, sizeof buffer->type);
  // The first query took the lock: the counter now names what the
  // transaction sees.
  bool counted = changeCounter(&counter);
  if (!found) {
    if (orx_error != ORX_ENOTFOUND) return 0;
    e.id = 0;
    if (txn.commit() && counted) remember(counter, name, e);
    orx_error = ORX_ENOTFOUND;
    return 0;
  }
  if (!readDetails(e.id, &e.snap) || !txn.commit()) return 0;
  e.type = buffer->type;
  if (counted) remember(counter, name, e);
  snprintf(buffer->name, sizeof buffer->name, "%s", name);
  buffer->id = e.id;
  buffer->serial = e.snap.serial = ++lastSerial;
  reader->snapshots.push_back(std::move(e.snap));
  return 1;
}

const char* orxdb_get_element_type(orxdb_buffer* buffer) {
  return buffer != nullptr && buffer->id > 0 ? buffer->type : nullptr;
}

orxdb_value orxdb_get_property(orxdb_buffer* buffer, const char* name, int flags) {
  orxdb_value value;
  memset(&value, 0, sizeof value);
  if (name == nullptr || flags != 0) {
    orx_error = ORX_EINVAL;
    return value;
  }
  const Snapshot* snap = snapshotOf(buffer);
  if (snap == nullptr) return value;
  for (const Property& p : snap->properties) {
    if (p.name != name) continue;
    if (p.isText)
      value.text = p.text.c_str();
    else
      value.i64 = p.number;
    break;
  }
  return value;
}

int orxdb_get_property_kind(orxdb_buffer* buffer, const char* name) {
  if (name == nullptr) {
    orx_error = ORX_EINVAL;
    return ORXDB_PROPERTY_ABSENT;
  }
  const Snapshot* snap = snapshotOf(buffer);
  if (snap == nullptr) return ORXDB_PROPERTY_ABSENT;
  for (const Property& p : snap->properties)
    if (p.name == name) return p.isText ? ORXDB_PROPERTY_TEXT : ORXDB_PROPERTY_INTEGER;
  return ORXDB_PROPERTY_ABSENT;
}

int orxdb_get_color(orxdb_buffer* buffer, int* red, int* green, int* blue) {
  const Snapshot* snap = snapshotOf(buffer);
  if (snap == nullptr || !snap->hasColor) return 0;
  if (red != nullptr) *red = snap->color[0];
  if (green != nullptr) *green = snap->color[1];
  if (blue != nullptr) *blue = snap->color[2];
  return 1;
}

int orxdb_get_view(orxdb_buffer* buffer, const char* view,
                   int* x, int* y, int* z, int* x1, int* y1) {
  if (view == nullptr) {
    orx_error = ORX_EINVAL;
    return 0;
  }
  const Snapshot* snap = snapshotOf(buffer);
  if (snap == nullptr) return 0;
  for (const Placement& v : snap->views) {
    if (v.view != view) continue;
    if (!v.placed) return 0;
    int* out[5] = {x, y, z, x1, y1};
    for (int i = 0; i < 5; i++)
      if (out[i] != nullptr) *out[i] = v.at[i];
    return 1;
  }
  return 0;
}

int orxdb_get_agent(orxdb_buffer* buffer, const char* agent, int* indicator, char* text) {
  if (agent == nullptr) {
    orx_error = ORX_EINVAL;
    return 0;
  }
  const Snapshot* snap = snapshotOf(buffer);
  if (snap == nullptr) return 0;
  for (const Agent& a : snap->agents) {
    if (a.name != agent) continue;
    if (indicator != nullptr) *indicator = a.indicator;
    if (text != nullptr) snprintf(text, ORXDB_TEXT_MAX + 1, "%s", a.text.c_str());
    return 1;
  }
  return 0;
}

char** orxdb_enumerate_views(orxdb_buffer* buffer) {
  const Snapshot* snap = snapshotOf(buffer);
  if (snap == nullptr || snap->views.empty()) return nullptr;
  return packList(snap->views, [](const Placement& v) -> const std::string& { return v.view; });
}

char** orxdb_enumerate_connections(orxdb_buffer* buffer) {
  const Snapshot* snap = snapshotOf(buffer);
  if (snap == nullptr || snap->connections.empty()) return nullptr;
  return packList(snap->connections, itself);
}

char** orxdb_enumerate_agents(orxdb_buffer* buffer) {
  const Snapshot* snap = snapshotOf(buffer);
  if (snap == nullptr || snap->agents.empty()) return nullptr;
  return packList(snap->agents, [](const Agent& a) -> const std::string& { return a.name; });
}

void orxdb_free_list(char** list) { free(list); }

orxdb_enumeration* orxdb_enumerate_elements(const char* view, int flags) {
  if (view == nullptr || flags != 0) {
    orx_error = ORX_EINVAL;
    return nullptr;
  }
  int64_t id;
  std::vector<std::string> names;
  {
    ReadTransaction txn;
    if (!txn.ok() || !findElement(view, &id, nullptr, 0) ||
        !eachRow(Q_VIEW_MEMBERS, id,
                 [&names](sqlite3_stmt* s) { names.push_back(columnText(s, 0)); }) ||
        !txn.commit())
      return nullptr;
  }
  orxdb_enumeration* handle =
      static_cast<orxdb_enumeration*>(malloc(sizeof(orxdb_enumeration)));
  char** list = handle != nullptr ? packList(names, itself) : nullptr;
  if (list == nullptr) {
    free(handle);
    orx_error = ORX_ENOMEM;
    return nullptr;
  }
  handle->names = list;
  handle->next = 0;
  return handle;
}

const char* orxdb_get_next_element(orxdb_enumeration* handle) {
  if (handle == nullptr) return nullptr;
  const char* name = handle->names[handle->next];
  if (name != nullptr) handle->next++;
  return name;
}

void orxdb_free_enumeration_handle(orxdb_enumeration* handle) {
  if (handle == nullptr) return;
  free(handle->names);
  free(handle);
}
