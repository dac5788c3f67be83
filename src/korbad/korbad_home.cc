#include "korbad/korbad_home.h"

#include <cstdio>

namespace {

KorbadPaths g_paths;

bool join(char* out, size_t size, const char* home, const char* leaf) {
  int n = snprintf(out, size, "%s/%s", home, leaf);
  return n >= 0 && static_cast<size_t>(n) < size;
}

}  // namespace

bool korbad_paths_init(const char* home, KorbadPaths* paths) {
  if (home == nullptr || home[0] == '\0') home = kDefaultHome;
  return join(paths->access, sizeof(paths->access), home, "access") &&
         join(paths->chld_script, sizeof(paths->chld_script), home, "bin/chldPID.sh") &&
         join(paths->ptree, sizeof(paths->ptree), home, "bin/ptree");
}

const KorbadPaths& korbad_paths() {
  return g_paths;
}

bool korbad_use_home(const char* home) {
  return korbad_paths_init(home, &g_paths);
}
