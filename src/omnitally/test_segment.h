// A segment key of the test's own, from its process id, and removal of the
// segment when the test ends, passed or not.
#ifndef OMNITALLY_TEST_SEGMENT_H_
#define OMNITALLY_TEST_SEGMENT_H_

#include <sys/shm.h>
#include <unistd.h>

#include <string>

class TestSegmentKey {
 public:
  TestSegmentKey() : key_(0x4f000000 + ((getpid() & 0xfffff) << 3)), text_(std::to_string(key_)) {
    remove();
  }
  ~TestSegmentKey() { remove(); }

  const char* text() const { return text_.c_str(); }
  int id() const { return shmget(key_, 0, 0); }
  void remove() const {
    if (id() >= 0) shmctl(id(), IPC_RMID, nullptr);
  }

 private:
  int key_;
  std::string text_;
};

#endif  // OMNITALLY_TEST_SEGMENT_H_
