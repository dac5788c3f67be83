// Everything Hestov reads from the machine, behind one interface, so that the
// collector reads as it would on Solaris and tests can put in fixed answers.
#ifndef HESTOV_SYS_SOURCE_H_
#define HESTOV_SYS_SOURCE_H_

#include <sys/utsname.h>

#include <cstddef>
#include <cstdio>
#include <ctime>

#include "hestov/device_tree.h"

namespace hestov {

// Solaris names and values for the processor and system-information calls.
using processorid_t = int;
inline constexpr int P_OFFLINE = 0x0001;
inline constexpr int P_ONLINE = 0x0002;
inline constexpr int P_STATUS = 0x0003;
inline constexpr int SI_PLATFORM = 513;

struct processor_info_t {
  int pi_state;                // P_ONLINE or P_OFFLINE
  char pi_processor_type[16];  // instruction set, e.g. "sparcv9", "x86_64"
  int pi_clock;                // MHz; 0 when unknown
};

class SysSource {
 public:
  virtual ~SysSource() = default;

  // POSIX facilities.
  virtual time_t time() = 0;
  virtual int uname(struct utsname* u) = 0;
  virtual long sysconf(int name) = 0;
  // The kernel version shown after the release text. Solaris names its
  // kernel patch level in the version field; Linux names its kernel in the
  // release field and puts the build date in the version.
  virtual const char* kernel_version(const struct utsname& u) = 0;

  // Solaris facilities, as Solaris defines them: -1 with errno on failure.
  // sysinfo copies a NUL-terminated text cut to `count` and returns the size
  // the full text needs, NUL included.
  virtual long sysinfo(int command, char* buf, long count) = 0;
  virtual int p_online(processorid_t id, int flag) = 0;
  virtual int processor_info(processorid_t id, processor_info_t* info) = 0;

  // The release file, open for reading; nullptr when the host has none.
  virtual FILE* open_release_file() = 0;
  // The prtconf tool to run; nullptr when the host has none.
  virtual const char* prtconf_path() = 0;

  // What the host offers in place of the sources above when they are absent.
  // Each leaves its result empty or 0 when it finds nothing.
  virtual void os_release(char* out, size_t out_size) = 0;       // release text
  virtual void firmware_banner(char* out, size_t out_size) = 0;  // hardware banner
  virtual void firmware_device_tree(DeviceTree* dt) = 0;         // clock, cache, chip
};

}  // namespace hestov

#endif  // HESTOV_SYS_SOURCE_H_
