// Where the service finds its access file and its process-tree listers:
// /etc/Korbad, or the directory named by KORBAD_HOME. The paths are fixed at
// start-up in static storage, because the SIGTERM handler needs them too.
#ifndef KORBAD_KORBAD_HOME_H_
#define KORBAD_KORBAD_HOME_H_

inline constexpr char kDefaultHome[] = "/etc/Korbad";

struct KorbadPaths {
  char access[4096];       // HOME/access
  char chld_script[4096];  // HOME/bin/chldPID.sh
  char ptree[4096];        // HOME/bin/ptree
};

// Fills paths from home (nullptr or "" means kDefaultHome). Returns false if
// the home directory name is too long for the buffers.
bool korbad_paths_init(const char* home, KorbadPaths* paths);

// The paths of this process, set once by korbad_use_home.
const KorbadPaths& korbad_paths();
bool korbad_use_home(const char* home);

#endif  // KORBAD_KORBAD_HOME_H_
