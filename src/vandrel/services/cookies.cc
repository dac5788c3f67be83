#include "vandrel/services/cookies.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "vandrel/core/argument_split.h"
#include "vandrel/statements/command_table.h"
#include "vandrel/core/line_buffer.h"
#include "vandrel/core/variable_store.h"
#include "vandrel/core/trace.h"
#include "vandrel/values/substitution.h"
#include "vandrel/values/text_escapes.h"

namespace {

constexpr char kDeleteFormat[] =
    "Set-Cookie: %s=NULL; path=/; expires=Wednesday, 21-Aug-1996 01:21:36 GMT \n";
constexpr char kServerFormat[] = "Set-Cookie: %s=%s; path=/; expires=31-Dec-2037 23:55:00 GMT \n";
constexpr char kSessionFormat[] = "Set-Cookie: %s=%s; path=/; \n";

// printf into a string of any length.
std::string format_line(const char* format, const char* name, const char* value) {
  int len = value ? std::snprintf(nullptr, 0, format, name, value)
                  : std::snprintf(nullptr, 0, format, name);
  std::string out(len > 0 ? static_cast<size_t>(len) : 0, '\0');
  if (value)
    std::snprintf(out.data(), out.size() + 1, format, name, value);
  else
    std::snprintf(out.data(), out.size() + 1, format, name);
  return out;
}

// The URL-encoded `value`, cut at a whole escape so that the header line of
// cookie `name` fits in kCookieHeaderSize bytes: the buffer less the line's
// fixed text (its format without the two "%s") and the name.
std::string encoded_value(const char* name, const char* value, bool session) {
  const char* format = session ? kSessionFormat : kServerFormat;
  size_t fixed = std::strlen(format) - 4 + std::strlen(name);
  size_t room = fixed + 1 < kCookieHeaderSize ? kCookieHeaderSize - fixed : 1;
  static char encoded[kCookieHeaderSize];
  escape_url(value, encoded, room);
  return encoded;
}

// The lists can be request fields, so a name is the one header text a
// client controls: a control byte, blank, ";", "," or "=" in it would end
// the line or the cookie and let the client write header lines of its own.
// Names beginning with "X_" are the interpreter's own variables (X_ROOT,
// X_HOME, ...), which a request must not be able to read back as cookies.
bool sendable_name(const char* name) {
  if (std::strncmp(name, "X_", 2) == 0) return false;
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(name); *p; ++p)
    if (*p < 0x20 || *p == 0x7f || *p == ' ' || *p == ';' || *p == ',' || *p == '=')
      return false;
  return true;
}

// Sends the cookies named in the list variable `list`; a missing list is
// skipped.
void send_list(const char* list, bool session) {
  const char* names = X_get_value(list);
  if (!names) return;
  LineBuffer name;
  for (const char* p = names;;) {
    int used = X_arg_string(p, name.data(), LineBuffer::size());
    if (used == 0) break;
    p += used;
    if (!name.data()[0]) continue;  // an empty quoted item names nothing
    if (!sendable_name(name.data())) {
      char shown[3 * kMaxCookieName + 1];  // encoded, so the trace line stays one line
      escape_url(name.data(), shown, sizeof shown);
      X_trace("Cookie name not sent: [%s]\n", shown);
      continue;
    }
    const char* value = X_get_value(name.data());
    std::fputs(X_cookie_header(name.data(), value, session).c_str(), stdout);
    if (!value || !value[0]) {
      X_debug("Del-Cookie: %s\n", name.data());
    } else if (!session && Debug) {
      X_debug("Set-Cookie: %s=%s\n", name.data(), encoded_value(name.data(), value, false).c_str());
    }
  }
}

}  // namespace

std::string X_cookie_value(const char* cookies, const char* name) {
  if (!cookies) return "";
  std::string needle = std::string(name) + "=";
  const char* found = std::strstr(cookies, needle.c_str());
  if (!found) return "";
  const char* text = found + needle.size();
  size_t len = std::strcspn(text, ";");
  if (len > kMaxCookieValue) len = kMaxCookieValue;
  char value[kMaxCookieValue + 1];
  std::memcpy(value, text, len);
  value[len] = '\0';
  unescape_url(value);
  return value;
}

std::string X_cookie_header(const char* name, const char* value, bool session) {
  if (!value || !value[0]) return format_line(kDeleteFormat, name, nullptr);
  return format_line(session ? kSessionFormat : kServerFormat, name,
                     encoded_value(name, value, session).c_str());
}

int X_cookie(X_FILE* /*file*/, char* line, int& compile, int ignore) {
  if (std::strncmp(line, "<@cookie>", 9) != 0) return -1;
  X_trace("X_cookie: {%s} compile: %d  ignore: %d \n", line, compile, ignore);
  if (ignore) return 0;
  LineBuffer text;
  X_transline(X_command_args(line), text.data(), LineBuffer::size(), compile);
  X_debug("%s // %s \n", line, text.data());
  char name[kMaxCookieName + 1];
  X_arg_string(text.data(), name, sizeof name);
  if (!name[0]) return 0;  // no name: nothing to set
  std::string value = X_cookie_value(std::getenv("HTTP_COOKIE"), name);
  X_put_value(name, value.c_str(), 0, 0);
  return 0;
}

void X_set_cookies() {
  send_list("X_ServerCOOKIES", false);
  send_list("X_SessionCOOKIES", true);
}
