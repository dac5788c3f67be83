// The "aio" type: each transfer is submitted through an asynchronous
// interface and waited for before the next one starts, so exactly one
// request is in flight and the figures measure the asynchronous path itself.
//
// Linux io_uring (through liburing) is the engine of choice: the kernel's own
// asynchronous interface, one system call per transfer when the data is in
// the page cache. Where the kernel or a sandbox refuses io_uring, POSIX AIO
// (glibc's, served by helper threads) takes its place.
#ifndef DRUVIK_ASYNC_IO_H_
#define DRUVIK_ASYNC_IO_H_

#include <csignal>
#include <cstddef>
#include <cstdint>
#include <memory>

class AsyncIo {
 public:
  virtual ~AsyncIo() = default;

  // Submits one read (or write) of `len` bytes at byte `offset` and waits for
  // it. Returns the byte count, or -errno. A signal while waiting returns
  // -EINTR only when *stop is set (the request may then still be in flight:
  // the caller ends the process); otherwise the wait goes on.
  virtual int64_t transfer(bool write, int fd, void* buf, size_t len, int64_t offset) = 0;

  virtual const char* name() const = 0;
};

// io_uring; null with *error set to the errno when the kernel refuses it.
std::unique_ptr<AsyncIo> make_uring_io(const volatile sig_atomic_t* stop, int* error);

// POSIX AIO.
std::unique_ptr<AsyncIo> make_posix_aio(const volatile sig_atomic_t* stop);

// io_uring when available, else POSIX AIO (saying so on standard error).
std::unique_ptr<AsyncIo> make_async_io(const volatile sig_atomic_t* stop);

#endif  // DRUVIK_ASYNC_IO_H_
