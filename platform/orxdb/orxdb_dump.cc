// Writing a database back as a description file.
#include <errno.h>
#include <string.h>

#include "orxdb/orxdb.h"
#include "orxdb/orxdb_admin.h"
#include "orxdb/orxdb_describe.h"
#include "orxdb/orxdb_store.h"

namespace {

// Every element comes first, so that the statements after it may name any
// element; each other table follows in its own load order, which gives back
// both the order of a view's members and the order of an element's views.
const char* const kElements = "SELECT name, type FROM element ORDER BY seq";
const char* const kColors =
    "SELECT name, red, green, blue FROM element WHERE red IS NOT NULL ORDER BY seq";
const char* const kProperties =
    "SELECT e.name, p.name, p.value FROM property p JOIN element e ON e.seq = p.element"
    " ORDER BY p.seq";
const char* const kMembers =
    "SELECT e.name, v.name, m.placed, m.x, m.y, m.z, m.x1, m.y1 FROM member m"
    " JOIN element e ON e.seq = m.element JOIN element v ON v.seq = m.view ORDER BY m.seq";
const char* const kConnections =
    "SELECT e.name, c.name FROM connection k JOIN element e ON e.seq = k.element"
    " JOIN element c ON c.seq = k.connection ORDER BY k.seq";
const char* const kAgents =
    "SELECT e.name, a.name, a.indicator, a.text FROM agent a"
    " JOIN element e ON e.seq = a.element ORDER BY a.seq";

std::string column(sqlite3_stmt* stmt, int i) {
  const char* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt, i));
  return text != nullptr ? text : "";
}

std::string word(sqlite3_stmt* stmt, int i) { return orxdb_quoteWord(column(stmt, i), false); }

// One description line for the current row of a query.
typedef std::string (*LineOf)(sqlite3_stmt* stmt);

std::string elementLine(sqlite3_stmt* s) { return "element " + word(s, 0) + " " + word(s, 1); }

std::string colorLine(sqlite3_stmt* s) {
  return "color " + word(s, 0) + " " + column(s, 1) + " " + column(s, 2) + " " + column(s, 3);
}

std::string propertyLine(sqlite3_stmt* s) {
  std::string line = "property " + word(s, 0) + " " + word(s, 1) + " ";
  if (sqlite3_column_type(s, 2) == SQLITE_INTEGER) return line + column(s, 2);
  // A text that reads as a number is quoted, or it would load as an integer.
  std::string text = column(s, 2);
  return line + orxdb_quoteWord(text, orxdb_isIntegerWord(text));
}

std::string memberLine(sqlite3_stmt* s) {
  std::string line = "member " + word(s, 0) + " " + word(s, 1);
  if (sqlite3_column_int(s, 2) != 0)
    for (int i = 3; i <= 7; i++) line += " " + column(s, i);
  return line;
}

std::string connectLine(sqlite3_stmt* s) { return "connect " + word(s, 0) + " " + word(s, 1); }

std::string agentLine(sqlite3_stmt* s) {
  std::string line = "agent " + word(s, 0) + " " + word(s, 1) + " " + column(s, 2);
  if (sqlite3_column_type(s, 3) != SQLITE_NULL) line += " " + word(s, 3);
  return line;
}

// Appends a line per row of sql to *out; SQLITE_OK or the failing code.
int appendLines(sqlite3* db, const char* sql, LineOf lineOf, std::string* out) {
  OrxdbStmt stmt;
  int rc = stmt.prepare(db, sql);
  while (rc == SQLITE_OK && (rc = sqlite3_step(stmt.get())) == SQLITE_ROW) {
    *out += lineOf(stmt.get());
    *out += '\n';
    rc = SQLITE_OK;
  }
  return rc == SQLITE_DONE ? SQLITE_OK : rc;
}

}  // namespace

int orxdb_dumpDatabase(const char* name, FILE* out, std::string* error) {
  OrxdbConn conn;
  if (orxdb_connect(name, 0, &conn, error) != ORX_OK) return 0;
  sqlite3* db = conn.get();
  // The text is built in memory under one read transaction, so the lock is
  // not held while a slow reader of the output blocks the write.
  std::string text = "# management database " + std::string(name) + "\n";
  int rc = orxdb_exec(db, "BEGIN", error);
  if (rc == SQLITE_OK) rc = appendLines(db, kElements, elementLine, &text);
  if (rc == SQLITE_OK) rc = appendLines(db, kProperties, propertyLine, &text);
  if (rc == SQLITE_OK) rc = appendLines(db, kColors, colorLine, &text);
  if (rc == SQLITE_OK) rc = appendLines(db, kMembers, memberLine, &text);
  if (rc == SQLITE_OK) rc = appendLines(db, kConnections, connectLine, &text);
  if (rc == SQLITE_OK) rc = appendLines(db, kAgents, agentLine, &text);
  if (rc != SQLITE_OK) {
    *error = std::string("database error: ") + sqlite3_errmsg(db);
    orxdb_exec(db, "ROLLBACK", nullptr);
    return 0;
  }
  orxdb_exec(db, "COMMIT", nullptr);
  if (fwrite(text.data(), 1, text.size(), out) != text.size() || fflush(out) != 0) {
    *error = std::string("write error: ") + strerror(errno);
    return 0;
  }
  return 1;
}
