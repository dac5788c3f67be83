#include "druvik/options.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace {

// Parses and checks `args` (after the program name). The messages and the
// usage text themselves are checked against the program, under tests/.
struct Parsed {
  std::shared_ptr<std::vector<std::string>> args;  // Settings points into these
  Settings s;
  int errors = 0;
  bool ok = false;
};

Parsed parse(std::vector<std::string> args) {
  Parsed p;
  p.args = std::make_shared<std::vector<std::string>>(std::move(args));
  p.args->insert(p.args->begin(), "Druvik");
  std::vector<char*> argv;
  for (std::string& a : *p.args) argv.push_back(a.data());
  argv.push_back(nullptr);
  FILE* out = std::fopen("/dev/null", "w");
  p.errors = parse_options(static_cast<int>(p.args->size()), argv.data(), &p.s, out);
  p.ok = p.errors >= 0 && check_settings(&p.s, p.errors, out);
  std::fclose(out);
  return p;
}

TEST(OptionsTest, EveryOption) {
  Parsed p = parse({"-c", "rw",  "-s", "16", "-m", "rnd",   "-o", std::string(40, 'W'),
                    "-b", "10",  "-e", "30", "-t", "osync", "-n", "99",
                    "-l", "64",  "-P", "-L", "-i", "5",     "-k", "606",
                    "-g", "grp", "a",  "b"});
  ASSERT_TRUE(p.ok);
  EXPECT_EQ(p.s.command, kReadWrite);
  EXPECT_EQ(p.s.size, 16384);
  EXPECT_EQ(p.s.mode, kRandom);
  EXPECT_EQ(std::string(p.s.order), std::string(31, 'W'));
  EXPECT_EQ(p.s.begin, 10);
  EXPECT_EQ(p.s.end, 30);
  EXPECT_EQ(p.s.type, kOsync);
  EXPECT_EQ(p.s.count_limit, 99);
  EXPECT_EQ(p.s.io_limit, 8);  // 64 KB / 16 KB, doubled for rw
  EXPECT_TRUE(p.s.use_pread && p.s.loop);
  EXPECT_EQ(p.s.id, 5);
  EXPECT_STREQ(p.s.key, "606");
  EXPECT_STREQ(p.s.group, "grp");
  EXPECT_STREQ(p.s.file2, "b");
  EXPECT_EQ(parse({"-i", "1", "a", "b"}).s.file2, nullptr) << "only rw takes a second file";
}

TEST(OptionsTest, ErrorsAreCountedAndHelpStops) {
  EXPECT_EQ(parse({"-c", "x", "-s", "0", "-m", "y", "-t", "z", "-o", "R", "-Q", "f"}).errors, 6);
  EXPECT_EQ(parse({"-i", "1", "-h", "f"}).errors, -1);
  EXPECT_EQ(parse({"-s", "4294967304", "-i", "1", "f"}).errors, 1) << "no 32-bit wrap to 8";
}

TEST(ChecksTest, DerivedLimitsWithoutOverflow) {
  EXPECT_EQ(parse({"-l", "100", "-i", "1", "f"}).s.io_limit, 12);  // (100 x 1024) / 8192
  EXPECT_FALSE(parse({"-l", "7", "-i", "1", "f"}).ok);
  EXPECT_EQ(parse({"-c", "rw", "-l", "99999999999999999999", "-s", "1", "-i", "1", "f"}).s.io_limit,
            INT64_MAX);
  EXPECT_EQ(parse({"-b", "100", "-e", "200", "-i", "1", "f"}).s.count_limit, 100);
  EXPECT_EQ(parse({"-b", "100", "-e", "200", "-n", "7", "-i", "1", "f"}).s.count_limit, 7);
  EXPECT_EQ(parse({"-b", "-9223372036854775808", "-e", "9223372036854775807", "-i", "1", "f"})
                .s.count_limit,
            INT64_MAX);
  EXPECT_FALSE(parse({"-m", "rnd", "-b", "5", "-e", "5", "-i", "1", "f"}).ok);
  EXPECT_TRUE(parse({"-m", "rnd", "-b", "5", "-e", "6", "-i", "1", "f"}).ok);
}

}  // namespace
