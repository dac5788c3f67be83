#include "vandrel/services/multipart_input.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "vandrel/core/test_support.h"

namespace {

using namespace std::string_literals;

// A file descriptor reading `bytes` from the start (an unlinked file).
int fd_of(const std::string& bytes) {
  char path[] = "/tmp/multipart_test.XXXXXX";
  int fd = mkstemp(path);
  unlink(path);
  EXPECT_EQ(write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  lseek(fd, 0, SEEK_SET);
  return fd;
}

class StringSink : public ContentSink {
 public:
  bool write(const char* data, size_t len) override {
    text.append(data, len);
    return true;
  }
  std::string text;
};

struct Outcome {
  bool found;
  std::string content;  // what was written
  std::string rest;     // what a reader gets afterwards
  bool operator==(const Outcome& o) const {
    return found == o.found && content == o.content && rest == o.rest;
  }
};

std::string shown(const std::string& s) {
  std::string out;
  for (unsigned char c : s) {
    if (c >= 32 && c < 127 && c != '\\') {
      out += static_cast<char>(c);
    } else {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", c);
      out += hex;
    }
  }
  return out;
}

std::ostream& operator<<(std::ostream& os, const Outcome& o) {
  return os << (o.found ? "found" : "broken") << " content=[" << shown(o.content) << "] rest=["
            << shown(o.rest) << "]";
}

// The sliding-window step in its plain form: a window of the
// separator's length, shifted by one byte at a time.
Outcome reference(const std::string& input, const std::string& sep) {
  size_t m = sep.size();
  if (input.size() < m) return {false, "", ""};
  std::string window = input.substr(0, m);
  size_t next = m;
  std::string out;
  while (window != sep) {
    if (next >= input.size()) return {false, out, ""};
    out += window[0];
    window.erase(0, 1);
    window += input[next++];
  }
  return {true, out, input.substr(next)};
}

Outcome actual(const std::string& input, const std::string& sep, size_t capacity) {
  int fd = fd_of(input);
  MultipartReader in(fd, capacity);
  StringSink sink;
  MultipartReader::CopyResult r = in.copy_until(Separator(sep), sink);
  Outcome o{r == MultipartReader::CopyResult::kFound, sink.text, ""};
  for (int c; (c = in.get()) != EOF;) o.rest += static_cast<char>(c);
  close(fd);
  return o;
}

void expect_same(const std::string& input, const std::string& sep) {
  Outcome want = reference(input, sep);
  for (size_t capacity : {sep.size() + 1, sep.size() + 2, sep.size() + 5, size_t{64}, size_t{4096}}) {
    ASSERT_EQ(actual(input, sep, capacity), want)
        << "input=[" << shown(input) << "] sep=[" << shown(sep) << "] capacity=" << capacity;
  }
}

TEST(SeparatorTest, PrefixTable) {
  Separator s("aabaaab");
  std::vector<size_t> want = {0, 1, 0, 1, 2, 2, 3};
  for (size_t k = 1; k <= 7; ++k) EXPECT_EQ(s.fallback(k), want[k - 1]) << k;
}

TEST(WindowTest, PlainCases) {
  expect_same("hello\r\n--XYZ\r\nrest", "\r\n--XYZ");
  expect_same("\r\n--XYZ--\r\n", "\r\n--XYZ");         // empty content
  expect_same("", "\r\n--XYZ");                        // nothing at all
  expect_same("\r\n--XY", "\r\n--XYZ");                // ends inside the separator
  expect_same("content without end", "\r\n--XYZ");     // no separator
  expect_same("abc\r\n--XYZ", "\r\n--XYZ");            // separator at the very end
  expect_same("a\r\n--XY\r\n--XYZ\r\n--XYZ", "\r\n--XYZ");  // near miss, then two
}

TEST(WindowTest, SelfOverlappingSeparators) {
  // Separators whose prefixes recur inside them: the KMP fallbacks must
  // never skip a match nor report one early.
  const char* seps[] = {"\r\n\r\n", "\r\r\r\r", "\r\n--aa-aa-a", "\r\n\r\n\r\n-", "\r\n-\r\n-\r\n--"};
  for (const char* sep : seps) {
    std::string s = sep;
    for (size_t cut = 1; cut < s.size(); ++cut) {
      std::string near = s.substr(0, cut);
      expect_same(near + s, s);
      expect_same(near + near + "x" + s + "tail", s);
      expect_same(std::string(7, s[0]) + s + s, s);
      expect_same(near + near + near, s);  // broken
    }
  }
}

TEST(WindowTest, RandomInputsOverSmallAlphabets) {
  std::mt19937 rng(12345);
  const std::string alphabets[] = {std::string("\r\n-a", 4), std::string("\r\n", 2),
                                   std::string("\r\n-\0", 4)};
  for (int round = 0; round < 3000; ++round) {
    const std::string& abc = alphabets[round % 3];
    auto pick = [&](size_t n) {
      std::string s;
      for (size_t i = 0; i < n; ++i) s += abc[rng() % abc.size()];
      return s;
    };
    std::string sep = "\r\n" + pick(rng() % 6);
    std::string input = pick(rng() % 60);
    if (rng() % 2) input += sep + pick(rng() % 10);
    expect_same(input, sep);
  }
}

TEST(WindowTest, LongSeparatorAndBinaryData) {
  std::string sep = "\r\n" + std::string(297, '-');
  std::string data;
  std::mt19937 rng(7);
  for (int i = 0; i < 200000; ++i) data += static_cast<char>(rng() % 256);
  data += "\r\n" + std::string(296, '-') + "x";  // one byte short of a match
  expect_same(data + sep + "after", sep);
  expect_same(data, sep);
}

TEST(WindowTest, AdversarialInputStaysLinear) {
  // Every position begins a long partial match: a quadratic search would
  // take minutes on 8 MB.
  std::string sep = "\r\n" + std::string(250, '\r') + "x";
  std::string unit = "\r\n" + std::string(250, '\r');
  std::string input;
  while (input.size() < (8u << 20)) input += unit;
  input += sep;
  int fd = fd_of(input);
  MultipartReader in(fd);
  StringSink sink;
  EXPECT_EQ(in.copy_until(Separator(sep), sink), MultipartReader::CopyResult::kFound);
  EXPECT_EQ(sink.text.size(), input.size() - sep.size());
  close(fd);
}

TEST(WindowTest, SinkFailureStopsTheCopy) {
  class Refusing : public ContentSink {
   public:
    bool write(const char*, size_t) override { return false; }
  } sink;
  int fd = fd_of("content\r\n--b");
  MultipartReader in(fd);
  EXPECT_EQ(in.copy_until(Separator("\r\n--b"), sink), MultipartReader::CopyResult::kSinkFailed);
  close(fd);
}

// --- The parser on whole bodies. ---

std::string read_file(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::stringstream s;
  s << f.rdbuf();
  return s.str();
}

class ParserTest : public InterpreterTest {
 protected:
  void SetUp() override {
    InterpreterTest::SetUp();
    char dir[] = "/tmp/multipart_dir.XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    dir_ = dir;
    table_.assign(kMaxEntries, entry{nullptr, nullptr});
  }
  void TearDown() override {
    std::string cmd = "rm -rf '" + dir_ + "'";
    int removed = std::system(cmd.c_str());
    InterpreterTest::TearDown();
    ASSERT_EQ(removed, 0);
  }
  int parse(const std::string& body) {
    int fd = fd_of(body);
    int rc = E_POST_parse(table_.data(), fd, dir_.c_str());
    close(fd);
    return rc;
  }
  int count() const {
    int n = 0;
    while (table_[n].name) ++n;
    return n;
  }
  std::string upload_path(const std::string& file, int i) const {
    return dir_ + "/" + file + ".." + std::to_string(getpid()) + "." + std::to_string(i);
  }
  static std::string field(const std::string& name, const std::string& value) {
    return "--B\r\nContent-Disposition: form-data; name=\"" + name + "\"\r\n\r\n" + value + "\r\n";
  }
  static std::string file(const std::string& name, const std::string& fname,
                          const std::string& content) {
    return "--B\r\nContent-Disposition: form-data; name=\"" + name + "\"; filename=\"" + fname +
           "\"\r\nContent-Type: application/octet-stream\r\n\r\n" + content + "\r\n";
  }
  std::string dir_;
  std::vector<entry> table_;
};

TEST_F(ParserTest, FieldsAndUploads) {
  std::string binary;
  for (int i = 0; i < 256; ++i) binary += static_cast<char>(i);
  binary += "\r\n--C\r\n-\r\n--\r\n-B\r\n\r\n--b\r\n--";  // near the separator, never it
  std::string body = field("a", "one\r\ntwo") + file("f", "C:\\dir\\x.bin", binary) +
                     file("none", "", "") + field("empty", "") + field("a", "2") + "--B--\r\n";
  ASSERT_EQ(parse(body), 0);
  ASSERT_EQ(count(), 5);
  EXPECT_STREQ(table_[0].name, "a");
  EXPECT_STREQ(table_[0].val, "one\r\ntwo");
  EXPECT_STREQ(table_[1].name, "f");
  EXPECT_EQ(table_[1].val, upload_path("x.bin", 1));
  EXPECT_EQ(read_file(upload_path("x.bin", 1)), binary);
  EXPECT_STREQ(table_[2].name, "none");
  EXPECT_EQ(table_[2].val, nullptr);
  EXPECT_STREQ(table_[3].name, "empty");
  EXPECT_EQ(table_[3].val, nullptr);
  EXPECT_STREQ(table_[4].val, "2");
  // The scratch file is unlinked at once.
  EXPECT_NE(access((dir_ + "/post.buff." + std::to_string(getpid())).c_str(), F_OK), 0);
}

TEST_F(ParserTest, UnixPathAndEmptyUpload) {
  ASSERT_EQ(parse(file("f", "/home/u/a b.txt", "") + "--B--\r\n"), 0);
  EXPECT_EQ(table_[0].val, upload_path("a b.txt", 0));
  EXPECT_EQ(read_file(upload_path("a b.txt", 0)), "");
}

TEST_F(ParserTest, LongNamesAreCut) {
  std::string name(250, 'n');
  std::string fname(150, 'f');
  std::string fname_long(260, 'g');
  std::string body = field(name, "v") + file("f", fname + ".dat", "x") +
                     file("g", "C:\\" + fname_long, "y") + "--B--\r\n";
  ASSERT_EQ(parse(body), 0);
  ASSERT_EQ(count(), 3);
  EXPECT_EQ(std::string(table_[0].name), std::string(199, 'n'));
  EXPECT_EQ(table_[1].val, upload_path(fname + ".dat", 1));  // 154: whole
  EXPECT_EQ(table_[2].val, upload_path(std::string(199, 'g'), 2));
  EXPECT_EQ(read_file(upload_path(std::string(199, 'g'), 2)), "y");
}

TEST_F(ParserTest, AtMost9999Parts) {
  std::string body;
  for (int i = 0; i < 10001; ++i) body += field("k" + std::to_string(i), "v");
  body += "--B--\r\n";
  ASSERT_EQ(parse(body), 0);
  EXPECT_EQ(count(), 9999);
  EXPECT_STREQ(table_[9998].name, "k9998");
}

TEST_F(ParserTest, BrokenInputKeepsThePairsSoFar) {
  std::string body = field("a", "1") + file("f", "u.bin", "partial data");
  body.resize(body.size() - 2);  // no CR LF, no closing boundary
  EXPECT_EQ(parse(body), -1);
  EXPECT_STREQ(POST_errmsg, "Broken Input...");
  EXPECT_STREQ(table_[0].val, "1");
  EXPECT_STREQ(table_[1].name, "f");
  EXPECT_EQ(table_[2].name, nullptr);
  // The upload holds what the plain window wrote: all but the last
  // separator-length bytes ("\r\n--B" is 5 long).
  EXPECT_EQ(read_file(upload_path("u.bin", 1)), "partial");
}

TEST_F(ParserTest, HostileBodies) {
  // No boundary line: the first line counts as one. Here no later line
  // names a field, so the table is empty ...
  EXPECT_EQ(parse("Content-Disposition: form-data; name=\"a\"\r\n\r\nv\r\n"), 0);
  EXPECT_EQ(count(), 0);
  // ... and here a field's content never meets that "separator".
  EXPECT_EQ(parse("junk\r\nContent-Disposition: form-data; name=\"a\"\r\n\r\nv\r\n--B--\r\n"), -1);
  EXPECT_STREQ(POST_errmsg, "Broken Input...");
  // Empty body, only a boundary, only garbage: an empty table.
  EXPECT_EQ(parse(""), 0);
  EXPECT_EQ(count(), 0);
  EXPECT_EQ(parse("--B\r\n"), 0);
  EXPECT_EQ(count(), 0);
  EXPECT_EQ(parse(std::string(100000, 'x')), 0);
  EXPECT_EQ(count(), 0);
  // A huge header line is read in pieces; NUL bytes end texts, not the parse.
  std::string huge = "--B\r\nContent-Disposition: form-data; name=\"h\"\r\nX-Junk: " +
                     std::string(100000, 'j') + "\r\n\r\nv\0w\r\n--B--\r\n"s;
  EXPECT_EQ(parse(huge), 0);
  EXPECT_STREQ(table_[0].name, "h");
  EXPECT_STREQ(table_[0].val, "v");
  // A name without its closing quote runs to the end of the line.
  EXPECT_EQ(parse("--B\r\nContent-Disposition: form-data; name=\"open\r\n\r\nz\r\n--B--"), 0);
  EXPECT_STREQ(table_[0].name, "open");
  EXPECT_STREQ(table_[0].val, "z");
}

TEST_F(ParserTest, BigPlainFieldIsCut) {
  std::string big(kMaxFieldValue + 10, 'p');
  ASSERT_EQ(parse(field("big", big) + field("after", "ok") + "--B--\r\n"), 0);
  EXPECT_EQ(std::strlen(table_[0].val), kMaxFieldValue);
  EXPECT_STREQ(table_[1].val, "ok");
}

TEST_F(ParserTest, UnwritableDirectoryFailsClearly) {
  std::string missing = dir_ + "/no/such/dir";
  int fd = fd_of(field("a", "1"));
  EXPECT_EQ(E_POST_parse(table_.data(), fd, missing.c_str()), -1);
  close(fd);
  EXPECT_EQ(std::string(POST_errmsg).rfind("Cannot create the scratch file " + missing, 0), 0u)
      << POST_errmsg;

  // The scratch file can be made, the upload cannot: a directory is in the way.
  std::string in_the_way = upload_path("d", 0);
  ASSERT_EQ(mkdir(in_the_way.c_str(), 0700), 0);
  EXPECT_EQ(parse(file("f", "d", "data") + "--B--\r\n"), -1);
  EXPECT_EQ(std::string(POST_errmsg).rfind("Cannot create the upload file " + in_the_way, 0), 0u)
      << POST_errmsg;
}

TEST_F(ParserTest, UploadsAreRemovedFromTheDirectoryTheyWereStoredIn) {
  // A relative directory, and the page changes directories before the exit:
  // the file removed is the upload, not one of the same name elsewhere.
  char cwd[4096];
  ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
  ASSERT_EQ(chdir(dir_.c_str()), 0);
  ASSERT_EQ(mkdir("up", 0700), 0);
  ASSERT_EQ(mkdir("other", 0700), 0);
  ASSERT_EQ(mkdir("other/up", 0700), 0);
  int fd = fd_of(file("f", "u.txt", "data") + "--B--\r\n");
  ASSERT_EQ(E_POST_parse(table_.data(), fd, "up"), 0);
  close(fd);
  std::string name = "u.txt.." + std::to_string(getpid()) + ".0";
  EXPECT_EQ(table_[0].val, "up/" + name);
  std::ofstream("other/up/" + name) << "not the upload";
  ASSERT_EQ(chdir("other"), 0);
  X_remove_uploads();
  EXPECT_EQ(read_file("up/" + name), "not the upload");
  EXPECT_NE(access((dir_ + "/up/" + name).c_str(), F_OK), 0);
  ASSERT_EQ(chdir(cwd), 0);
}

TEST_F(ParserTest, UploadNeverFollowsASymlink) {
  std::string target = dir_ + "/target";
  std::ofstream(target) << "keep";
  ASSERT_EQ(symlink(target.c_str(), upload_path("s", 0).c_str()), 0);
  EXPECT_EQ(parse(file("f", "s", "overwritten?") + "--B--\r\n"), -1);
  EXPECT_EQ(read_file(target), "keep");
}

}  // namespace
