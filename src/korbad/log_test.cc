#include "korbad/log.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <climits>
#include <string>
#include <string_view>

namespace {

std::string text(const LogLine& line) {
  return std::string(line.data(), line.size());
}

TEST(LogLine, FormatsIntegersIncludingExtremes) {
  LogLine line;
  line.add("a").add_int(0).add(" ").add_int(-42).add(" ").add_int(LONG_MIN);
  EXPECT_EQ(text(line), "a0 -42 -9223372036854775808");
}

TEST(LogLine, DropsWhatDoesNotFit) {
  LogLine line;
  std::string big(LogLine::kCapacity - 100, 'x');
  line.add(big).add(big).add_int(7);
  EXPECT_EQ(line.size(), LogLine::kCapacity);
  EXPECT_EQ(text(line), std::string(LogLine::kCapacity, 'x'));
}

// What log_connect writes to standard error, caught on a pipe.
std::string connect_line(std::string_view client, std::string_view request) {
  int fds[2];
  if (pipe(fds) != 0) return "";
  int saved = dup(STDERR_FILENO);
  dup2(fds[1], STDERR_FILENO);
  log_connect(client, request);
  dup2(saved, STDERR_FILENO);
  close(saved);
  close(fds[1]);
  std::string out;
  char buf[4096];
  ssize_t n;
  while ((n = read(fds[0], buf, sizeof(buf))) > 0) out.append(buf, static_cast<size_t>(n));
  close(fds[0]);
  return out;
}

// Reverses the escapes of the log: \n \r \t \\ and \xHH.
std::string unescape(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\' || i + 1 >= text.size()) {
      out += text[i];
      continue;
    }
    char c = text[++i];
    if (c == 'n') out += '\n';
    else if (c == 'r') out += '\r';
    else if (c == 't') out += '\t';
    else if (c == 'x' && i + 2 < text.size()) {
      out += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
      i += 2;
    } else out += c;
  }
  return out;
}

TEST(LogLine, ARequestCannotForgeALineAndReadsBackUnchanged) {
  // The longest request there is, every byte of it one that needs an escape,
  // then a forged line: all of it stays in one line, and reads back as sent.
  std::string request;
  for (size_t i = 0; request.size() < 1024 - 40; ++i) {
    const char bytes[] = "\n\r\t\\\x01\x1b\x7f";
    request += bytes[i % (sizeof(bytes) - 1)];
  }
  request += "\nKorbad-1:> Connect -> [10.0.0.1] x";
  request.resize(1024, '\x02');
  std::string line = connect_line("127.0.0.1", request);
  ASSERT_FALSE(line.empty());
  EXPECT_EQ(line.find('\n'), line.size() - 1);
  size_t controls = 0;
  for (unsigned char c : line) controls += c < 0x20 || c == 0x7f;
  EXPECT_EQ(controls, 1u);
  std::string head = "Korbad-" + std::to_string(getpid()) + ":> Connect -> [127.0.0.1] CMD= \"";
  ASSERT_EQ(line.compare(0, head.size(), head), 0) << line.substr(0, 80);
  size_t end = line.rfind("\" TIME: ");
  ASSERT_NE(end, std::string::npos);
  EXPECT_EQ(unescape(line.substr(head.size(), end - head.size())), request);
}

}  // namespace
