#include "korbad/command_line.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

struct Parsed {
  bool ok;
  ListenOptions options;
  std::string banners;
};

Parsed parse(std::vector<const char*> args) {
  args.insert(args.begin(), "Korbad");
  char* text = nullptr;
  size_t size = 0;
  FILE* out = open_memstream(&text, &size);
  Parsed p;
  p.ok = parse_command_line(static_cast<int>(args.size()), const_cast<char**>(args.data()), 42,
                            &p.options, out);
  fclose(out);
  p.banners.assign(text, size);
  free(text);
  return p;
}

TEST(CommandLine, DefaultsWithoutArguments) {
  Parsed p = parse({});
  ASSERT_TRUE(p.ok);
  EXPECT_FALSE(p.options.has_address);
  EXPECT_EQ(p.options.port, 5000);
  EXPECT_EQ(p.banners, "");
  EXPECT_EQ(p.options.max_connections, 256);
  EXPECT_EQ(p.options.request_timeout, 30);
}

TEST(CommandLine, LimitsArePlainDecimalsWithinTheirRanges) {
  Parsed p = parse({"-c", "3", "-p", "6001", "-t", "0", "-c", "4096"});
  ASSERT_TRUE(p.ok);
  EXPECT_EQ(p.options.max_connections, 4096);
  EXPECT_EQ(p.options.request_timeout, 0);
  EXPECT_EQ(p.options.port, 6001);
  EXPECT_EQ(parse({"-t", "86400"}).options.request_timeout, 86400);
  for (const char* bad : {"", "0", "4097", "-1", "+5", " 5", "5s", "99999999999999999999"}) {
    EXPECT_FALSE(parse({"-c", bad}).ok) << bad;
  }
  for (const char* bad : {"", "86401", "-1", "1.5", "x"}) EXPECT_FALSE(parse({"-t", bad}).ok) << bad;
  EXPECT_FALSE(parse({"-c"}).ok);
  EXPECT_FALSE(parse({"-t"}).ok);
}

TEST(CommandLine, OneBannerPerPortOption) {
  Parsed p = parse({"-p", "127.0.0.1:6001", "-p", "6002"});
  ASSERT_TRUE(p.ok);
  EXPECT_EQ(p.banners,
            "\nKorbad v.3.12 (vek) ==> IP:[127.0.0.1] Port:[6001] PID:42\n"
            "\nKorbad v.3.12 (vek) ==> IP:[any] Port:[6002] PID:42\n");
  // The last port wins; the earlier address stays in force.
  EXPECT_EQ(p.options.port, 6002);
  EXPECT_TRUE(p.options.has_address);
  EXPECT_EQ(p.options.address, "127.0.0.1");

  p = parse({"-p", "10.0.0.1:1", "-p", "10.0.0.2:2:3"});
  EXPECT_EQ(p.options.address, "10.0.0.2");
  EXPECT_EQ(p.options.port, 2);
}

TEST(CommandLine, PortIsReadAsDecimalAndCutTo16Bits) {
  EXPECT_EQ(parse({"-p", "70000"}).options.port, 70000 - 65536);
  EXPECT_EQ(parse({"-p", " 81x"}).options.port, 81);
  EXPECT_FALSE(parse({"-p", "none"}).ok);
  EXPECT_EQ(parse({"-p", "99999999999999999999999"}).options.port, 0xFFFF);
}

}  // namespace
