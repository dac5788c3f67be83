// What Vandrel's fuzz targets share: one input is one run of the interpreter,
// from the state a new process has to the state it leaves, and a fatal error
// or <@exit> during it ends that run, not the fuzzing process.
#ifndef FUZZ_VANDREL_HARNESS_H_
#define FUZZ_VANDREL_HARNESS_H_

#include <cstddef>
#include <cstdint>
#include <string>

// Once per process: the page output and the error messages go to /dev/null
// (unless FUZZ_SHOW_OUTPUT is set),
// TMP_DIR is a scratch folder of this process (removed at its exit), and
// X_exit comes back to fuzz_run instead of ending the process.
void fuzz_init();

// The scratch folder (no trailing slash).
const char* fuzz_scratch_dir();

// Runs `body(ctx)` on a fresh store and pattern cache, then gives back what
// the run made (variables, arenas, open streams, settings, output). Returns
// the status a fatal error or <@exit> ended the run with, or 0.
int fuzz_run(void (*body)(void* ctx), void* ctx);

template <typename F>
int fuzz_run(F&& body) {
  return fuzz_run([](void* ctx) { (*static_cast<F*>(ctx))(); }, &body);
}

// `release` runs after every run, before the harness gives back the main
// arena: what a higher room keeps there and owns besides (page functions).
void fuzz_on_give_back(void (*release)());

// The input as a NUL-terminated text, cut at its first NUL (as every text of
// the interpreter is) and at `max_size` bytes.
std::string fuzz_text(const uint8_t* data, size_t size, size_t max_size);

#endif  // FUZZ_VANDREL_HARNESS_H_
