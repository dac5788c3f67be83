#include "vandrel/services/request.h"

#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "vandrel/services/cookies.h"
#include "vandrel/core/errors.h"
#include "vandrel/services/form_input.h"
#include "vandrel/services/multipart_input.h"
#include "vandrel/core/output.h"
#include "vandrel/statements/page_reader.h"
#include "vandrel/core/settings.h"
#include "vandrel/core/variable_store.h"
#include "vandrel/core/trace.h"
#include "vandrel/services/sql_layer.h"
#include "vandrel/services/stream_commands.h"

const char* X_PAGE = nullptr;
const char* X_BASE = nullptr;
int X_BASE_hold = 0;

namespace {

constexpr char kBanner[] = "Vandrel v.7.6 (vek)";
constexpr char kDefaultBase[] = "Vandrel";
constexpr char kShellKey[] = "shell:00";
constexpr size_t kMaxPageValue = 500;
constexpr int kEnvLineSize = 3000;
constexpr int kConfigLineSize = 100;

// Storage of the process-wide settings (these and those of core/settings.h).
std::string home_text, tmp_text, root_text, base_text, page_text, error_text;

// Environment strings from "x.env" live here for the life of the process.
constexpr int kEnvPoolSize = 4096;
char env_pool[kEnvPoolSize];
int env_pool_used = 0;

bool header_printed = false;
bool content_type_printed = false;

// How the request is answered.
enum class Reply { kShell, kCgi, kHead };
Reply reply = Reply::kShell;

int env_pool_left() { return kEnvPoolSize - env_pool_used; }

// Puts "name=value" into the environment through the pool; false when it
// does not fit.
bool pool_putenv(const char* line, size_t len) {
  if (env_pool_left() <= static_cast<int>(len)) return false;
  char* slot = env_pool + env_pool_used;
  std::memcpy(slot, line, len + 1);
  putenv(slot);
  env_pool_used += static_cast<int>(len) + 2;
  return true;
}

bool is_regular_file(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// Reads one line of at most size-1 bytes into `buf`. A longer line is
// consumed whole and reported as over-long, so its tail never reads as a line
// of its own. False at the end of the stream.
bool read_config_line(FILE* in, char* buf, int size, bool* overlong) {
  if (!std::fgets(buf, size, in)) return false;
  size_t len = std::strlen(buf);
  *overlong = false;
  if (len == static_cast<size_t>(size - 1) && buf[len - 1] != '\n') {
    int c = std::getc(in);
    if (c == '\n' || c == EOF) return true;  // the line fit exactly
    *overlong = true;
    while (c != '\n' && c != EOF) c = std::getc(in);
  }
  return true;
}

std::string find_home() {
  if (const char* home = std::getenv("X_HOME")) return home;
  for (const char* dir : {"/Vandrel", "/etc/Vandrel", "/opt/Vandrel", "/apps/Vandrel"})
    if (is_regular_file(std::string(dir) + "/x.config")) return dir;
  return ".";
}

void load_env_file() {
  std::string path = home_text + "/x.env";
  FILE* in = std::fopen(path.c_str(), "r");
  if (!in) return;
  char line[kEnvLineSize];
  bool overlong = false;
  while (read_config_line(in, line, sizeof line, &overlong)) {
    if (overlong || line[0] == '#' || !std::strchr(line, '=')) continue;
    size_t len = std::strlen(line);
    if (len > 0 && line[len - 1] == '\n') line[--len] = '\0';
    pool_putenv(line, len);
  }
  std::fclose(in);
}

std::string server_key() {
  if (const char* host = std::getenv("HTTP_HOST"))
    return std::strchr(host, ':') ? std::string(host) : std::string(host) + ":80";
  const char* name = std::getenv("SERVER_NAME");
  const char* port = std::getenv("SERVER_PORT");
  return std::string(name ? name : "shell") + ":" + (port ? port : "00");
}

struct ConfigLine {
  std::string root, base, hold;
};

// Looks up the first line of "x.config" whose server word is `key`. False
// when the file cannot be opened.
bool read_config(const std::string& key, ConfigLine* found) {
  std::string path = home_text + "/x.config";
  FILE* in = std::fopen(path.c_str(), "r");
  if (!in) return false;
  char line[kConfigLineSize];
  bool overlong = false;
  while (read_config_line(in, line, sizeof line, &overlong)) {
    if (overlong) continue;
    std::string words[4];
    char* save = nullptr;
    int n = 0;
    for (char* w = strtok_r(line, " \t\r\n", &save); w && n < 4; w = strtok_r(nullptr, " \t\r\n", &save))
      words[n++] = w;
    if (n > 0 && words[0] == key) {
      *found = {words[1], words[2], words[3]};
      break;
    }
  }
  std::fclose(in);
  return true;
}

// Folds every "//" and "/./" to "/" until none is left.
std::string fold_path(std::string path) {
  for (bool changed = true; changed;) {
    changed = false;
    for (size_t at; (at = path.find("//")) != std::string::npos; changed = true) path.erase(at, 1);
    for (size_t at; (at = path.find("/./")) != std::string::npos; changed = true) path.erase(at, 2);
  }
  return path;
}

// True when `path` lies in the directory `root` (at a component boundary).
bool under_root(const std::string& path, const std::string& root) {
  if (path.compare(0, root.size(), root) != 0) return false;
  return root.ends_with('/') || path.size() == root.size() || path[root.size()] == '/';
}

// True when the directories of `rest` (a path below the root) never climb
// above it; the last component, the file name, is not counted.
bool stays_inside(const std::string& rest) {
  int depth = 0;
  size_t start = 0;
  while (true) {
    size_t slash = rest.find('/', start);
    if (slash == std::string::npos) return true;  // the file name
    std::string part = rest.substr(start, slash - start);
    start = slash + 1;
    if (part.empty() || part == ".") continue;
    depth += part == ".." ? -1 : 1;
    if (depth < 0) return false;
  }
}

// The check above is textual, so a symbolic link in the root can still lead
// out of it. With X_ROOT_LINKS=inside (from x.env) the page's real path must
// lie in the root's real path too. Unset, empty or "follow" keeps the textual
// check alone: sites set up before the setting may rely on links out. Any
// other value means "inside", so that a misspelt setting refuses rather than
// lets a page through.
bool links_must_stay_inside() {
  const char* setting = std::getenv("X_ROOT_LINKS");
  return setting && setting[0] && std::strcmp(setting, "follow") != 0;
}

// True when the real path of `path` is not in the real path of `root`, and
// also when either cannot be resolved.
bool leads_out(const std::string& path, const char* root) {
  char real_root[PATH_MAX];
  char real_path[PATH_MAX];
  if (!realpath(root, real_root) || !realpath(path.c_str(), real_path)) return true;
  return !under_root(real_path, real_root);
}

void take_shell_arguments(int argc, char** argv) {
  bool page_taken = false;
  for (int i = 1; i < argc;) {
    const char* arg = argv[i];
    if (arg[0] == '-' && i + 1 < argc) {
      if (std::strcmp(arg, "-V") == 0) {
        X_header();
        i += 1;
        continue;
      }
      if (std::strcmp(arg, "-X_PAGE") == 0) {
        if (X_checkpage(argv[i + 1]) == 0)
          page_taken = true;
        else
          X_add_value("X_PAGE", argv[i + 1]);
      } else if (arg[1] != '\0') {
        X_add_value(arg + 1, argv[i + 1]);
      }
      i += 2;
      continue;
    }
    if (!page_taken && X_checkpage(arg) == 0) page_taken = true;
    ++i;
  }
}

// Decodes the form fields of a CGI request; false when decoding failed.
bool decode_request(int method) {
  int rc;
  if (method == kPost) {
    if (CheckEnctypeMethod() == 0) {
      rc = POST_parser(ent);
    } else {
      rc = E_POST_parser(ent);
    }
  } else {
    rc = GET_parser(ent, "X_PAGE");
    if (rc == 0) rc = GET_path(ent, "X_PAGE");
  }
  return rc == 0;
}

// The error path's view of the answer: what a fatal error may still write.
bool error_open_body() {
  if (X_head_request()) {
    // The answer to HEAD is a header without a body: the error page and the
    // message would be body, so only the header is completed.
    X_content_type();
    X_header();
    return false;
  }
  // A CGI reply starts with its header whatever failed, also a request
  // whose fields could not be decoded, before the content-type line was due.
  if (reply == Reply::kCgi) X_content_type();
  X_header();
  return true;
}

void run_error_page(const char* path) { X_printfile(path, 1); }

}  // namespace

void X_env() {
  home_text = find_home();
  X_HOME = home_text.c_str();
  load_env_file();
  if (const char* tmp = std::getenv("TMP_DIR")) {
    tmp_text = tmp;
  } else {
    tmp_text = "/tmp";
    char line[32];
    int len = std::snprintf(line, sizeof line, "TMP_DIR=%s", tmp_text.c_str());
    if (env_pool_left() >= 15) pool_putenv(line, len);
  }
  TMP_DIR = tmp_text.c_str();
}

int X_checkpage(const char* name) {
  if (access(name, R_OK) != 0) return -1;
  X_add_value("X_PAGE", name);
  return 0;
}

void X_header() {
  if (header_printed) return;
  header_printed = true;
  // The first CR LF is the blank line that ends the header block; the rest
  // is body, which the answer to HEAD has none of.
  if (reply == Reply::kHead) {
    std::fputs("\r\n", stdout);
  } else {
    std::printf("\r\n\r\n<!-- %s -->\n\n", kBanner);
    X_set_body_open(true);
    X_form_warnings(stdout);
  }
  std::fflush(stdout);
}

bool X_head_request() { return reply == Reply::kHead; }

void X_content_type() {
  if (content_type_printed) return;
  content_type_printed = true;
  std::fputs("Content-Type: text/html\r\n", stdout);
  std::fflush(stdout);
}

void X_values(const char* prog) {
  std::string key = server_key();
  ConfigLine config;
  if (!read_config(key, &config)) {
    if (key != kShellKey) {
      ERRMSG("Cannot open X_HOME config file: %s", (home_text + "/x.config").c_str());
      return;
    }
    char cwd[PATH_MAX];
    config.root = getcwd(cwd, sizeof cwd) ? cwd : ".";
  }
  if (config.root.empty()) {
    ERRMSG("No X_ROOT configuration for SERVER: %s\n", key.c_str());
    return;
  }
  if (chdir(config.root.c_str()) != 0) {
    ERRMSG("Cannot change to X_ROOT: %s \n", config.root.c_str());
    return;
  }
  root_text = config.root;
  X_ROOT = root_text.c_str();
  base_text = config.base.empty() ? kDefaultBase : config.base;
  X_BASE = base_text.c_str();
  X_BASE_hold = config.hold == "hold" ? 1 : 0;

  char pid[16];
  std::snprintf(pid, sizeof pid, "%d", static_cast<int>(getpid()));
  const char* slash = std::strrchr(prog, '/');
  X_put_value("X_ROOT", X_ROOT, kReadOnly, 0);
  X_put_value("X_HOME", X_HOME, kReadOnly, 0);
  X_put_value("X_PID", pid, kReadOnly, 0);
  X_put_value("X_PROG", slash ? slash + 1 : prog, kReadOnly, 0);
  X_put_value("X_BASE", X_BASE, X_BASE_hold ? kReadOnly : 0, 0);

  for (const entry* e = ent; e->name; ++e)
    if (e->name[0] && e->val && e->val[0]) X_add_value(e->name, e->val);

  if (X_get_user("X_PAGE")) {
    X_check_name(X_ROOT, "X_PAGE");
    page_text = X_get_value("X_PAGE");
    X_PAGE = page_text.c_str();
  }
  if (X_get_user("X_ERROR")) {
    X_check_name(X_ROOT, "X_ERROR");
    error_text = X_get_value("X_ERROR");
    X_ERROR = error_text.c_str();
  }
  X_default_names(X_ROOT);
  if (!X_PAGE) ERRMSG("### Not found X_PAGE value...");
}

void X_check_name(const char* root, const char* variable) {
  const std::string value = X_get_value(variable);
  if (value.size() > kMaxPageValue) {
    ERRMSG("Invalid %s value: %s \n", variable, value.c_str());
    return;
  }
  const std::string folded_root = fold_path(root);
  std::string path =
      fold_path(under_root(fold_path(value), folded_root) ? value : std::string(root) + "/" + value);
  std::string rest = path.substr(std::min(folded_root.size(), path.size()));
  if (!stays_inside(rest) || !is_regular_file(path)) {
    ERRMSG("Invalid %s value: %s \n", variable, value.c_str());
    return;
  }
  if (links_must_stay_inside() && leads_out(path, root)) {
    ERRMSG("Invalid %s value: %s (a link leads out of X_ROOT) \n", variable, value.c_str());
    return;
  }
  if (path != value) X_put_value(variable, path.c_str(), 0, 0);
}

void X_default_names(const char* root) {
  if (!X_PAGE) {
    std::string page = std::string(root) + "/x.page";
    if (is_regular_file(page)) {
      if (links_must_stay_inside() && leads_out(page, root)) {
        ERRMSG("Invalid %s value: %s (a link leads out of X_ROOT) \n", "X_PAGE", page.c_str());
        return;
      }
      X_put_value("X_PAGE", page.c_str(), 0, 0);
      page_text = page;
      X_PAGE = page_text.c_str();
    }
  }
  if (X_ERROR || !X_PAGE) return;
  std::string error = page_text.substr(0, page_text.rfind('/') + 1) + "x.error";
  // An error page beside the page that leads out is not used, as if absent.
  if (is_regular_file(error) && !(links_must_stay_inside() && leads_out(error, root))) {
    X_put_value("X_ERROR", error.c_str(), 0, 0);
    error_text = error;
    X_ERROR = error_text.c_str();
  }
}

int X_action() { return X_printfile(X_PAGE, 1); }

void X_main(int argc, char** argv) {
  // Before anything can fail: a fatal error from here on is answered as the
  // request asks and ends with every cleanup. The cleanups run in this order:
  // database connections, then the streams (a pipe's output follows the
  // page's), then the uploads.
  X_output_init();
  X_set_error_hooks({error_open_body, run_error_page});
  if (!X_on_exit(X_finish) || !X_register_stream_cleanup() || !X_register_upload_cleanup())
    ERRMSG("No room for the exit-time cleanups");
  Debug = 0;
  Trace = 0;
  X_store_init();
  X_env();
  // Known before the first trace line: inline tracing must not write into
  // a header that is still open.
  int method = GetMethod();
  reply = method == kShellRun ? Reply::kShell : method == kHead ? Reply::kHead : Reply::kCgi;
  X_set_body_open(reply == Reply::kShell);
  X_trace("==> Vandrel: started...");
  X_debug("==> Vandrel: started...");

  if (method == kShellRun) {
    X_trace("Unknown http method");
    take_shell_arguments(argc, argv);
  } else {
    if (!decode_request(method)) ERRMSG("%s", POST_errmsg);
    X_content_type();
  }

  X_trace("\n==>  X_values(); \n");
  X_values(argc > 0 ? argv[0] : "Vandrel");
  X_set_cookies();
  if (method != kShellRun) X_header();
  if (method == kHead) {
    X_trace("\n==>  HEAD: no body; EXIT; \n");
    X_exit(0);
  }

  X_trace("\n==>  X_action(); \n");
  X_action();
  X_trace("\n==>  EXIT; \n");
  X_exit(0);
}
