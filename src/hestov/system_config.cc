#include "hestov/system_config.h"

#include <unistd.h>

#include <climits>
#include <cstring>
#include <ctime>

#include "hestov/banner.h"
#include "hestov/bounded_text.h"
#include "hestov/host_source.h"
#include "hestov/perror_exit.h"
#include "hestov/release_text.h"

namespace hestov {

namespace {

// Processor identifiers tried for the clock, as on the largest machines
// this report was made for.
constexpr processorid_t kMaxProcessorId = 71;

// At most this much of the kernel version follows the release text.
constexpr size_t kKernelVersionMax = 30;

void fill_date_time(system_config_t* cfg, time_t now) {
  struct tm tm;
  if (localtime_r(&now, &tm) == nullptr) return;
  // strftime leaves the buffer undefined when the text does not fit.
  if (strftime(cfg->date_str, sizeof cfg->date_str, "%x", &tm) == 0) cfg->date_str[0] = '\0';
  if (strftime(cfg->time_str, sizeof cfg->time_str, "%H:%M:%S", &tm) == 0) cfg->time_str[0] = '\0';
}

void fill_release(char* release, size_t size, SysSource& src) {
  FILE* in = src.open_release_file();
  if (in != nullptr) {
    release_text(in, release, size);
    fclose(in);
  } else {
    src.os_release(release, size);
  }
}

int32_t memory_mb(SysSource& src) {
  long page = src.sysconf(_SC_PAGESIZE);
  long pages = src.sysconf(_SC_PHYS_PAGES);
  if (page <= 0 || pages <= 0) return 0;
  long long kb_per_page = page / 1024;
  long long kb;
  if (__builtin_mul_overflow(kb_per_page, static_cast<long long>(pages), &kb)) return INT32_MAX;
  long long mb = kb / 1024;
  return mb > INT32_MAX ? INT32_MAX : static_cast<int32_t>(mb);
}

void fill_device_tree(system_config_t* cfg, SysSource& src) {
  DeviceTree dt;
  const char* prtconf = src.prtconf_path();
  if (prtconf == nullptr) {
    src.firmware_device_tree(&dt);
  } else {
    switch (run_prtconf(prtconf, &dt)) {
      case PrtconfStatus::kKillFailed:
        perrorExit("sys: kill failed");
      case PrtconfStatus::kWaitError:
        perrorExit("sys: wait error");
      case PrtconfStatus::kDone:
      case PrtconfStatus::kNotStarted:
        break;
    }
  }
  cfg->sys_freq = dt.sys_freq;
  cfg->cpu_ecache = dt.cpu_ecache;
  copy_text(cfg->chip_name, sizeof cfg->chip_name, dt.chip_name);
}

}  // namespace

void get_system_config(system_config_t* cfg, SysSource& src) {
  *cfg = system_config_t{};

  // Started first so the tool works while the rest is gathered.
  const char* prtconf = src.prtconf_path();
  BannerPipeline banner;
  bool banner_started = prtconf != nullptr && start_banner_pipeline(prtconf, &banner);

  fill_date_time(cfg, src.time());

  char release[sizeof cfg->os_name];
  fill_release(release, sizeof release, src);

  struct utsname u;
  if (src.uname(&u) == 0) {
    copy_text(cfg->sys_name, sizeof cfg->sys_name, u.nodename);
    copy_text(cfg->os_name, sizeof cfg->os_name, release);
    append_text(cfg->os_name, sizeof cfg->os_name, " ", 1);
    append_text(cfg->os_name, sizeof cfg->os_name, src.kernel_version(u), kKernelVersionMax);
    copy_text(cfg->arch_name, sizeof cfg->arch_name, u.machine);
  } else {
    copy_text(cfg->os_name, sizeof cfg->os_name, release);
  }

  long ncpus = src.sysconf(_SC_NPROCESSORS_CONF);
  cfg->ncpus = ncpus < 0 ? 0 : ncpus > INT32_MAX ? INT32_MAX : static_cast<int32_t>(ncpus);
  cfg->mem_size = memory_mb(src);

  if (src.sysinfo(SI_PLATFORM, cfg->plat_name, sizeof cfg->plat_name) < 0) cfg->plat_name[0] = '\0';

  for (processorid_t id = 0; id <= kMaxProcessorId; ++id) {
    if (src.p_online(id, P_STATUS) == -1) continue;
    processor_info_t pi;
    if (src.processor_info(id, &pi) == 0) cfg->cpu_freq = pi.pi_clock;
    break;
  }

  if (banner_started) {
    finish_banner_pipeline(&banner, cfg->banner_name, sizeof cfg->banner_name);
  } else if (prtconf == nullptr) {
    src.firmware_banner(cfg->banner_name, sizeof cfg->banner_name);
  }

  fill_device_tree(cfg, src);
}

void get_system_config(system_config_t* cfg) {
  HostSource host = HostSource::from_environment();
  get_system_config(cfg, host);
}

void write_sys_config(FILE* out, const system_config_t& cfg) {
  fprintf(out, "%s   %s   %s\n%s\n", cfg.sys_name, cfg.date_str, cfg.time_str, cfg.os_name);

  fprintf(out, "%s   %s   ", cfg.chip_name, cfg.arch_name);
  // An unknown system clock (0) is not a second clock to show.
  if (cfg.cpu_freq == cfg.sys_freq || cfg.sys_freq == 0)
    fprintf(out, "%d MHz", cfg.cpu_freq);
  else
    fprintf(out, "%d/%d MHz", cfg.cpu_freq, cfg.sys_freq);
  if (cfg.cpu_ecache > 0) {
    if (cfg.cpu_ecache < 1024)
      fprintf(out, "   %d KB E$", cfg.cpu_ecache);
    else
      fprintf(out, "   %d MB E$", cfg.cpu_ecache / 1024);
  }
  fputc('\n', out);

  fprintf(out, "%s   %d CPU%s", cfg.banner_name, cfg.ncpus, cfg.ncpus > 1 ? "s" : "");
  if (cfg.mem_size < 1024)
    fprintf(out, "  %d MB memory\n", cfg.mem_size);
  else
    fprintf(out, "  %6.2f GB memory\n", cfg.mem_size / 1024.0);
}

int print_sys_config(FILE* out, SysSource& src) {
  system_config_t cfg;
  get_system_config(&cfg, src);
  write_sys_config(out, cfg);
  return fflush(out) == 0 && !ferror(out) ? 0 : -1;
}

int print_sys_config(FILE* out) {
  HostSource host = HostSource::from_environment();
  return print_sys_config(out, host);
}

}  // namespace hestov
