// Tests of the opener of the station's text files: what it refuses, and the
// bound on what a stream reads.
#include "tessel/tessel_file.h"

#include <errno.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace {

class TextFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/tessel_file_XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(tmpl));
    dir_ = tmpl;
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  // Everything the stream gives until it stops; *failed tells whether it
  // stopped on an error rather than at the end of the file.
  static std::string readAll(FILE* fp, bool* failed) {
    std::string text;
    for (int c; (c = getc(fp)) != EOF;) text += static_cast<char>(c);
    *failed = ferror(fp) != 0;
    return text;
  }

  std::string dir_;
};

TEST_F(TextFileTest, RefusesWhatIsNotASmallRegularFileWithoutWaiting) {
  std::string fifo = dir_ + "/fifo", huge = dir_ + "/huge";
  ASSERT_EQ(0, mkfifo(fifo.c_str(), 0644));
  std::ofstream(huge).close();
  ASSERT_EQ(0, truncate(huge.c_str(), TESSEL_TEXT_FILE_MAX + 1));
  const struct {
    std::string path;
    int err;
  } cases[] = {
      {"", ENOENT},     {dir_ + "/missing", ENOENT}, {dir_, EISDIR},
      {fifo, EINVAL},   {"/dev/zero", EINVAL},       {"/dev/null", EINVAL},
      {huge, EFBIG},
  };
  FilePtr fp;
  for (const auto& c : cases) {
    EXPECT_EQ(c.err, tessel_open_text_file(c.path.c_str(), &fp)) << c.path;
    EXPECT_EQ(nullptr, fp) << c.path;
  }
  EXPECT_EQ(ENOENT, tessel_open_text_file(nullptr, &fp));
}

TEST_F(TextFileTest, ReadsAFileWholeUpToTheBoundAndStopsThereWhenItGrows) {
  std::string path = dir_ + "/grows";
  std::ofstream(path) << "first line\n";
  FilePtr fp;
  int fd = -1;
  ASSERT_EQ(0, tessel_open_text_file(path.c_str(), &fp, &fd));
  struct stat st;
  ASSERT_EQ(0, tessel_check_text_file(fd, &st));
  bool failed;
  EXPECT_EQ("first line\n", readAll(fp.get(), &failed));
  EXPECT_FALSE(failed);

  // Exactly the bound is still a whole file: a clean end, no error.
  ASSERT_EQ(0, truncate(path.c_str(), TESSEL_TEXT_FILE_MAX));
  rewind(fp.get());
  EXPECT_EQ(static_cast<size_t>(TESSEL_TEXT_FILE_MAX), readAll(fp.get(), &failed).size());
  EXPECT_FALSE(failed);
  EXPECT_EQ(0, tessel_check_text_file(fd, &st));

  // Grown past the bound while open: the stream ends there, with an error,
  // and the descriptor's status says so.
  ASSERT_EQ(0, truncate(path.c_str(), 3 * TESSEL_TEXT_FILE_MAX));
  rewind(fp.get());
  EXPECT_EQ(static_cast<size_t>(TESSEL_TEXT_FILE_MAX), readAll(fp.get(), &failed).size());
  EXPECT_TRUE(failed);
  EXPECT_EQ(EFBIG, tessel_check_text_file(fd, &st));
}

// A replaced file holds the new text or, when replacing fails, the old
// text; no temporary file is left either way, and what failed is said.
TEST_F(TextFileTest, ReplacesAFileWholeOrLeavesItAsItWas) {
  std::string path = dir_ + "/a/b/file", error;
  EXPECT_EQ(0, tessel_replace_file(path, "new\n", true, &error));
  EXPECT_EQ(ENOENT, errno);
  EXPECT_EQ("cannot create " + path + ".tmp: No such file or directory", error);
  ASSERT_EQ(1, tessel_make_directories(dir_ + "/a/b"));
  std::ofstream(path + ".tmp") << "left by a writer that died";
  for (const char* text : {"old\n", "new\n"}) {
    ASSERT_EQ(1, tessel_replace_file(path, text, false, &error)) << error;
    std::ifstream in(path);
    EXPECT_EQ(text, std::string(std::istreambuf_iterator<char>(in), {}));
  }
  EXPECT_FALSE(std::filesystem::exists(path + ".tmp"));

  // A directory in the file's place stays; a file in a directory's place is
  // named, as the directory that cannot be made.
  std::string taken = dir_ + "/a/b/taken";
  ASSERT_EQ(0, mkdir(taken.c_str(), 0755));
  EXPECT_EQ(0, tessel_replace_file(taken, "x", true, &error));
  EXPECT_EQ(EISDIR, errno);
  EXPECT_EQ("cannot rename " + taken + ".tmp to " + taken + ": Is a directory", error);
  EXPECT_FALSE(std::filesystem::exists(taken + ".tmp"));
  for (const std::string& below : {path, path + "/deeper"}) {
    std::string failed;
    EXPECT_EQ(0, tessel_make_directories(below, &failed)) << below;
    EXPECT_EQ(ENOTDIR, errno) << below;
    EXPECT_EQ(path, failed) << below;
  }
}

TEST_F(TextFileTest, WritingNeverWaitsForAFifoWithoutReader) {
  std::string fifo = dir_ + "/fifo", log = dir_ + "/log";
  ASSERT_EQ(0, mkfifo(fifo.c_str(), 0644));
  EXPECT_EQ(nullptr, tessel_open_for_writing(fifo.c_str(), true));
  for (int i = 0; i < 2; i++) {
    FILE* fp = tessel_open_for_writing(log.c_str(), true);
    ASSERT_NE(nullptr, fp);
    fputs("line\n", fp);
    fclose(fp);
  }
  std::ifstream in(log);
  std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ("line\nline\n", all);
}

}  // namespace
