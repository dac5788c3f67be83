// The page scanner: the input is a page, run line by line as the request
// runs its page, with value substitution, blocks, functions and variables;
// its output goes to /dev/null.
//
// What a fuzzed page can do is bounded here, not in the interpreter:
//   - <@include>, <@file> and <@xfile> read and write files named by the page,
//     the services' commands (shell, exec, fork, sleep, files, pipes, the
//     database, shared memory) and the "sh:" and "call:" values are not bound:
//     their lines are text;
//   - <@option signal|alarm|debug> would take signals and the alarm from
//     libFuzzer or write logs: they are consumed and do nothing;
//   - the endless <@while> is text; the loops over words and values are
//     charged their passes before they start, each <@call> one unit, and a
//     page over kBudget units ends as <@quit> ends it.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "vandrel/core/argument_split.h"
#include "vandrel/core/arena.h"
#include "vandrel/core/errors.h"
#include "vandrel/core/line_buffer.h"
#include "vandrel/core/variable_store.h"
#include "vandrel/harness.h"
#include "vandrel/statements/block_commands.h"
#include "vandrel/statements/command_table.h"
#include "vandrel/statements/control_flow.h"
#include "vandrel/statements/option_commands.h"
#include "vandrel/statements/page_reader.h"
#include "vandrel/values/substitution.h"

namespace {

constexpr size_t kMaxPage = 4096;
constexpr long kBudget = 20000;

long budget = 0;

void charge(long units) {
  budget -= units;
  if (budget < 0) X_exit(0);
}

// The first words of a command's substituted argument text.
void command_words(const char* line, int compile, LineBuffer* words, int n) {
  LineBuffer text;
  X_transline(X_command_args(line), text.data(), kLineSize, compile);
  const char* p = text.data();
  for (int i = 0; i < n; ++i) p += X_arg_string(p, words[i].data(), kLineSize);
}

int declined(X_FILE*, char*, int&, int) { return -1; }

int bounded_while(X_FILE* file, char* line, int& compile, int ignore) {
  if (std::strncmp(line, "<@while>", 8) != 0) return -1;
  if (ignore) return X_while(file, line, compile, ignore);
  LineBuffer words[3];  // form, name, separators
  command_words(line, compile, words, 3);
  const char* form = words[0].data();
  const char* name = words[1].data();
  long passes = 1;
  if (form[0] == '\0') return -1;
  if (std::strcmp(form, "words") == 0) {
    const char* value = X_get_value(name);
    LineBuffer word;
    for (const char* p = value ? value : ""; int used = X_arg_string_sep(p, word.data(), kLineSize, words[2].data());
         p += used)
      ++passes;
  } else if (std::strcmp(form, "values") == 0) {
    if (const X_USER* user = X_get_user(name))
      for (const X_var* v = &user->var; v; v = v->next) ++passes;
  }
  charge(passes);
  return X_while(file, line, compile, ignore);
}

int counted_call(X_FILE* file, char* line, int& compile, int ignore) {
  if (!ignore && std::strncmp(line, "<@call>", 7) == 0) charge(1);
  return X_call(file, line, compile, ignore);
}

int safe_option(X_FILE* file, char* line, int& compile, int ignore) {
  if (std::strncmp(line, "<@option>", 9) != 0) return -1;
  if (!ignore) {
    LineBuffer name;
    command_words(line, compile, &name, 1);
    for (const char* refused : {"signal", "alarm", "debug"})
      if (std::strcmp(name.data(), refused) == 0) return 0;
  }
  return X_option(file, line, compile, ignore);
}

const CommandBinding kBindings[] = {
    {"include", declined},     {"file", declined},        {"xfile", declined},
    {"while", bounded_while},  {"call", counted_call},    {"option", safe_option},
};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz_init();
  fuzz_on_give_back(X_release_functions);
  if (!X_bind_commands(kBindings, sizeof kBindings / sizeof kBindings[0])) std::abort();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > kMaxPage) return 0;
  fuzz_run([&] {
    Continue = 0;
    Break = 0;
    ContinueBreak = 0;
    X_value_limit = -1;
    budget = kBudget;
    auto* page = static_cast<X_FILE*>(X_heap_alloc(x_BUFFERS.hp, sizeof(X_FILE)));
    auto* text = static_cast<char*>(X_heap_alloc(x_BUFFERS.hp, static_cast<int>(size) + 16));
    if (!page || !text) std::abort();
    std::memcpy(text, data, size);
    text[size] = '\0';
    page->text = text;
    page->size = static_cast<long>(size);
    std::snprintf(page->path, sizeof page->path, "%s/fuzz.page", fuzz_scratch_dir());
    page->next = x_BUFFERS.files;
    x_BUFFERS.files = page;
    X_notfound(page, 1, 0);
  });
  return 0;
}
