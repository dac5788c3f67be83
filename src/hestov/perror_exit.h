#ifndef HESTOV_PERROR_EXIT_H_
#define HESTOV_PERROR_EXIT_H_

namespace hestov {

// Writes `msg` and a line end to standard error and ends the program with status 1.
[[noreturn]] void perrorExit(const char* msg);

}  // namespace hestov

#endif  // HESTOV_PERROR_EXIT_H_
