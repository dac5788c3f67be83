#include "druvik/async_io.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <string>

namespace {

volatile sig_atomic_t no_stop = 0;

// Both engines, io_uring (skipped where the kernel refuses it) and the POSIX
// AIO that replaces it there.
class AsyncIoTest : public testing::TestWithParam<bool> {
 protected:
  void SetUp() override {
    int error = 0;
    io_ = GetParam() ? make_uring_io(&no_stop, &error) : make_posix_aio(&no_stop);
    if (io_ == nullptr) GTEST_SKIP() << "io_uring unavailable here, errno " << error;
    char path[] = "/tmp/druvik-aio-XXXXXX";
    fd_ = mkstemp(path);
    ASSERT_GE(fd_, 0);
    unlink(path);
    ASSERT_EQ(ftruncate(fd_, 3 * 4096), 0);
  }
  void TearDown() override {
    if (fd_ >= 0) close(fd_);
  }

  std::unique_ptr<AsyncIo> io_;
  int fd_ = -1;
};

TEST_P(AsyncIoTest, TransfersAtOffsets) {
  std::string block(4096, 'q');
  EXPECT_EQ(io_->transfer(true, fd_, block.data(), block.size(), 4096), 4096);
  std::string file(3 * 4096, 'x');
  ASSERT_EQ(pread(fd_, file.data(), file.size(), 0), 3 * 4096);
  EXPECT_EQ(file, std::string(4096, '\0') + block + std::string(4096, '\0'));

  std::string back(8192, 'x');
  EXPECT_EQ(io_->transfer(false, fd_, back.data(), back.size(), 4096), 8192);
  EXPECT_EQ(io_->transfer(false, fd_, back.data(), back.size(), 2 * 4096), 4096);  // short
  EXPECT_EQ(io_->transfer(false, fd_, back.data(), back.size(), 3 * 4096), 0);     // end
}

TEST_P(AsyncIoTest, ErrorsAsNegativeErrnoAndEngineStaysUsable) {
  char buf[16];
  EXPECT_EQ(io_->transfer(false, 9999, buf, sizeof buf, 0), -EBADF);
  EXPECT_EQ(io_->transfer(false, fd_, buf, sizeof buf, -4096), -EINVAL);
  EXPECT_EQ(io_->transfer(false, fd_, buf, sizeof buf, 0), 16);
}

INSTANTIATE_TEST_SUITE_P(Engines, AsyncIoTest, testing::Bool(),
                         [](const testing::TestParamInfo<bool>& info) {
                           return info.param ? "io_uring" : "posix_aio";
                         });

}  // namespace
