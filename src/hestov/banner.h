// The hardware banner, read from prtconf output through a shell pipeline.
#ifndef HESTOV_BANNER_H_
#define HESTOV_BANNER_H_

#include <sys/types.h>

#include <cstddef>
#include <cstdio>

#include "hestov/timed_source.h"

namespace hestov {

// The shell command that lists the banner line: "PATH -pv | /usr/bin/head -20
// | /usr/bin/grep 'banner-name:' ", with PATH quoted for the shell. Returns
// false when the command does not fit `size`.
bool banner_command(const char* prtconf_path, char* cmd, size_t size);

// The banner pipeline while it runs: the shell that runs it, in a process
// group of its own, and the stream of its output. Not to be copied: the
// stream reads through `reader`.
struct BannerPipeline {
  pid_t pid = -1;
  TimedReader reader;
  FILE* out = nullptr;
  BannerPipeline() = default;
  BannerPipeline(const BannerPipeline&) = delete;
  BannerPipeline& operator=(const BannerPipeline&) = delete;
};

// Starts the banner pipeline under "/bin/sh -c"; its output must have ended
// within source_timeout() seconds from now. False when it cannot start.
bool start_banner_pipeline(const char* prtconf_path, BannerPipeline* pipeline);

// Reads the banner from a started pipeline (empty when none came in time),
// then kills the pipeline with everything in its group and reaps the shell.
void finish_banner_pipeline(BannerPipeline* pipeline, char* out, size_t out_size);

// The quoted text after "banner-name:  " in `in`; empty when not found.
void find_banner(FILE* in, char* out, size_t out_size);

}  // namespace hestov

#endif  // HESTOV_BANNER_H_
