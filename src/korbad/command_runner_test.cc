#include "korbad/command_runner.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

namespace {

TEST(BuildCommandLine, JoinsPathAndArgumentsWithinLimit) {
  char out[kCommandLineMax + 1];
  build_command_line("/usr/bin/vmstat", " 5 rm x", out);
  EXPECT_STREQ(out, "/usr/bin/vmstat  5 rm x");
  std::string args(600, 'a');
  build_command_line("/p", args.c_str(), out);
  EXPECT_EQ(std::string(out), "/p " + std::string(508, 'a'));
}

TEST(SplitPlainCommand, OnlyLinesTheShellWouldJustSplit) {
  char storage[kCommandLineMax + 1];
  char* argv[8];
  ASSERT_TRUE(split_plain_command("/bin/echo  a,b -c:d ", storage, argv, 7));
  EXPECT_STREQ(argv[0], "/bin/echo");
  EXPECT_STREQ(argv[1], "a,b");
  EXPECT_STREQ(argv[2], "-c:d");
  EXPECT_EQ(argv[3], nullptr);
  // Globs, shell syntax from the access file, names the shell would look up.
  for (const char* line : {"/bin/ls *", "/bin/x$HOME", "A=b /bin/x", "~/x", "echo a", "/x 'a'"}) {
    EXPECT_FALSE(split_plain_command(line, storage, argv, 7)) << line;
  }
  EXPECT_FALSE(split_plain_command("/x 1 2 3 4 5 6 7", storage, argv, 7));
}

// A command started for real, with one end of a socket pair as its client
// (close-on-exec, as the service accepts its connections).
class Runner : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair_), 0); }
  void TearDown() override {
    if (cmd_.pid > 0) finish_command(&cmd_);
    for (int s : pair_) {
      if (s >= 0) close(s);
    }
  }

  FirstLine first(const char* command_line, std::string* got) {
    EXPECT_TRUE(start_command(command_line, &cmd_));
    size_t have = 0;
    FirstLine r = wait_first_line(cmd_.out, client(), buf_, sizeof(buf_), &have);
    got->assign(buf_, have);
    return r;
  }

  int client() { return pair_[0]; }

  int pair_[2] = {-1, -1};
  RunningCommand cmd_;
  char buf_[4096];
};

TEST_F(Runner, ProgramRunWithoutShellSeesWhatTheShellWouldGiveIt) {
  std::string direct, through_shell;
  // "*" sends the second line through the shell; it matches nothing, so the
  // shell leaves it as it is.
  ASSERT_EQ(first("/usr/bin/printenv PWD", &direct), FirstLine::kReady);
  finish_command(&cmd_);
  ASSERT_EQ(first("/usr/bin/printenv PWD nomatch*", &through_shell), FirstLine::kReady);
  EXPECT_EQ(direct, through_shell);
}

TEST_F(Runner, ScriptWithoutInterpreterLineStillRuns) {
  char path[] = "/tmp/korbad_script_XXXXXX";
  int f = mkstemp(path);
  ASSERT_GE(f, 0);
  ASSERT_EQ(write(f, "echo via shell\n", 15), 15);
  close(f);
  chmod(path, 0755);
  std::string got;
  EXPECT_EQ(first(path, &got), FirstLine::kReady);
  EXPECT_EQ(got, "via shell\n");
  unlink(path);
}

TEST_F(Runner, ExtraBytesFromTheClientAreDropped) {
  ASSERT_EQ(write(pair_[1], "more", 4), 4);
  std::string got;
  EXPECT_EQ(first("sleep 0.2; echo late", &got), FirstLine::kReady);
  EXPECT_EQ(got, "late\n");
}

}  // namespace
