#include "druvik/druvik.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <memory>

#include "druvik/async_io.h"
#include "druvik/options.h"
#include "druvik/pacer.h"
#include "druvik/report.h"
#include "omnitally/omnitally.h"

namespace {

constexpr size_t kBufferSize = static_cast<size_t>(kMaxSizeKb) * 1024;

// The data buffer, allocated once at the largest transfer size.
alignas(4096) char g_buffer[kBufferSize];

// Set by the handlers, acted on by the run loop between transfers: the
// report is printed from the main flow, never from inside a handler, where
// stdio and exit are unsafe. g_pending folds both into one check per turn.
volatile sig_atomic_t g_stop = 0;
volatile sig_atomic_t g_usr1 = 0;
volatile sig_atomic_t g_pending = 0;

void on_stop(int) {
  g_stop = 1;
  g_pending = 1;
}

void on_usr1(int) {
  g_usr1 = 1;
  g_pending = 1;
}

void install_handlers(IoType type) {
  struct sigaction sa = {};
  sigemptyset(&sa.sa_mask);
  // No SA_RESTART: a blocked transfer or sleep returns EINTR and the run ends.
  sa.sa_handler = on_stop;
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);
  if (type != kAio) {
    sa.sa_flags = SA_RESTART;  // a status request must not end a transfer
    sa.sa_handler = on_usr1;
    sigaction(SIGUSR1, &sa, nullptr);
  }
}

void io_error(const char* what, int err) {
  std::fprintf(stderr, "\n### I/O ERROR: %s  errno: %d\n", what, err);
}

struct Clocks {
  rusage usage;
  timespec wall;  // monotonic: a step of the system clock cannot bend the figures
};

int64_t cpu_ms(const timeval& tv) {
  return static_cast<int64_t>(tv.tv_sec) * 1000 + tv.tv_usec / 1000;
}

int64_t wall_ms(const timespec& ts) {
  return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

struct File {
  const char* name = nullptr;
  int fd = -1;
  int64_t pos = 0;  // the position of the next sequential aio transfer
};

class Benchmark {
 public:
  explicit Benchmark(const Settings& s) : s_(s), clock_(this), pacer_(s.io_limit, &clock_) {}

  void open_files();
  void init();
  void attach();
  [[noreturn]] void run();

 private:
  enum class Outcome { kDone, kFailed, kStop, kEof, kSeekFailed };

  // Every reading of time in a run goes through here, so the pacing and the
  // report's elapsed time are on one clock, the monotonic one; only the
  // random seed takes the calendar, where it needs no more than a change from
  // one run to the next. A signal during a pacing sleep is acted on at once
  // (a status line, or the report), then the sleep goes on.
  class Clock : public PaceClock {
   public:
    explicit Clock(Benchmark* bench) : bench_(bench) {}
    // False, with errno set, when the clock cannot be read.
    bool read(timespec* ts) { return clock_gettime(CLOCK_MONOTONIC, ts) == 0; }
    time_t calendar_seconds() { return time(nullptr); }
    int64_t now_seconds() override {
      timespec ts = {};
      read(&ts);
      return ts.tv_sec;
    }
    bool sleep_until(int64_t second) override {
      timespec ts = {static_cast<time_t>(second), 0};
      while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr) == EINTR) {
        if (g_pending) bench_->on_signals();
      }
      return true;
    }

   private:
    Benchmark* bench_;
  };

  static void open_file(File* f, const char* name, IoType type);
  bool block_offset(int64_t block, int64_t* offset) const;
  bool random_offset(int64_t* offset) const;
  bool position(File* f);
  bool position_all();
  Outcome transfer(bool write, File* f);
  Outcome turn();
  void on_signals();
  [[noreturn]] void final_report();

  Settings s_;
  File rf_;
  File wf_;
  int64_t reads_ = 0;
  int64_t writes_ = 0;
  SessionSTAT* slot_ = nullptr;
  char group_[kGroupSize] = {};
  std::unique_ptr<AsyncIo> aio_;
  Clock clock_;
  Pacer pacer_;
  Clocks start_ = {};
};

void Benchmark::open_file(File* f, const char* name, IoType type) {
  // Never O_CREAT or O_TRUNC: the benchmark works only on what exists.
  int flags = O_RDWR | O_CLOEXEC | (type == kOsync ? O_SYNC : 0);
  int fd = open64(name, flags, 0666);
  if (fd < 0) {
    int err = errno;
    io_error(name, err);
    std::exit(err);
  }
  f->name = name;
  f->fd = fd;
}

void Benchmark::open_files() {
  if (s_.command == kWrite) {
    open_file(&wf_, s_.file, s_.type);
  } else {
    open_file(&rf_, s_.file, s_.type);
    if (s_.command == kReadWrite && s_.file2 != nullptr) open_file(&wf_, s_.file2, s_.type);
  }
}

void Benchmark::init() {
  for (size_t i = 0; i < kBufferSize; ++i) g_buffer[i] = static_cast<char>((i + 32) % 128);
  srandom(static_cast<unsigned>(clock_.calendar_seconds() % 36000 + getpid()));
  install_handlers(s_.type);
  if (s_.type == kAio) aio_ = make_async_io(&g_stop);

  std::printf("Init completed PID: %d, now proceed to %s %s %s, I/O size: %d bytes\n",
              static_cast<int>(getpid()), s_.mode == kRandom ? "random" : "sequential",
              type_label(s_.type), command_label(s_.command), s_.size);
  if (s_.kb_limit > 0) {
    std::printf("I/O throughput limited to: %lld KB/sec (%lld IO/sec)\n",
                static_cast<long long>(s_.kb_limit), static_cast<long long>(s_.io_limit));
  }
  std::printf("Files: R[%s] W[%s], RW-Order:%s  P-syscall:%s offset:%lld nbrec:%lld \n\n",
              rf_.fd >= 0 ? rf_.name : "-", wf_.fd >= 0 ? wf_.name : "-", s_.order,
              s_.use_pread ? "yes" : "no", static_cast<long long>(s_.begin),
              static_cast<long long>(s_.count_limit));
  std::printf("==> (Ctrl_C) or TERM signal to terminate or will auto-stop at %lld I/Os \n\n",
              static_cast<long long>(s_.count_limit));

  if (getrusage(RUSAGE_SELF, &start_.usage) < 0) {
    int err = errno;
    io_error("Druvik_v4:285,inits", err);
    std::exit(1);
  }
  if (!clock_.read(&start_.wall)) {
    int err = errno;
    io_error("Druvik_v4:293,ftime)", err);
    std::exit(1);
  }
}

void Benchmark::attach() {
  if (s_.id == -1) {
    std::fflush(stdout);
    return;
  }
  const char* key = shm_key_text(s_.key);
  int id = session_slot_id(s_.id);
  auto* table = static_cast<TableSTAT*>(shm_attach_or_exit(key, sizeof(TableSTAT)));
  slot_ = &table->sess[id - 1];
  session_group(s_.group, group_);
  session_take(slot_, group_);
  std::printf("## STAT>  shmkey: %s  group: %s  id: %d\n", key, group_, id);
  std::fflush(stdout);
}

bool Benchmark::block_offset(int64_t block, int64_t* offset) const {
  return !__builtin_mul_overflow(block, static_cast<int64_t>(s_.size), offset);
}

bool Benchmark::random_offset(int64_t* offset) const {
  // REQUIRES: end > begin (checked before the run), so the span fits in 64
  // unsigned bits and begin + (r mod span) lies below end.
  uint64_t span = static_cast<uint64_t>(s_.end) - static_cast<uint64_t>(s_.begin);
  uint64_t r = static_cast<uint64_t>(random());
  return block_offset(s_.begin + static_cast<int64_t>(r % span), offset);
}

bool Benchmark::position(File* f) {
  if (f->fd < 0) return true;
  int64_t offset = -1;
  bool ok = s_.mode == kRandom ? random_offset(&offset) : block_offset(s_.begin, &offset);
  if (!ok) errno = EOVERFLOW;
  if (!ok || lseek64(f->fd, offset, SEEK_SET) < 0) {
    io_error("lseek fd", errno);
    return false;
  }
  f->pos = offset;
  return true;
}

bool Benchmark::position_all() {
  return position(&rf_) && position(&wf_);
}

Benchmark::Outcome Benchmark::transfer(bool write, File* f) {
  const size_t size = static_cast<size_t>(s_.size);
  int64_t n;
  errno = 0;
  if (aio_ != nullptr) {
    int64_t offset = f->pos;
    if (s_.mode == kRandom && !random_offset(&offset)) {
      io_error("lseek fd", EOVERFLOW);
      return Outcome::kSeekFailed;
    }
    n = aio_->transfer(write, f->fd, g_buffer, size, offset);
    if (n < 0) {
      errno = static_cast<int>(-n);
      n = -1;
    } else if (s_.mode == kSequential) {
      f->pos += n;
    }
  } else if (s_.mode == kSequential) {
    n = write ? ::write(f->fd, g_buffer, size) : ::read(f->fd, g_buffer, size);
  } else {
    int64_t offset;
    if (!random_offset(&offset)) {
      io_error("lseek fd", EOVERFLOW);
      return Outcome::kSeekFailed;
    }
    if (s_.use_pread) {
      n = write ? pwrite64(f->fd, g_buffer, size, offset) : pread64(f->fd, g_buffer, size, offset);
    } else {
      if (lseek64(f->fd, offset, SEEK_SET) < 0) {
        io_error("lseek fd", errno);
        return Outcome::kSeekFailed;
      }
      n = write ? ::write(f->fd, g_buffer, size) : ::read(f->fd, g_buffer, size);
    }
  }

  if (n > 0) {
    ++(write ? writes_ : reads_);
    if (slot_ != nullptr) session_count(slot_, write, group_);
    return Outcome::kDone;
  }
  // A read of nothing is at or past the end of the file, in either mode: a
  // random run keeps drawing blocks there, so going on would only repeat it.
  if (n == 0 && !write) return Outcome::kEof;
  if (n < 0 && errno == EINTR) return Outcome::kStop;
  io_error(write ? "Lwrite" : "Lread", errno);
  return Outcome::kFailed;
}

Benchmark::Outcome Benchmark::turn() {
  switch (s_.command) {
    case kRead:
      return transfer(false, &rf_);
    case kWrite:
      return transfer(true, &wf_);
    default:
      break;
  }
  File* writes_to = wf_.fd >= 0 ? &wf_ : &rf_;
  for (const char* c = s_.order; *c != '\0'; ++c) {
    Outcome o = *c == 'W' ? transfer(true, writes_to) : transfer(false, &rf_);
    if (o != Outcome::kDone && o != Outcome::kFailed) return o;
  }
  return Outcome::kDone;
}

void Benchmark::on_signals() {
  g_pending = 0;
  if (g_stop) final_report();
  if (g_usr1) {
    g_usr1 = 0;
    std::printf("SIG aio: %lld\n", static_cast<long long>(writes_));
    std::fflush(stdout);
  }
}

void Benchmark::run() {
  if (!position_all()) final_report();
  if (s_.io_limit > 0) pacer_.start();
  for (;;) {
    if (g_pending) on_signals();
    if (s_.io_limit > 0) pacer_.pace(reads_ + writes_);
    if (s_.count_limit > 0 && reads_ + writes_ >= s_.count_limit) {
      if (!s_.loop) final_report();
      if (!position_all()) final_report();
      reads_ = 0;
      writes_ = 0;
      pacer_.restart();
    }
    switch (turn()) {
      case Outcome::kDone:
      case Outcome::kFailed:
        break;
      case Outcome::kEof:
        // Further reads would find nothing either: stop here, and say why.
        std::printf("\n## End of file reached on %s: %s run stopped\n", rf_.name,
                    s_.mode == kRandom ? "random" : "sequential");
        final_report();
      case Outcome::kStop:
      case Outcome::kSeekFailed:
        final_report();
    }
  }
}

void Benchmark::final_report() {
  Clocks end;
  if (getrusage(RUSAGE_SELF, &end.usage) < 0) {
    io_error("gerrusage", errno);
    std::exit(-1);
  }
  if (!clock_.read(&end.wall)) {
    io_error("ftime", errno);
    std::exit(-1);
  }
  // The handlers stay installed (sigaction does not reset them), so a second
  // signal during the report only sets the flag again.
  if (g_stop) std::printf("\rTermination required\n");

  ReportFigures f;
  f.reads = reads_;
  f.writes = writes_;
  f.size = s_.size;
  f.elapsed_s = static_cast<int64_t>(end.wall.tv_sec - start_.wall.tv_sec);
  f.wall_ms = wall_ms(end.wall) - wall_ms(start_.wall);
  f.user_ms = cpu_ms(end.usage.ru_utime) - cpu_ms(start_.usage.ru_utime);
  f.system_ms = cpu_ms(end.usage.ru_stime) - cpu_ms(start_.usage.ru_stime);
  print_report(stdout, f);
  std::fflush(stdout);
  std::exit(0);
}

}  // namespace

int druvik_main(int argc, char** argv) {
  const char* prog = argc > 0 ? argv[0] : "Druvik";
  Settings s;
  int errors = parse_options(argc, argv, &s, stdout);
  if (errors < 0 || !check_settings(&s, errors, stdout)) {
    std::fflush(stdout);
    print_usage(stderr, prog);
    return -2;
  }
  // Static: the run ends through exit(), which skips automatic objects.
  static Benchmark bench(s);
  bench.open_files();
  bench.init();
  bench.attach();
  bench.run();
  return 0;
}
