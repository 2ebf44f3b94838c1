#include "station.h"

#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>

#include "harness/process.h"
#include "orxdb/orxdb_admin.h"

Station::Station(bool withInstallation, bool withSchemas) {
  char tmpl[] = "/tmp/ovi_station_XXXXXX";
  root_ = mkdtemp(tmpl);
  setenv("OVI_ROOT", root_.c_str(), 1);
  write("/etc/opt/ZEPHline/orx/orx.conf",
        withSchemas ? "qm.snmp.schemas /opt/ZEPHline/orx/agents\n" : "# no schemas\n");
  write("/opt/ZEPHline/orx/agents/router.schema",
        "ENUM ifState ( 1 up 2 down 3 testing )\n"
        "agent routerAgent ( group ifs ( rw enum ifState adminState ) )\n");
  if (withInstallation)
    write("/opt/ZEPHline/orx/struct/elements.schema",
          "record component.router (\n"
          "  string[64] Name\n"
          "  enum ifState adminState\n"
          "  int Created_by_ovi\n"
          ")\n");
  std::filesystem::create_directories(root_ + "/var/opt/ZEPHline/orx/ovi_files");
  std::filesystem::create_directories(root_ + "/var/adm");
  std::filesystem::create_directories(root_ + "/dev");
}

Station::~Station() {
  unsetenv("OVI_ROOT");
  std::error_code ignored;
  std::filesystem::remove_all(root_, ignored);
}

std::string Station::write(const std::string& fixedPath, const std::string& content) const {
  std::string path = root_ + fixedPath;
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
  return path;
}

std::string Station::writeData(const std::string& name, const std::string& content) const {
  return write("/var/opt/ZEPHline/orx/ovi_files/" + name, content);
}

void Station::loadDatabase(const std::string& name, const std::string& description) const {
  // Two stations may live in one test: the database goes below this one's root.
  setenv("OVI_ROOT", root_.c_str(), 1);
  FILE* in = fmemopen(const_cast<char*>(description.data()), description.size(), "r");
  ASSERT_NE(nullptr, in);
  std::string error;
  EXPECT_TRUE(orxdb_loadFile(name.c_str(), in, "test", &error)) << error;
  fclose(in);
}

std::string Station::read(const std::string& fixedPath) const {
  return readFile(root_ + fixedPath);
}
