// Load generator for the Korbad benchmark: connections per second of a
// one-line command, and streaming throughput of a long output, against any
// TCP service that answers a request line and then closes (Korbad, or socat
// running the same command).
//
//   korbad_load rate PORT REQUEST CLIENTS SECONDS   connections per second
//   korbad_load stream PORT REQUEST                  bytes and MB/s of one reply
//
// Loopback only (127.0.0.1). Each connection sends REQUEST plus "\n" and
// reads until the server closes; a reply of no bytes counts as a failure and
// is left out of the rate.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// One request: bytes received, or -1 if the connection failed.
long long one_request(int port, const std::string& request, char* buf, size_t cap) {
  int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (s < 0) return -1;
  sockaddr_in addr = {};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<uint16_t>(port));
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  long long total = -1;
  if (connect(s, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) == 0 &&
      send(s, request.data(), request.size(), MSG_NOSIGNAL) ==
          static_cast<ssize_t>(request.size())) {
    total = 0;
    ssize_t n;
    while ((n = recv(s, buf, cap, 0)) > 0) total += n;
    if (n < 0) total = -1;
  }
  close(s);
  return total;
}

int rate(int port, const std::string& request, int clients, double seconds) {
  std::atomic<long> done{0}, failed{0};
  auto end = Clock::now() + std::chrono::duration<double>(seconds);
  auto start = Clock::now();
  std::vector<std::thread> threads;
  for (int i = 0; i < clients; ++i) {
    threads.emplace_back([&] {
      char buf[4096];
      while (Clock::now() < end) {
        if (one_request(port, request, buf, sizeof(buf)) > 0) {
          ++done;
        } else {
          ++failed;
        }
      }
    });
  }
  for (auto& t : threads) t.join();
  double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
  printf("connections %ld failed %ld seconds %.2f rate %.1f\n", done.load(), failed.load(), elapsed,
         done.load() / elapsed);
  return done.load() > 0 ? 0 : 1;
}

int stream(int port, const std::string& request) {
  static char buf[1 << 16];
  auto start = Clock::now();
  long long bytes = one_request(port, request, buf, sizeof(buf));
  double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
  printf("bytes %lld seconds %.3f MBps %.1f\n", bytes, elapsed, bytes / elapsed / 1e6);
  return bytes > 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 6 && strcmp(argv[1], "rate") == 0) {
    return rate(atoi(argv[2]), std::string(argv[3]) + "\n", atoi(argv[4]), atof(argv[5]));
  }
  if (argc == 4 && strcmp(argv[1], "stream") == 0) {
    return stream(atoi(argv[2]), std::string(argv[3]) + "\n");
  }
  fprintf(stderr,
          "usage: %s rate PORT REQUEST CLIENTS SECONDS\n"
          "       %s stream PORT REQUEST\n",
          argv[0], argv[0]);
  return 2;
}
