#include "korbad/access_file.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

struct Names {
  std::vector<std::string> names;
};

void add_name(void* names, std::string_view name) {
  static_cast<Names*>(names)->names.emplace_back(name);
}

// Runs the access walk over text as if it were the file.
AccessVerdict check(const std::string& text, const char* client, const char* word, Names* list,
                    std::string* path = nullptr) {
  FILE* f = fmemopen(const_cast<char*>(text.data()), text.size(), "r");
  char found[kPathMax + 1] = "";
  ListSink sink = {add_name, list};
  AccessVerdict v = check_access(f, client, word, list != nullptr ? &sink : nullptr, found);
  fclose(f);
  if (path != nullptr) *path = found;
  return v;
}

std::vector<std::string> listing(const std::string& text, const char* client) {
  Names names;
  EXPECT_EQ(check(text, client, "STAT_LIST", &names), AccessVerdict::kListed);
  return names.names;
}

using Names_ = std::vector<std::string>;

const char kRuns[] =
    "command open /bin/open\n"
    "access 10.0.0.1\n"
    "access 10.0.0.2\n"
    "command both /bin/both\n"
    "command both2 /bin/both2\n"
    "access 10.0.0.3\n"
    "command third /bin/third\n";

TEST(AccessRuns, CommandsBeforeFirstRunAreOpenToEveryone) {
  EXPECT_EQ(listing(kRuns, "192.168.1.1"), Names_({"open"}));
}

TEST(AccessRuns, ConsecutiveAddressesShareTheirCommands) {
  EXPECT_EQ(listing(kRuns, "10.0.0.1"), Names_({"open", "both", "both2"}));
  EXPECT_EQ(listing(kRuns, "10.0.0.2"), Names_({"open", "both", "both2"}));
  EXPECT_EQ(listing(kRuns, "10.0.0.3"), Names_({"open", "third"}));
}

TEST(AccessRuns, AddressesAreComparedAsWholeText) {
  EXPECT_EQ(listing(kRuns, "10.0.0.10"), Names_({"open"}));
  EXPECT_EQ(listing("access 10.0.0.*\ncommand x /x\n", "10.0.0.1"), Names_());
}

TEST(AccessRuns, FindsGrantedCommandAndRefusesOthers) {
  std::string path;
  EXPECT_EQ(check(kRuns, "10.0.0.2", "both2", nullptr, &path), AccessVerdict::kFound);
  EXPECT_EQ(path, "/bin/both2");
  EXPECT_EQ(check(kRuns, "10.0.0.2", "third", nullptr), AccessVerdict::kNoAccess);
  EXPECT_EQ(check(kRuns, "10.0.0.2", "", nullptr), AccessVerdict::kNoAccess);
  // The first declaration the client may use wins.
  EXPECT_EQ(check("command a /one\ncommand a /two\n", "1.2.3.4", "a", nullptr, &path),
            AccessVerdict::kFound);
  EXPECT_EQ(path, "/one");
}

TEST(AccessLines, CommentsShortLinesAndUnknownKeywordsAreIgnored) {
  const char text[] =
      "access 10.0.0.9\n"
      "#command hidden /bin/hidden\n"
      "a b\n"
      "\n"
      "note 10.0.0.1 anything\n"  // neither grants nor ends the run
      "access 10.0.0.1\n"         // same run as 10.0.0.9
      "command x /bin/x\n";
  EXPECT_EQ(listing(text, "10.0.0.1"), Names_({"x"}));
  EXPECT_EQ(listing(text, "10.0.0.9"), Names_({"x"}));
}

TEST(AccessLines, WhiteSpaceAndLineEndsSeparateWords) {
  std::string path;
  EXPECT_EQ(
      check("access\t10.0.0.1\r\ncommand \t ps   /bin/ps\r\n", "10.0.0.1", "ps", nullptr, &path),
      AccessVerdict::kFound);
  EXPECT_EQ(path, "/bin/ps");
}

TEST(AccessLines, HalfOrOversizedCommandLinesDeclareNothingButEndTheRun) {
  std::string name40(40, 'n');
  std::string path104 = "/" + std::string(103, 'p');
  std::string text = "access 10.0.0.1\ncommand bare\n" + std::string("command ") + name40 +
                     " /bin/x\ncommand ok " + path104 + "\naccess 10.0.0.2\ncommand y /bin/y\n";
  EXPECT_EQ(listing(text, "10.0.0.1"), Names_());
  EXPECT_EQ(check(text, "10.0.0.1", "bare", nullptr), AccessVerdict::kNoAccess);
  // "access 10.0.0.2" starts a new run because the half lines ended the first.
  EXPECT_EQ(listing(text, "10.0.0.2"), Names_({"y"}));

  std::string at_limits = "command " + std::string(39, 'n') + " /" + std::string(102, 'p') + "\n";
  EXPECT_EQ(listing(at_limits, "1.1.1.1"), Names_({std::string(39, 'n')}));
}

TEST(AccessLines, TailOfAnOverlongLineIsNotALine) {
  // A long comment whose tail, cut off by a fixed-size read, would read as a
  // declaration.
  std::string text = "#" + std::string(510, ' ') + "command sh /bin/sh\ncommand ok /bin/ok\n";
  EXPECT_EQ(listing(text, "1.1.1.1"), Names_({"ok"}));

  FILE* f = fmemopen(text.data(), text.size(), "r");
  char line[kAccessLineMax + 1];
  EXPECT_EQ(read_access_line(f, line), 511);
  EXPECT_EQ(read_access_line(f, line), 19);
  EXPECT_STREQ(line, "command ok /bin/ok\n");
  EXPECT_EQ(read_access_line(f, line), -1);
  fclose(f);
}

}  // namespace
