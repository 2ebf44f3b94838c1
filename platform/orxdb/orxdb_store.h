// The storage of a management database: its file, its SQLite schema, and how
// the library's readers and the loader open it.  Internal to the library and
// its tools.
//
// Locking: the files use SQLite's rollback journal, so a reader holds a shared
// lock only while one statement runs and a writer commits a whole load at
// once.  Both sides wait for each other through a busy timeout instead of
// failing.  A new database is built under a private name and linked into
// place, so no process ever sees a half-created one.
#ifndef PLATFORM_ORXDB_ORXDB_STORE_H_
#define PLATFORM_ORXDB_ORXDB_STORE_H_

#include <sqlite3.h>
#include <sys/stat.h>

#include <string>

// How long a reader waits for a writer's commit, and a writer for readers
// and other writers, before giving up (milliseconds).
enum { ORXDB_READ_WAIT_MS = 10000, ORXDB_WRITE_WAIT_MS = 30000 };

// Longest database name accepted, in bytes.
enum { ORXDB_DBNAME_MAX = 128 };

// Owns one SQLite connection; closes it when destroyed.
class OrxdbConn {
 public:
  OrxdbConn() : db_(nullptr) {}
  ~OrxdbConn() { reset(nullptr); }
  OrxdbConn(const OrxdbConn&) = delete;
  OrxdbConn& operator=(const OrxdbConn&) = delete;
  sqlite3* get() const { return db_; }
  void reset(sqlite3* db);
  // Gives up ownership without closing (for a connection inherited across fork).
  sqlite3* release() { sqlite3* db = db_; db_ = nullptr; return db; }

 private:
  sqlite3* db_;
};

// Owns one prepared statement; finalizes it when destroyed.
class OrxdbStmt {
 public:
  OrxdbStmt() : stmt_(nullptr) {}
  ~OrxdbStmt() { sqlite3_finalize(stmt_); }
  OrxdbStmt(const OrxdbStmt&) = delete;
  OrxdbStmt& operator=(const OrxdbStmt&) = delete;
  // Compiles sql on db; SQLITE_OK or the SQLite error code.
  int prepare(sqlite3* db, const char* sql);
  sqlite3_stmt* get() const { return stmt_; }
  // Gives up ownership without finalizing (see OrxdbConn::release).
  void release() { stmt_ = nullptr; }

 private:
  sqlite3_stmt* stmt_;
};

// Resets a statement and clears its bindings when the scope ends, so that a
// cached statement never keeps a lock on the file between calls.
class OrxdbStmtScope {
 public:
  explicit OrxdbStmtScope(sqlite3_stmt* stmt) : stmt_(stmt) {}
  ~OrxdbStmtScope() {
    sqlite3_reset(stmt_);
    sqlite3_clear_bindings(stmt_);
  }
  OrxdbStmtScope(const OrxdbStmtScope&) = delete;
  OrxdbStmtScope& operator=(const OrxdbStmtScope&) = delete;

 private:
  sqlite3_stmt* stmt_;
};

// The ORX_E* number for a SQLite result code.
int orxdb_errorFromSqlite(int rc);

// 1 when `name` can name a database: not empty, at most ORXDB_DBNAME_MAX
// bytes, no '/' and no control character.
int orxdb_validName(const char* name);

// The database directory, "/var/opt/ZEPHline/orx/db" mapped below $OVI_ROOT.
std::string orxdb_dirPath();

// Path of the file of database `name` ("<orxdb_dir()>/db.<name>").
std::string orxdb_path(const char* name);

// Opens the existing database `name`: read-only unless `writable`.  Checks
// that the file is a regular file (a FIFO or a device would hold the opener)
// and a management database.  Returns ORX_OK with *conn holding the
// connection, or an ORX_E* number with *detail saying why.  With `file`, it
// receives the status of the file the name stood for when it was opened.
int orxdb_connect(const char* name, int writable, OrxdbConn* conn, std::string* detail,
                  struct stat* file = nullptr);

// Result of orxdb_install.
enum OrxdbInstall { ORXDB_INSTALLED, ORXDB_EXISTS, ORXDB_INSTALL_FAILED };

// Creates database `name` if it does not exist.  The database is built in a
// private file: its schema, then whatever fill(db, arg, detail) adds (fill
// may be null; it returns 1, or 0 with *detail set), in one transaction;
// then it is linked into place unless db.NAME exists by then.  Creates the
// database directory when it is missing.  On any outcome the private file is
// gone afterwards.
typedef int (*OrxdbFill)(sqlite3* db, void* arg, std::string* detail);
OrxdbInstall orxdb_install(const char* name, OrxdbFill fill, void* arg, std::string* detail);

// Runs sql (no results expected) on db; SQLITE_OK or the SQLite error code,
// with *detail set to SQLite's message on failure when detail is not null.
int orxdb_exec(sqlite3* db, const char* sql, std::string* detail);

#endif  // PLATFORM_ORXDB_ORXDB_STORE_H_
