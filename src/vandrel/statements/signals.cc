#include "vandrel/statements/signals.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "vandrel/statements/block_commands.h"
#include "vandrel/statements/control_flow.h"
#include "vandrel/core/trace.h"

namespace {

char SignalFUNC[kMaxSignal + 1][kMaxSignalFunction + 1];
volatile sig_atomic_t arrived[kMaxSignal + 1];
bool handler_running = false;

void X_signal(int signo) {
  if (signo < 1 || signo > kMaxSignal) return;
  arrived[signo] = 1;
  X_signals_pending = 1;
}

struct SignalName {
  const char* name;
  int number;
};

constexpr SignalName kSignalNames[] = {
    {"sighup", SIGHUP},   {"sigint", SIGINT},   {"sigusr1", SIGUSR1}, {"sigusr2", SIGUSR2},
    {"sigpipe", SIGPIPE}, {"sigalrm", SIGALRM}, {"sigterm", SIGTERM}, {"sigchld", SIGCHLD},
};

void call_handler(int signo) {
  // The function answers something outside the page (a timeout, a request to
  // stop): whatever the page wrote before is out by then, as it would be
  // with a write per line.
  X_output_flush();
  char call[kMaxSignalFunction + 32];
  std::snprintf(call, sizeof call, "%s( %d ) ", SignalFUNC[signo], signo);
  X_trace("==> SIGTRAP call: CALL: [<@call> %s] ", call);
  X_debug("==> SIGTRAP call: CALL: [<@call> %s] ", call);
  // The function runs between two lines of whatever block was running; that
  // block's loop and return state must survive the call.
  int saved_continue = Continue;
  int saved_break = Break;
  int saved_return = ContinueBreak;
  char ret[256];
  X_call_text(call, 1, ret, sizeof ret);
  Continue = saved_continue;
  Break = saved_break;
  ContinueBreak = saved_return;
}

}  // namespace

void X_run_pending_signals() {
  if (handler_running) return;  // run after the current handler function
  handler_running = true;
  X_signals_pending = 0;
  for (int signo = 1; signo <= kMaxSignal; ++signo) {
    if (!arrived[signo]) continue;
    arrived[signo] = 0;
    if (SignalFUNC[signo][0]) call_handler(signo);
  }
  handler_running = false;
}

int X_signal_number(const char* name) {
  for (const SignalName& s : kSignalNames)
    if (std::strcmp(name, s.name) == 0) return s.number;
  if (name[0] == '\0' || std::strspn(name, "0123456789") != std::strlen(name)) return -1;
  if (std::strlen(name) > 2) return -1;
  int number = std::atoi(name);
  return number >= 1 && number <= kMaxSignal ? number : -1;
}

void X_set_signal(int signo, const char* function) {
  SignalFUNC[signo][0] = '\0';
  std::signal(signo, SIG_DFL);
  if (!function || !function[0]) return;
  std::snprintf(SignalFUNC[signo], sizeof SignalFUNC[signo], "%s", function);
  struct sigaction action = {};
  action.sa_handler = X_signal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;  // stays installed: re-arming is implicit
  sigaction(signo, &action, nullptr);
}
