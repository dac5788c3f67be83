// The machine Hestov runs on: the Solaris sources where they exist, and the
// Linux equivalents in their place.
#ifndef HESTOV_HOST_SOURCE_H_
#define HESTOV_HOST_SOURCE_H_

#include <string>

#include "hestov/sys_source.h"

namespace hestov {

class HostSource : public SysSource {
 public:
  // Every file is read under `root` ("" for the running system). The prtconf
  // tool is `prtconf` when that is not empty (it is then always run, so a
  // broken tool shows); otherwise ROOT/usr/sbin/prtconf when it exists.
  HostSource(std::string root, std::string prtconf);

  // Root from HESTOV_ROOT, prtconf tool from HESTOV_PRTCONF; also sets the
  // sources' time-out from HESTOV_TIMEOUT (seconds) when that is valid.
  static HostSource from_environment();

  time_t time() override;
  int uname(struct utsname* u) override;
  long sysconf(int name) override;
  const char* kernel_version(const struct utsname& u) override;
  long sysinfo(int command, char* buf, long count) override;
  int p_online(processorid_t id, int flag) override;
  int processor_info(processorid_t id, processor_info_t* info) override;
  FILE* open_release_file() override;
  const char* prtconf_path() override;
  void os_release(char* out, size_t out_size) override;
  void firmware_banner(char* out, size_t out_size) override;
  void firmware_device_tree(DeviceTree* dt) override;

 private:
  std::string root_;
  std::string prtconf_;  // empty: the host has none
};

}  // namespace hestov

#endif  // HESTOV_HOST_SOURCE_H_
