#include "orxdb/orxdb_store.h"

#include <errno.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "orxdb/orxdb.h"
#include "tessel/tessel_config.h"
#include "tessel/tessel_file.h"

namespace {

const char* const kDatabaseDir = "/var/opt/ZEPHline/orx/db";

// Marks the file as ours ("ORXD") and gives the layout's version, so that
// any other SQLite file named db.N is refused instead of misread.
const int kApplicationId = 0x4F525844;
const int kSchemaVersion = 1;

// Every table keeps its rows in load order by its `seq` column: rows are
// never deleted, so a new row's seq is always the largest.
const char* const kSchema =
    "CREATE TABLE element("
    " seq INTEGER PRIMARY KEY,"
    " name TEXT NOT NULL UNIQUE,"
    " type TEXT NOT NULL,"
    " red INTEGER, green INTEGER, blue INTEGER);"
    // value has no declared type so that SQLite keeps it as loaded: an
    // INTEGER for a number, TEXT for a text.
    "CREATE TABLE property("
    " seq INTEGER PRIMARY KEY,"
    " element INTEGER NOT NULL,"
    " name TEXT NOT NULL,"
    " value,"
    " UNIQUE(element, name));"
    "CREATE TABLE member("
    " seq INTEGER PRIMARY KEY,"
    " element INTEGER NOT NULL,"
    " view INTEGER NOT NULL,"
    " placed INTEGER NOT NULL,"
    " x INTEGER, y INTEGER, z INTEGER, x1 INTEGER, y1 INTEGER,"
    " UNIQUE(element, view));"
    "CREATE INDEX member_by_view ON member(view, seq);"
    "CREATE TABLE connection("
    " seq INTEGER PRIMARY KEY,"
    " element INTEGER NOT NULL,"
    " connection INTEGER NOT NULL,"
    " UNIQUE(element, connection));"
    "CREATE TABLE agent("
    " seq INTEGER PRIMARY KEY,"
    " element INTEGER NOT NULL,"
    " name TEXT NOT NULL,"
    " indicator INTEGER NOT NULL,"
    " text TEXT,"
    " UNIQUE(element, name));";

// One integer of a PRAGMA query, or -1.
long pragmaValue(sqlite3* db, const char* sql, int* rc) {
  OrxdbStmt stmt;
  *rc = stmt.prepare(db, sql);
  if (*rc != SQLITE_OK) return -1;
  *rc = sqlite3_step(stmt.get());
  if (*rc != SQLITE_ROW) return -1;
  *rc = SQLITE_OK;
  return static_cast<long>(sqlite3_column_int64(stmt.get(), 0));
}

// Removes the private file of a build and a journal it may have left.
void removeBuildFile(const std::string& path) {
  unlink(path.c_str());
  unlink((path + "-journal").c_str());
}

}  // namespace

void OrxdbConn::reset(sqlite3* db) {
  if (db_ != nullptr) sqlite3_close_v2(db_);
  db_ = db;
}

int OrxdbStmt::prepare(sqlite3* db, const char* sql) {
  sqlite3_finalize(stmt_);
  stmt_ = nullptr;
  return sqlite3_prepare_v3(db, sql, -1, SQLITE_PREPARE_PERSISTENT, &stmt_, nullptr);
}

int orxdb_errorFromSqlite(int rc) {
  switch (rc & 0xff) {
    case SQLITE_OK:
    case SQLITE_ROW:
    case SQLITE_DONE:
      return ORX_OK;
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
      return ORX_EBUSY;
    case SQLITE_NOMEM:
      return ORX_ENOMEM;
    case SQLITE_NOTADB:
      return ORX_EBADDB;
    default:
      return ORX_EIO;
  }
}

int orxdb_validName(const char* name) {
  if (name == nullptr || name[0] == '\0') return 0;
  size_t n = 0;
  for (const char* p = name; *p != '\0'; p++, n++) {
    unsigned char c = static_cast<unsigned char>(*p);
    if (c == '/' || c < 0x20 || c == 0x7f || n >= ORXDB_DBNAME_MAX) return 0;
  }
  return 1;
}

std::string orxdb_dirPath() { return tessel_path(kDatabaseDir); }

std::string orxdb_path(const char* name) { return orxdb_dirPath() + "/db." + name; }

int orxdb_exec(sqlite3* db, const char* sql, std::string* detail) {
  char* message = nullptr;
  int rc = sqlite3_exec(db, sql, nullptr, nullptr, &message);
  if (rc != SQLITE_OK && detail != nullptr)
    *detail = message != nullptr ? message : sqlite3_errstr(rc);
  sqlite3_free(message);
  return rc;
}

int orxdb_connect(const char* name, int writable, OrxdbConn* conn, std::string* detail,
                  struct stat* file) {
  if (!orxdb_validName(name)) {
    *detail = "bad database name";
    return ORX_ENONAME;
  }
  std::string path = orxdb_path(name);
  struct stat st;
  if (stat(path.c_str(), &st) != 0) {
    *detail = errno == ENOENT ? "no database " + std::string(name) : path + ": " + strerror(errno);
    return errno == ENOENT ? ORX_ENODB : ORX_EBADDB;
  }
  if (!S_ISREG(st.st_mode)) {
    *detail = path + ": not a regular file";
    return ORX_EBADDB;
  }
  if (file != nullptr) *file = st;
  sqlite3* db = nullptr;
  int flags = writable ? SQLITE_OPEN_READWRITE : SQLITE_OPEN_READONLY;
  int rc = sqlite3_open_v2(path.c_str(), &db, flags, nullptr);
  conn->reset(db);  // a failed open still returns a handle to close
  if (rc != SQLITE_OK) {
    *detail = path + ": " + (db != nullptr ? sqlite3_errmsg(db) : sqlite3_errstr(rc));
    return ORX_EBADDB;
  }
  sqlite3_busy_timeout(db, writable ? ORXDB_WRITE_WAIT_MS : ORXDB_READ_WAIT_MS);
  long app = pragmaValue(db, "PRAGMA application_id", &rc);
  long version = rc == SQLITE_OK ? pragmaValue(db, "PRAGMA user_version", &rc) : -1;
  if (rc != SQLITE_OK) {
    *detail = path + ": " + sqlite3_errmsg(db);
    conn->reset(nullptr);
    return orxdb_errorFromSqlite(rc);
  }
  if (app != kApplicationId || version != kSchemaVersion) {
    *detail = path + ": not a management database";
    conn->reset(nullptr);
    return ORX_EBADDB;
  }
  // A load keeps its whole transaction in memory, so that readers are shut
  // out only while it commits.
  if (writable) orxdb_exec(db, "PRAGMA cache_size = -65536", nullptr);
  return ORX_OK;
}

OrxdbInstall orxdb_install(const char* name, OrxdbFill fill, void* arg, std::string* detail) {
  if (!orxdb_validName(name)) {
    *detail = "bad database name";
    return ORXDB_INSTALL_FAILED;
  }
  std::string dir = orxdb_dirPath();
  std::string path = orxdb_path(name);
  struct stat st;
  if (stat(path.c_str(), &st) == 0) return ORXDB_EXISTS;
  if (!tessel_make_directories(dir)) {
    *detail = dir + ": " + strerror(errno);
    return ORXDB_INSTALL_FAILED;
  }
  // The private name does not begin with "db.", so nobody takes it for a database.
  std::string build = dir + "/.new." + std::to_string(getpid()) + "." + name;
  removeBuildFile(build);

  OrxdbConn conn;
  sqlite3* db = nullptr;
  int rc = sqlite3_open_v2(build.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
  conn.reset(db);
  if (rc != SQLITE_OK) {
    *detail = build + ": " + (db != nullptr ? sqlite3_errmsg(db) : sqlite3_errstr(rc));
    removeBuildFile(build);
    return ORXDB_INSTALL_FAILED;
  }
  orxdb_exec(db, "PRAGMA cache_size = -65536", nullptr);
  std::string header = "PRAGMA application_id = " + std::to_string(kApplicationId) +
                       "; PRAGMA user_version = " + std::to_string(kSchemaVersion) + ";";
  int ok = orxdb_exec(db, "BEGIN", detail) == SQLITE_OK &&
           orxdb_exec(db, header.c_str(), detail) == SQLITE_OK &&
           orxdb_exec(db, kSchema, detail) == SQLITE_OK &&
           (fill == nullptr || fill(db, arg, detail)) &&
           orxdb_exec(db, "COMMIT", detail) == SQLITE_OK;
  if (!ok) orxdb_exec(db, "ROLLBACK", nullptr);
  conn.reset(nullptr);
  if (!ok) {
    removeBuildFile(build);
    return ORXDB_INSTALL_FAILED;
  }
  OrxdbInstall result = ORXDB_INSTALLED;
  // link() never replaces an existing file: of two concurrent creators one wins.
  if (link(build.c_str(), path.c_str()) != 0) {
    if (errno == EEXIST) {
      result = ORXDB_EXISTS;
    } else {
      *detail = path + ": " + strerror(errno);
      result = ORXDB_INSTALL_FAILED;
    }
  }
  removeBuildFile(build);
  return result;
}
