#include "hestov/host_source.h"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "hestov/bounded_text.h"
#include "hestov/linux_equivalents.h"
#include "hestov/timed_source.h"

namespace hestov {

HostSource::HostSource(std::string root, std::string prtconf)
    : root_(std::move(root)), prtconf_(std::move(prtconf)) {
  if (prtconf_.empty()) {
    std::string standard = root_ + "/usr/sbin/prtconf";
    if (access(standard.c_str(), F_OK) == 0) prtconf_ = standard;
  }
}

HostSource HostSource::from_environment() {
  const char* root = getenv("HESTOV_ROOT");
  const char* prtconf = getenv("HESTOV_PRTCONF");
  set_source_timeout(parse_source_timeout(getenv("HESTOV_TIMEOUT")));
  return HostSource(root != nullptr ? root : "", prtconf != nullptr ? prtconf : "");
}

time_t HostSource::time() {
  return ::time(nullptr);
}

int HostSource::uname(struct utsname* u) {
  return ::uname(u);
}

long HostSource::sysconf(int name) {
  return ::sysconf(name);
}

const char* HostSource::kernel_version(const struct utsname& u) {
#ifdef __linux__
  return u.release;
#else
  return u.version;
#endif
}

long HostSource::sysinfo(int command, char* buf, long count) {
  if (command != SI_PLATFORM || count < 0 || (count > 0 && buf == nullptr)) {
    errno = EINVAL;
    return -1;
  }
  char name[257];
  if (!platform_name(root_, name, sizeof name)) {
    errno = ENOENT;
    return -1;
  }
  copy_text(buf, static_cast<size_t>(count), name);
  return static_cast<long>(strlen(name)) + 1;
}

int HostSource::p_online(processorid_t id, int flag) {
  // Only asks; this program never changes a processor's state.
  if (flag != P_STATUS) {
    errno = EINVAL;
    return -1;
  }
  int status = cpu_status(root_, id);
  if (status < 0) errno = EINVAL;
  return status;
}

int HostSource::processor_info(processorid_t id, processor_info_t* info) {
  int status = cpu_status(root_, id);
  if (status < 0) {
    errno = EINVAL;
    return -1;
  }
  *info = processor_info_t{};
  info->pi_state = status;
  struct utsname u;
  if (::uname(&u) == 0)
    copy_text(info->pi_processor_type, sizeof info->pi_processor_type, u.machine);
  info->pi_clock = cpu_clock_mhz(root_, id);
  return 0;
}

FILE* HostSource::open_release_file() {
  return open_source_file(root_ + "/etc/release");
}

const char* HostSource::prtconf_path() {
  return prtconf_.empty() ? nullptr : prtconf_.c_str();
}

void HostSource::os_release(char* out, size_t out_size) {
  hestov::os_release(root_, out, out_size);
}

void HostSource::firmware_banner(char* out, size_t out_size) {
  hestov::firmware_banner(root_, out, out_size);
}

void HostSource::firmware_device_tree(DeviceTree* dt) {
  *dt = DeviceTree{};
  dt->sys_freq = system_clock_mhz(root_);
  dt->cpu_ecache = external_cache_kb(root_);
  chip_name(root_, dt->chip_name, sizeof dt->chip_name);
}

}  // namespace hestov
