#include "hestov/banner.h"

#include <climits>

#include "hestov/findstr.h"

namespace hestov {

bool banner_command(const char* prtconf_path, char* cmd, size_t size) {
  size_t n = 0;
  auto put = [&](const char* s) {
    for (; *s != '\0'; ++s) {
      if (n + 1 >= size) return false;
      cmd[n++] = *s;
    }
    return true;
  };
  // Single quotes take everything literally; a quote itself is closed,
  // escaped and reopened, so no path can reach the shell as syntax.
  bool ok = put("'");
  for (const char* p = prtconf_path; ok && *p != '\0'; ++p) {
    char one[2] = {*p, '\0'};
    ok = put(*p == '\'' ? "'\\''" : one);
  }
  ok = ok && put("' -pv | /usr/bin/head -20 | /usr/bin/grep 'banner-name:' ");
  if (size > 0) cmd[ok ? n : 0] = '\0';
  return ok;
}

FILE* open_banner_pipeline(const char* prtconf_path) {
  char cmd[4 * PATH_MAX + 128];
  if (!banner_command(prtconf_path, cmd, sizeof cmd)) return nullptr;
  // "e": the pipe must not leak into the prtconf child started later.
  return popen(cmd, "re");
}

void find_banner(FILE* in, char* out, size_t out_size) {
  char value[kFindLineMax + 1];
  if (findstr(in, "banner-name:  ", nullptr, value, sizeof value) == 1) {
    quoted_text(value, out, out_size);
  } else if (out_size > 0) {
    out[0] = '\0';
  }
}

}  // namespace hestov
