#include "vandrel/harness.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "vandrel/core/errors.h"
#include "vandrel/core/interpreter_reset.h"
#include "vandrel/core/patterns.h"
#include "vandrel/core/settings.h"
#include "vandrel/core/variable_store.h"

namespace {

// X_exit's way back to fuzz_run. The frames between a fatal error and the
// harness are the interpreter's own, and some of them own std::string and
// std::vector (cookies, multipart input, the command table): longjmp over
// them would skip their destructors, which is undefined behaviour, so the
// hook throws and fuzz_run catches. This exception exists only in the fuzz
// programs; the product never throws across its rooms, it ends the process.
struct RunEnded {
  int status;
};

[[noreturn]] void end_run(int status) { throw RunEnded{status}; }

char scratch[256];
void (*release_more)() = nullptr;

void remove_scratch() {
  std::error_code ec;
  std::filesystem::remove_all(scratch, ec);
}

// As a new process leaves the interpreter when it ends: every arena released,
// the streams closed, the settings as they start.
void give_back() {
  if (release_more) release_more();
  X_reset_interpreter();
  TMP_DIR = scratch;
  std::fflush(stdout);
}

}  // namespace

void fuzz_init() {
  static bool done = false;
  if (done) return;
  done = true;
  // FUZZ_SHOW_OUTPUT=1 keeps it, to see what one input does.
  if (!std::getenv("FUZZ_SHOW_OUTPUT") && !std::freopen("/dev/null", "w", stdout)) std::abort();
  std::snprintf(scratch, sizeof scratch, "%s/vandrel-fuzz.%d",
                std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/tmp", static_cast<int>(getpid()));
  std::filesystem::create_directories(scratch);
  std::atexit(remove_scratch);
  TMP_DIR = scratch;
  X_set_exit_hook(end_run);
}

const char* fuzz_scratch_dir() { return scratch; }

void fuzz_on_give_back(void (*release)()) { release_more = release; }

int fuzz_run(void (*body)(void* ctx), void* ctx) {
  fuzz_init();
  X_patt_cache_reset();
  X_store_init();
  int status = 0;
  try {
    body(ctx);
  } catch (const RunEnded& ended) {
    status = ended.status;
  }
  give_back();
  return status;
}

std::string fuzz_text(const uint8_t* data, size_t size, size_t max_size) {
  const char* text = reinterpret_cast<const char*>(data);
  size_t n = size ? strnlen(text, size) : 0;
  return std::string(text, n < max_size ? n : max_size);
}
