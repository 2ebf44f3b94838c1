// A station's files for end-to-end tests: a fresh OVI_ROOT with orx.conf, a
// schema directory, the installation marker, the data directory and
// management databases.  The test process itself works below the same root
// (OVI_ROOT is set while the Station lives), so the database library writes
// where the daemon will read.
#ifndef TESTS_HARNESS_STATION_H_
#define TESTS_HARNESS_STATION_H_

#include <string>
#include <vector>

class Station {
 public:
  // withInstallation false leaves out the schema file the installation
  // check reads; withSchemas false leaves "qm.snmp.schemas" out of orx.conf.
  explicit Station(bool withInstallation = true, bool withSchemas = true);
  ~Station();
  Station(const Station&) = delete;
  Station& operator=(const Station&) = delete;

  const std::string& root() const { return root_; }
  // "OVI_ROOT=..." for the environment of the station's programs.
  std::vector<std::string> env() const { return {"OVI_ROOT=" + root_}; }

  // Writes a file at a path below the root ("/etc/...").
  std::string write(const std::string& fixedPath, const std::string& content) const;
  // Writes a file of the data directory.
  std::string writeData(const std::string& name, const std::string& content) const;
  // Creates or extends management database `name` from a description (and
  // makes this station's root the test process's OVI_ROOT).
  void loadDatabase(const std::string& name, const std::string& description) const;
  // Reads a file below the root ("" when missing).
  std::string read(const std::string& fixedPath) const;

 private:
  std::string root_;
};

#endif  // TESTS_HARNESS_STATION_H_
