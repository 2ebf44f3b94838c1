// Administration of management databases: what the `orxdb` tool does.
//
// Each call returns 1 on success, or 0 with *error set to one line saying
// why (without a program name).  Database names are those orxdb_validName()
// accepts.
#ifndef PLATFORM_ORXDB_ORXDB_ADMIN_H_
#define PLATFORM_ORXDB_ORXDB_ADMIN_H_

#include <stdio.h>

#include <string>

// Creates the empty database `name` (and the database directory when it is
// missing).  Fails when it exists already.
int orxdb_createDatabase(const char* name, std::string* error);

// Reads a description file from `in` (named `label` in messages) and stores
// it in database `name`, creating the database when it does not exist.  The
// whole file is one transaction: readers see all of it or none of it, and a
// bad line ("LABEL:LINE: reason") stores nothing of the file (nor creates the
// database).
//
// A statement about something that exists already changes it in place and
// keeps its position in the order: a property, colour, placement or agent
// takes the new value; a repeated member or connect statement changes
// nothing else; an element statement must repeat the element's type.
// Every element named (ELEMENT, VIEW, CONNECTION) must have been declared by
// an element statement earlier in the file or in an earlier load.
int orxdb_loadFile(const char* name, FILE* in, const char* label, std::string* error);

// Writes database `name` to `out` as a description file that loads into a
// new database to the same contents and order.  The database is read in one
// consistent snapshot.
int orxdb_dumpDatabase(const char* name, FILE* out, std::string* error);

// Deletes database `name` with any journal it left.  Processes that have it
// open go on reading the deleted file.  Fails when it does not exist.
int orxdb_dropDatabase(const char* name, std::string* error);

#endif  // PLATFORM_ORXDB_ORXDB_ADMIN_H_
