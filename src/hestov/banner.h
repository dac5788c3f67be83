// The hardware banner, read from prtconf output through a shell pipeline.
#ifndef HESTOV_BANNER_H_
#define HESTOV_BANNER_H_

#include <cstddef>
#include <cstdio>

namespace hestov {

// The shell command that lists the banner line: "PATH -pv | /usr/bin/head -20
// | /usr/bin/grep 'banner-name:' ", with PATH quoted for the shell. Returns
// false when the command does not fit `size`.
bool banner_command(const char* prtconf_path, char* cmd, size_t size);

// Starts the banner pipeline for reading; nullptr when it cannot start.
FILE* open_banner_pipeline(const char* prtconf_path);

// The quoted text after "banner-name:  " in `in`; empty when not found.
void find_banner(FILE* in, char* out, size_t out_size);

}  // namespace hestov

#endif  // HESTOV_BANNER_H_
