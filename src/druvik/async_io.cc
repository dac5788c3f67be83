#include "druvik/async_io.h"

#include <aio.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#ifdef DRUVIK_HAVE_URING
#include <liburing.h>
#endif

namespace {

#ifdef DRUVIK_HAVE_URING

class UringIo : public AsyncIo {
 public:
  explicit UringIo(const volatile sig_atomic_t* stop) : stop_(stop) {}
  ~UringIo() override {
    if (ready_) io_uring_queue_exit(&ring_);
  }

  int init() {
    // Two entries: one in flight, with room to spare.
    int ret = io_uring_queue_init(2, &ring_, 0);
    ready_ = ret == 0;
    return ret;
  }

  int64_t transfer(bool write, int fd, void* buf, size_t len, int64_t offset) override {
    io_uring_sqe* sqe = io_uring_get_sqe(&ring_);
    if (sqe == nullptr) return -EBUSY;  // cannot happen with one request at a time
    if (write) {
      io_uring_prep_write(sqe, fd, buf, static_cast<unsigned>(len), static_cast<uint64_t>(offset));
    } else {
      io_uring_prep_read(sqe, fd, buf, static_cast<unsigned>(len), static_cast<uint64_t>(offset));
    }
    // Submit and wait in one system call; a read served from the page cache
    // completes inside it. A signal may cut the call short before the kernel
    // took the request, which then still waits in the queue.
    int ret;
    do {
      ret = io_uring_submit_and_wait(&ring_, 1);
      if (ret == -EINTR && *stop_) return -EINTR;
    } while (ret == -EINTR && io_uring_sq_ready(&ring_) > 0);
    if (ret < 0 && ret != -EINTR) return recover(ret);
    for (;;) {
      io_uring_cqe* cqe = nullptr;
      ret = io_uring_wait_cqe(&ring_, &cqe);
      if (ret == 0) {
        int64_t res = cqe->res;
        io_uring_cqe_seen(&ring_, cqe);
        return res;
      }
      if (ret == -EINTR) {
        if (*stop_) return -EINTR;
        continue;
      }
      return recover(ret);
    }
  }

  const char* name() const override { return "io_uring"; }

 private:
  // After a failed submission the request may still sit in the queue; a fresh
  // ring keeps the next transfer from submitting it a second time.
  int64_t recover(int err) {
    if (ready_) io_uring_queue_exit(&ring_);
    init();
    return err;
  }

  const volatile sig_atomic_t* stop_;
  io_uring ring_{};
  bool ready_ = false;
};

#endif  // DRUVIK_HAVE_URING

class PosixAio : public AsyncIo {
 public:
  explicit PosixAio(const volatile sig_atomic_t* stop) : stop_(stop) {}

  int64_t transfer(bool write, int fd, void* buf, size_t len, int64_t offset) override {
    // The control block outlives a wait cut short by a stop signal, so the
    // helper thread never writes into a dead stack frame.
    std::memset(&cb_, 0, sizeof cb_);
    cb_.aio_fildes = fd;
    cb_.aio_buf = buf;
    cb_.aio_nbytes = len;
    cb_.aio_offset = offset;
    cb_.aio_sigevent.sigev_notify = SIGEV_NONE;
    if ((write ? aio_write(&cb_) : aio_read(&cb_)) < 0) return -errno;
    const aiocb* list[1] = {&cb_};
    for (;;) {
      int err = aio_error(&cb_);
      if (err != EINPROGRESS) {
        ssize_t n = aio_return(&cb_);
        return n < 0 ? -err : n;
      }
      if (aio_suspend(list, 1, nullptr) < 0 && errno == EINTR && *stop_) return -EINTR;
    }
  }

  const char* name() const override { return "POSIX AIO"; }

 private:
  const volatile sig_atomic_t* stop_;
  aiocb cb_{};
};

}  // namespace

std::unique_ptr<AsyncIo> make_uring_io(const volatile sig_atomic_t* stop, int* error) {
#ifdef DRUVIK_HAVE_URING
  auto io = std::make_unique<UringIo>(stop);
  int ret = io->init();
  if (ret < 0) {
    *error = -ret;
    return nullptr;
  }
  *error = 0;
  return io;
#else
  (void)stop;
  *error = ENOSYS;
  return nullptr;
#endif
}

std::unique_ptr<AsyncIo> make_posix_aio(const volatile sig_atomic_t* stop) {
  return std::make_unique<PosixAio>(stop);
}

std::unique_ptr<AsyncIo> make_async_io(const volatile sig_atomic_t* stop) {
  int error = 0;
  std::unique_ptr<AsyncIo> io = make_uring_io(stop, &error);
  if (io != nullptr) return io;
  std::fprintf(stderr, "## AIO: io_uring unavailable (errno %d), using POSIX AIO\n", error);
  return make_posix_aio(stop);
}
