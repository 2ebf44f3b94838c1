// Creating, loading and dropping databases.
#include <errno.h>
#include <string.h>
#include <unistd.h>

#include <vector>

#include "orxdb/orxdb.h"
#include "orxdb/orxdb_admin.h"
#include "orxdb/orxdb_describe.h"
#include "orxdb/orxdb_store.h"

namespace {

enum LoaderQuery {
  L_FIND, L_ELEMENT, L_PROPERTY, L_COLOR, L_MEMBER, L_CONNECT, L_AGENT, L_COUNT
};

// Changes of an existing row keep its seq, so that it keeps its place.
const char* const kLoaderSql[L_COUNT] = {
    "SELECT seq, type FROM element WHERE name = ?1",
    "INSERT INTO element(name, type) VALUES(?1, ?2)",
    "INSERT INTO property(element, name, value) VALUES(?1, ?2, ?3)"
    " ON CONFLICT(element, name) DO UPDATE SET value = excluded.value",
    "UPDATE element SET red = ?2, green = ?3, blue = ?4 WHERE seq = ?1",
    "INSERT INTO member(element, view, placed, x, y, z, x1, y1)"
    " VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8)"
    " ON CONFLICT(element, view) DO UPDATE SET placed = excluded.placed,"
    " x = excluded.x, y = excluded.y, z = excluded.z, x1 = excluded.x1, y1 = excluded.y1",
    "INSERT INTO connection(element, connection) VALUES(?1, ?2)"
    " ON CONFLICT(element, connection) DO NOTHING",
    "INSERT INTO agent(element, name, indicator, text) VALUES(?1, ?2, ?3, ?4)"
    " ON CONFLICT(element, name) DO UPDATE SET indicator = excluded.indicator,"
    " text = excluded.text",
};

// What a load stores: the statements of one file and the label of its messages.
struct LoadJob {
  const char* label;
  const std::vector<OrxdbStatement>* statements;
};

// Applies statements to a database inside the caller's transaction.
class Loader {
 public:
  explicit Loader(sqlite3* db) : db_(db) {}

  // 1 when every statement was stored; 0 with *error set.
  int run(const LoadJob& job, std::string* error) {
    for (int q = 0; q < L_COUNT; q++)
      if (stmts_[q].prepare(db_, kLoaderSql[q]) != SQLITE_OK) return dbError(error);
    for (const OrxdbStatement& st : *job.statements) {
      std::string reason;
      int r = apply(st, &reason);
      if (r < 0) return dbError(error);
      if (r == 0) {
        *error = std::string(job.label) + ":" + std::to_string(st.line) + ": " + reason;
        return 0;
      }
    }
    return 1;
  }

 private:
  int dbError(std::string* error) {
    *error = std::string("database error: ") + sqlite3_errmsg(db_);
    return 0;
  }

  // Runs a change statement to its end: 1 done, -1 on failure.
  static int finish(sqlite3_stmt* stmt) {
    OrxdbStmtScope scope(stmt);
    return sqlite3_step(stmt) == SQLITE_DONE ? 1 : -1;
  }

  // Element id of name: 1 found, 0 missing (with *reason), -1 on failure.
  int find(const std::string& name, int64_t* id, std::string* type, std::string* reason) {
    sqlite3_stmt* stmt = stmts_[L_FIND].get();
    OrxdbStmtScope scope(stmt);
    sqlite3_bind_text(stmt, 1, name.c_str(), -1, SQLITE_STATIC);
    int rc = sqlite3_step(stmt);
    if (rc == SQLITE_DONE) {
      *reason = "unknown element \"" + name + "\"";
      return 0;
    }
    if (rc != SQLITE_ROW) return -1;
    *id = sqlite3_column_int64(stmt, 0);
    if (type != nullptr) *type = reinterpret_cast<const char*>(sqlite3_column_text(stmt, 1));
    return 1;
  }

  // 1 stored, 0 the statement is wrong (*reason), -1 SQLite failed.
  int apply(const OrxdbStatement& st, std::string* reason) {
    int64_t element, other;
    std::string type;
    if (st.kind == ORXDB_ELEMENT) {
      int r = find(st.element, &element, &type, reason);
      if (r < 0) return -1;
      if (r == 1) {
        if (type == st.name) return 1;
        *reason = "element \"" + st.element + "\" already has type \"" + type + "\"";
        return 0;
      }
      sqlite3_stmt* stmt = stmts_[L_ELEMENT].get();
      sqlite3_bind_text(stmt, 1, st.element.c_str(), -1, SQLITE_STATIC);
      sqlite3_bind_text(stmt, 2, st.name.c_str(), -1, SQLITE_STATIC);
      return finish(stmt);
    }
    int r = find(st.element, &element, nullptr, reason);
    if (r != 1) return r;
    sqlite3_stmt* stmt = nullptr;
    switch (st.kind) {
      case ORXDB_ELEMENT:
        return -1;
      case ORXDB_PROPERTY:
        stmt = stmts_[L_PROPERTY].get();
        sqlite3_bind_int64(stmt, 1, element);
        sqlite3_bind_text(stmt, 2, st.name.c_str(), -1, SQLITE_STATIC);
        if (st.isText)
          sqlite3_bind_text(stmt, 3, st.text.c_str(), -1, SQLITE_STATIC);
        else
          sqlite3_bind_int64(stmt, 3, st.number);
        break;
      case ORXDB_COLOR:
        stmt = stmts_[L_COLOR].get();
        sqlite3_bind_int64(stmt, 1, element);
        for (int i = 0; i < 3; i++) sqlite3_bind_int(stmt, 2 + i, st.numbers[i]);
        break;
      case ORXDB_MEMBER:
        if ((r = find(st.name, &other, nullptr, reason)) != 1) return r;
        stmt = stmts_[L_MEMBER].get();
        sqlite3_bind_int64(stmt, 1, element);
        sqlite3_bind_int64(stmt, 2, other);
        sqlite3_bind_int(stmt, 3, st.placed ? 1 : 0);
        for (int i = 0; st.placed && i < 5; i++) sqlite3_bind_int(stmt, 4 + i, st.numbers[i]);
        break;
      case ORXDB_CONNECT:
        if ((r = find(st.name, &other, nullptr, reason)) != 1) return r;
        stmt = stmts_[L_CONNECT].get();
        sqlite3_bind_int64(stmt, 1, element);
        sqlite3_bind_int64(stmt, 2, other);
        break;
      case ORXDB_AGENT:
        stmt = stmts_[L_AGENT].get();
        sqlite3_bind_int64(stmt, 1, element);
        sqlite3_bind_text(stmt, 2, st.name.c_str(), -1, SQLITE_STATIC);
        sqlite3_bind_int(stmt, 3, st.numbers[0]);
        if (st.isText) sqlite3_bind_text(stmt, 4, st.text.c_str(), -1, SQLITE_STATIC);
        break;
    }
    return finish(stmt);
  }

  sqlite3* db_;
  OrxdbStmt stmts_[L_COUNT];
};

// OrxdbFill for a database being created.
int fillNew(sqlite3* db, void* arg, std::string* error) {
  return Loader(db).run(*static_cast<LoadJob*>(arg), error);
}

// Loads into an existing database in one transaction.
int loadExisting(sqlite3* db, const LoadJob& job, std::string* error) {
  // IMMEDIATE takes the write lock first, so two loads queue instead of
  // one of them failing at its commit.
  if (orxdb_exec(db, "BEGIN IMMEDIATE", error) != SQLITE_OK) {
    *error = "database error: " + *error;
    return 0;
  }
  int ok = Loader(db).run(job, error);
  if (ok && orxdb_exec(db, "COMMIT", error) != SQLITE_OK) {
    *error = "database error: " + *error;
    ok = 0;
  }
  if (!ok) orxdb_exec(db, "ROLLBACK", nullptr);
  return ok;
}

int badName(const char* name, std::string* error) {
  *error = "bad database name \"" + std::string(name != nullptr ? name : "") + "\"";
  return 0;
}

}  // namespace

int orxdb_createDatabase(const char* name, std::string* error) {
  if (!orxdb_validName(name)) return badName(name, error);
  switch (orxdb_install(name, nullptr, nullptr, error)) {
    case ORXDB_INSTALLED:
      return 1;
    case ORXDB_EXISTS:
      *error = "database " + std::string(name) + " already exists";
      return 0;
    default:
      return 0;
  }
}

int orxdb_loadFile(const char* name, FILE* in, const char* label, std::string* error) {
  if (!orxdb_validName(name)) return badName(name, error);
  std::vector<OrxdbStatement> statements;
  if (!orxdb_readDescription(in, label, &statements, error)) return 0;
  LoadJob job = {label, &statements};
  // Two rounds: when another process creates the database between our look
  // and our creation, the second round extends theirs.
  for (int round = 0; round < 2; round++) {
    OrxdbConn conn;
    std::string detail;
    int rc = orxdb_connect(name, 1, &conn, &detail);
    if (rc == ORX_OK) return loadExisting(conn.get(), job, error);
    if (rc != ORX_ENODB) {
      *error = detail;
      return 0;
    }
    switch (orxdb_install(name, fillNew, &job, error)) {
      case ORXDB_INSTALLED:
        return 1;
      case ORXDB_INSTALL_FAILED:
        return 0;
      case ORXDB_EXISTS:
        break;
    }
  }
  *error = "database " + std::string(name) + " keeps changing";
  return 0;
}

int orxdb_dropDatabase(const char* name, std::string* error) {
  if (!orxdb_validName(name)) return badName(name, error);
  std::string path = orxdb_path(name);
  if (unlink(path.c_str()) != 0) {
    *error = errno == ENOENT ? "no database " + std::string(name) : path + ": " + strerror(errno);
    return 0;
  }
  // A journal left by a crashed writer would otherwise be played back into
  // a later database of the same name.
  for (const char* suffix : {"-journal", "-wal", "-shm"}) unlink((path + suffix).c_str());
  return 1;
}
