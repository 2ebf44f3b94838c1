#include "parse_rcvhost.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "test_root.h"

namespace {

// Each test starts without the variables these functions read.
class EnvTest : public OviRootTest {
 protected:
  void SetUp() override {
    OviRootTest::SetUp();
    for (const char* name : {"HOME", "USER", "LOGNAME", "ORX_NAME", "HOSTNAME", "LANG"})
      unsetenv(name);
  }
  // The receiver host file of user "u" on host "h" in the given home.
  std::string useHome(const std::string& home, const char* host = "h") {
    setenv("HOME", home.c_str(), 1);
    setenv("ORX_NAME", "u", 1);
    setenv("HOSTNAME", host, 1);
    return home + "/.ovi_rcvrc.u." + host;
  }
};

TEST_F(EnvTest, LanguageTableIsWordPairsAndTheFirstExactNameWins) {
  const std::string spread = "db1\nde_DE\n  db2 \t fr_FR db3\nja_JP\n";
  const std::string twice = "db de_DE\ndb fr_FR\nDB2 it_IT\n";
  const struct { std::string table; const char* database; const char* lang; } cases[] = {
      {"", "db", "C"},  // no table
      {spread, "db2", "fr_FR"}, {spread, "db3", "ja_JP"}, {twice, "db", "de_DE"},
      {twice, "db2", "C"},    // names match exactly
      {twice, "de_DE", "C"},  // a language is not a name
      {"db", "db", "C"},      // a name without its language
      // An over-long word stays one word: the pairs after it keep their order.
      {std::string(400, 'x') + " en_US db sv_SE\n", "db", "sv_SE"},
  };
  for (const auto& c : cases) {
    setenv("LANG", "C", 1);
    if (!c.table.empty()) write("ovi_sender.lang", c.table);
    set_db_locale_lang(c.database);
    EXPECT_STREQ(c.lang, getenv("LANG")) << c.table << " " << c.database;
  }
}

TEST_F(EnvTest, InstallationCheckWantsTheMarkerInTheFirstElementRecord) {
  const struct { const char* schema; int result; } cases[] = {
      {"schema {\n  record component.router (\n    int x;\n    int Created_by_ovi; )\n", 0},
      {"record bus.lan (\n  int x;\n)\n  Created_by_ovi\n", 2},  // after the record's end
      {"record connection.c (\n)\nrecord view.v (\nCreated_by_ovi\n)\n", 2},  // first only
      {"record component.a ( Created_by_ovi\n)\n", 2},  // the record line is not looked at
      {"record other.thing (\nCreated_by_ovi\n)\ncomponent. record\n", 1},
  };
  const std::string schema = "/opt/ZEPHline/orx/struct/elements.schema", path = root_ + schema;
  char message[OVI_MESSAGE_SIZE];
  for (const auto& c : cases) {
    write(schema, c.schema);
    EXPECT_EQ(c.result, ovi_verify_ovi_installation(message)) << c.schema;
  }
  EXPECT_EQ("Cannot find any records in file " + path, std::string(message));
  write(schema, "record bus.lan (\n)\n");
  EXPECT_EQ(2, ovi_verify_ovi_installation(message));
  EXPECT_EQ("The management console was installed after this package.\n\tThe changes made by this "
            "package in file " + path + " are undone.\n\tPlease install this package now!\n",
            std::string(message));
}

TEST_F(EnvTest, ReceiverFileNameFromHomeUserAndHost) {
  auto name = [] {
    char path[OVI_RCVFILE_PATH_SIZE], message[OVI_MESSAGE_SIZE] = "";
    return get_filename(path, message) == 0 ? std::string(path) : std::string("error: ") + message;
  };
  setenv("HOME", "/home/op", 1);
  setenv("LOGNAME", "lg", 1);
  setenv("HOSTNAME", "station", 1);
  EXPECT_EQ("/home/op/.ovi_rcvrc.lg.station", name());
  setenv("USER", "us", 1);
  EXPECT_EQ("/home/op/.ovi_rcvrc.us.station", name());
  setenv("ORX_NAME", "orx1", 1);
  EXPECT_EQ("/home/op/.ovi_rcvrc.orx1.station", name());
  setenv("HOME", "/", 1);
  EXPECT_EQ("/.ovi_rcvrc.orx1.station", name());
  setenv("HOME", ".", 1);
  EXPECT_EQ(".ovi_rcvrc.orx1.station", name());
}

TEST_F(EnvTest, ReceiverFileSaveWritesColumnsAndLoadReadsThemBack) {
  std::string path = useHome(root_);
  OVI_Receiver second{{"b", "2", "3", "4", "5", "6"}, nullptr};
  OVI_Receiver first{{"alpha", "100", "", "db1", "five", "six"}, &second};
  EXPECT_EQ(1, ovi_saveSndFILE(&first, nullptr));
  EXPECT_EQ("alpha 100 - db1 six five\nb 2 3 4 6 5\n", contents(path));

  write(path.substr(root_.size()), contents(path) + "# note\n- - - x y z\n");
  OVI_Receiver* loaded = ovi_loadSndFile(nullptr);
  ASSERT_NE(nullptr, loaded);
  std::string got;
  for (OVI_Receiver* r = loaded; r != nullptr; r = r->next)
    for (int i = 0; i < 6; i++) got += std::string(r->field[i]) + (i < 5 ? " " : "\n");
  EXPECT_EQ("alpha 100 - db1 five six\nb 2 3 4 5 6\n", got);  // the line of dashes is skipped
  ovi_free_receivers(loaded);

  EXPECT_EQ(1, ovi_saveSndFILE(nullptr, nullptr));
  EXPECT_EQ("", contents(path));
  EXPECT_EQ(nullptr, ovi_loadSndFile(nullptr));
}

TEST_F(EnvTest, OldReceiverFileIsCopiedOnce) {
  std::string current = useHome(root_);
  EXPECT_EQ(0, generate_compatible_file(nullptr));  // neither file
  write("/.ovi_rcvrc.u", "a b c d e f\n");
  EXPECT_EQ(1, generate_compatible_file(nullptr));
  EXPECT_EQ("a b c d e f\n", contents(current));
  struct stat st;
  ASSERT_EQ(0, stat(current.c_str(), &st));
  EXPECT_EQ(0664u, st.st_mode & 0777u);
  write("/.ovi_rcvrc.u", "changed\n");
  EXPECT_EQ(0, generate_compatible_file(nullptr));  // the current file exists
  EXPECT_EQ("a b c d e f\n", contents(current));

  useHome(root_, "no/dir");  // the current name lies in a missing directory
  EXPECT_EXIT(generate_compatible_file(nullptr), ::testing::ExitedWithCode(0),
              "Cannot open files: ");
}

}  // namespace
