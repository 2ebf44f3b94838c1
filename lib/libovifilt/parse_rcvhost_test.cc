#include "parse_rcvhost.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <map>
#include <string>

#include "test_root.h"

namespace {

std::string contentOf(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// Keeps the variables these functions read and puts them back afterwards.
class EnvTest : public OviRootTest {
 protected:
  void SetUp() override {
    OviRootTest::SetUp();
    for (const char* name : {"HOME", "USER", "LOGNAME", "ORX_NAME", "HOSTNAME", "LANG"}) {
      const char* v = getenv(name);
      if (v != nullptr) saved_[name] = v;
      unsetenv(name);
    }
  }
  void TearDown() override {
    for (const char* name : {"HOME", "USER", "LOGNAME", "ORX_NAME", "HOSTNAME", "LANG"}) unsetenv(name);
    for (const auto& kv : saved_) setenv(kv.first.c_str(), kv.second.c_str(), 1);
    OviRootTest::TearDown();
  }
  std::map<std::string, std::string> saved_;
};

class LanguageTest : public EnvTest {};

TEST_F(LanguageTest, PairsMayBeSpreadOverLines) {
  write("ovi_sender.lang", "db1\nde_DE\n  db2 \t fr_FR db3\nja_JP\n");
  set_db_locale_lang("db2");
  EXPECT_STREQ("fr_FR", getenv("LANG"));
  set_db_locale_lang("db3");
  EXPECT_STREQ("ja_JP", getenv("LANG"));
}

TEST_F(LanguageTest, FirstPairWinsAndNamesMatchExactly) {
  write("ovi_sender.lang", "db de_DE\ndb fr_FR\nDB2 it_IT\n");
  set_db_locale_lang("db");
  EXPECT_STREQ("de_DE", getenv("LANG"));
  set_db_locale_lang("db2");  // no pair: unchanged
  EXPECT_STREQ("de_DE", getenv("LANG"));
  set_db_locale_lang("de_DE");  // a language word is not a database name
  EXPECT_STREQ("de_DE", getenv("LANG"));
}

TEST_F(LanguageTest, MissingTableOrOddWordLeavesLangAlone) {
  setenv("LANG", "C", 1);
  set_db_locale_lang("db");
  EXPECT_STREQ("C", getenv("LANG"));
  write("ovi_sender.lang", "db");  // a name without its language
  set_db_locale_lang("db");
  EXPECT_STREQ("C", getenv("LANG"));
  // An over-long word stays one word: the pairs after it keep their order.
  write("ovi_sender.lang", std::string(400, 'x') + " en_US db sv_SE\n");
  set_db_locale_lang("db");
  EXPECT_STREQ("sv_SE", getenv("LANG"));
}

class InstallationTest : public OviRootTest {
 protected:
  int verify(const std::string& schema, char* message) {
    write("/opt/ZEPHline/orx/struct/elements.schema", schema);
    return ovi_verify_ovi_installation(message);
  }
  std::string schemaPath() const { return root_ + "/opt/ZEPHline/orx/struct/elements.schema"; }
};

TEST_F(InstallationTest, MarkerInTheFirstElementRecordPasses) {
  char message[OVI_MESSAGE_SIZE] = "";
  EXPECT_EQ(0, verify("schema {\n  record component.router (\n    int x;\n    int Created_by_ovi; )\n",
                      message));
  EXPECT_EQ(0, verify("record x view.top (\nCreated_by_ovi\n)\n", message));
}

TEST_F(InstallationTest, MissingMarkerFailsWith2) {
  char message[OVI_MESSAGE_SIZE] = "";
  EXPECT_EQ(2, verify("record bus.lan (\n  int x;\n)\n  Created_by_ovi\n", message));
  EXPECT_EQ("The management console was installed after this package.\n\tThe changes made by this "
            "package in file " + schemaPath() + " are undone.\n\tPlease install this package now!\n",
            std::string(message));
  // Only the first element record counts.
  EXPECT_EQ(2, verify("record connection.c (\n)\nrecord view.v (\nCreated_by_ovi\n)\n", message));
  // The marker on the record line itself is not looked at.
  EXPECT_EQ(2, verify("record component.a ( Created_by_ovi\n)\n", message));
  EXPECT_EQ(2, verify("record component.a (\nint x;\n", message));
}

TEST_F(InstallationTest, NoElementRecordOrNoFileFailsWith1) {
  char message[OVI_MESSAGE_SIZE] = "";
  EXPECT_EQ(1, verify("record other.thing (\nCreated_by_ovi\n)\ncomponent. record\n", message));
  EXPECT_EQ("Cannot find any records in file " + schemaPath(), std::string(message));
  EXPECT_EQ(1, ovi_verify_ovi_field_in_file((root_ + "/none").c_str(), message));
  EXPECT_EQ("Cannot open file " + root_ + "/none", std::string(message));
}

class ReceiverFileTest : public EnvTest {
 protected:
  std::string name() {
    char path[OVI_RCVFILE_PATH_SIZE], message[OVI_MESSAGE_SIZE] = "";
    if (get_filename(path, message) != 0) return std::string("error: ") + message;
    return path;
  }
  static OVI_Receiver* receiver(const char* f1, const char* f2, const char* f3, const char* f4,
                                const char* f5, const char* f6) {
    OVI_Receiver* r = new OVI_Receiver{};
    const char* f[6] = {f1, f2, f3, f4, f5, f6};
    for (int i = 0; i < 6; i++) snprintf(r->field[i], sizeof r->field[i], "%s", f[i]);
    return r;
  }
};

TEST_F(ReceiverFileTest, NameFromHomeUserAndHost) {
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

TEST_F(ReceiverFileTest, SaveWritesColumnsAndLoadReadsThemBack) {
  setenv("HOME", root_.c_str(), 1);
  setenv("ORX_NAME", "u", 1);
  setenv("HOSTNAME", "h", 1);
  OVI_Receiver* list = receiver("alpha", "100", "", "db1", "five", "six");
  list->next = receiver("beta", "2", "3", "4", "5", "6");
  EXPECT_EQ(1, ovi_saveSndFILE(list, nullptr));
  ovi_free_receivers(list);
  std::string path = root_ + "/.ovi_rcvrc.u.h";
  EXPECT_EQ("alpha 100 - db1 six five\nbeta 2 3 4 6 5\n", contentOf(path));

  write(path.substr(root_.size()), contentOf(path) + "# note\n- - - x y z\n");
  OVI_Receiver* loaded = ovi_loadSndFile(nullptr);
  ASSERT_NE(nullptr, loaded);
  EXPECT_STREQ("alpha", loaded->field[0]);
  EXPECT_STREQ("-", loaded->field[2]);
  EXPECT_STREQ("five", loaded->field[4]);
  EXPECT_STREQ("six", loaded->field[5]);
  ASSERT_NE(nullptr, loaded->next);
  EXPECT_STREQ("6", loaded->next->field[5]);
  EXPECT_EQ(nullptr, loaded->next->next);  // the line of dashes is skipped
  ovi_free_receivers(loaded);

  EXPECT_EQ(1, ovi_saveSndFILE(nullptr, nullptr));
  EXPECT_EQ("", contentOf(path));
  EXPECT_EQ(nullptr, ovi_loadSndFile(nullptr));
}

TEST_F(ReceiverFileTest, RelativeHomeSavesAndLoadsBelowTheCurrentDirectory) {
  char cwd[4096];
  ASSERT_NE(nullptr, getcwd(cwd, sizeof cwd));
  ASSERT_EQ(0, chdir(root_.c_str()));
  setenv("HOME", ".", 1);
  setenv("ORX_NAME", "u", 1);
  setenv("HOSTNAME", "h", 1);
  OVI_Receiver* list = receiver("a", "b", "c", "d", "e", "f");
  EXPECT_EQ(1, ovi_saveSndFILE(list, nullptr));
  ovi_free_receivers(list);
  OVI_Receiver* loaded = ovi_loadSndFile(nullptr);
  ASSERT_EQ(0, chdir(cwd));
  ASSERT_NE(nullptr, loaded);
  EXPECT_STREQ("f", loaded->field[5]);
  ovi_free_receivers(loaded);
}

TEST_F(ReceiverFileTest, OldFileIsCopiedOnce) {
  setenv("HOME", root_.c_str(), 1);
  setenv("ORX_NAME", "u", 1);
  setenv("HOSTNAME", "h", 1);
  EXPECT_EQ(0, generate_compatible_file(nullptr));  // neither file
  std::string old = write("/.ovi_rcvrc.u", "a b c d e f\n");
  EXPECT_EQ(1, generate_compatible_file(nullptr));
  std::string current = root_ + "/.ovi_rcvrc.u.h";
  EXPECT_EQ("a b c d e f\n", contentOf(current));
  struct stat st;
  ASSERT_EQ(0, stat(current.c_str(), &st));
  EXPECT_EQ(0664u, st.st_mode & 0777u);
  write("/.ovi_rcvrc.u", "changed\n");
  EXPECT_EQ(0, generate_compatible_file(nullptr));  // the current file exists
  EXPECT_EQ("a b c d e f\n", contentOf(current));
}

TEST_F(ReceiverFileTest, CopyThatCannotOpenEndsTheProcess) {
  setenv("HOME", root_.c_str(), 1);
  setenv("ORX_NAME", "u", 1);
  setenv("HOSTNAME", "no/dir", 1);  // the current name lies in a missing directory
  write("/.ovi_rcvrc.u", "x\n");
  EXPECT_EXIT(generate_compatible_file(nullptr), ::testing::ExitedWithCode(0), "Cannot open files: ");
}

}  // namespace
