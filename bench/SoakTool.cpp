// Soak client for `tallyloft serve`: a long run of hook posts, a share of them bad, while a set
// of idle connections is held open the whole time. ADDRESS is the hook socket's path, or a port
// on 127.0.0.1 (which must take requests without a secret). Local only.
//
//   tallyloft_soak run ADDRESS SERVER_PID [POSTS] [CONCURRENCY] [IDLE] [MAX_SECONDS]
//       Sends POSTS posts (one per fresh connection) from CONCURRENCY threads. Every tenth post
//       is bad: undecodable JSON, wrong types, bodies above the server's limit, broken HTTP,
//       early closes and slow senders that trickle their bytes. Valid posts use a handful of
//       session ids. IDLE connections that never send a byte are held open meanwhile (reopened
//       when the server ends them). Samples SERVER_PID's resident memory along the way. Prints
//       key=value lines on stdout; exits 1 when a post went wrong or MAX_SECONDS passed.
//   tallyloft_soak probe ADDRESS
//       One post the server answers but does not count; exits 0 when the fixed reply came back.
//   tallyloft_soak free-port
//       Prints a loopback port that was free a moment ago.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "soak/IdleHolder.h"
#include "soak/Traffic.h"

namespace {

using namespace tallyloft::soak;

// A field of /proc/PID/status in KiB ("VmRSS", "VmHWM"), or -1.
long statusKiB(int pid, const std::string& field) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind(field + ":", 0) == 0)
      return std::strtol(line.c_str() + field.size() + 1, nullptr, 10);
  }
  return -1;
}

int runSoak(const LocalAddress& address, int pid, std::int64_t posts, int concurrency, int idle,
            int maxSeconds) {
  Tallies tallies;
  Poster poster(address, tallies);
  IdleHolder holder(address, idle);
  holder.start();
  std::this_thread::sleep_for(std::chrono::milliseconds(500));  // let the idle ones settle in
  const auto started = Clock::now();
  const auto deadline = started + std::chrono::seconds(maxSeconds);
  std::printf("rss_start_kib=%ld\nidle_open_start=%d\n", statusKiB(pid, "VmRSS"), holder.openNow());
  std::fflush(stdout);

  std::atomic<std::int64_t> next{0};
  std::atomic<bool> timedOut{false};
  std::vector<std::thread> workers;
  for (int worker = 0; worker < concurrency; ++worker) {
    workers.emplace_back([&] {
      for (;;) {
        if (Clock::now() > deadline) {
          timedOut = true;
          return;
        }
        const std::int64_t index = next.fetch_add(1);
        if (index >= posts) return;
        poster.post(index);
        ++tallies.done;
      }
    });
  }
  // Memory and progress while the posts run.
  int quarter = 1;
  auto lastProgress = Clock::now();
  while (tallies.done.load() < posts && !timedOut) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    const std::int64_t done = tallies.done.load();
    while (quarter < 4 && done >= posts * quarter / 4) {
      std::printf("rss_q%d_kib=%ld\nrss_q%d_done=%lld\n", quarter, statusKiB(pid, "VmRSS"), quarter,
                  static_cast<long long>(done));
      std::fflush(stdout);
      ++quarter;
    }
    if (Clock::now() - lastProgress > std::chrono::seconds(10)) {
      lastProgress = Clock::now();
      std::fprintf(stderr, "soak: %lld of %lld posts, %d idle open\n", static_cast<long long>(done),
                   static_cast<long long>(posts), holder.openNow());
    }
  }
  for (auto& worker : workers) worker.join();
  const double seconds = std::chrono::duration<double>(Clock::now() - started).count();
  const int idleAtEnd = holder.openNow();
  holder.stop();

  std::int64_t validWritten = 0, validAnswered = 0, validPosts = 0, badPosts = 0, unexpected = 0;
  for (int k = 0; k < static_cast<int>(Kind::count); ++k) {
    const KindTally& tally = tallies.kinds[k];
    const Kind kind = static_cast<Kind>(k);
    if (isValid(kind)) {
      validPosts += tally.posts;
      validWritten += tally.fullyWritten;
      validAnswered += tally.answered;
    } else {
      badPosts += tally.posts;
    }
    unexpected += tally.unexpected;
    std::printf("kind=%s|%lld|%lld|%lld|%lld\n", kKindNames[k],
                static_cast<long long>(tally.posts.load()),
                static_cast<long long>(tally.fullyWritten.load()),
                static_cast<long long>(tally.answered.load()),
                static_cast<long long>(tally.unexpected.load()));
  }
  std::printf(
      "posts=%lld\nvalid_posts=%lld\nvalid_written=%lld\nvalid_answered=%lld\n"
      "bad_posts=%lld\nfloods=%lld\nunexpected=%lld\nconnect_failures=%lld\n"
      "seconds=%.1f\nposts_per_second=%.0f\ntimed_out=%d\n"
      "idle_target=%d\nidle_open_end=%d\nidle_fewest_open=%d\nidle_reopened=%lld\n"
      "idle_answered=%lld\nidle_refused=%lld\nrss_burst_end_kib=%ld\n",
      static_cast<long long>(tallies.done.load()), static_cast<long long>(validPosts),
      static_cast<long long>(validWritten), static_cast<long long>(validAnswered),
      static_cast<long long>(badPosts), static_cast<long long>(tallies.floods.load()),
      static_cast<long long>(unexpected), static_cast<long long>(tallies.connectFailures.load()),
      seconds, static_cast<double>(tallies.done.load()) / seconds, timedOut ? 1 : 0, idle,
      idleAtEnd, holder.fewestOpen(), static_cast<long long>(holder.reopened()),
      static_cast<long long>(holder.answered()), static_cast<long long>(holder.refused()),
      statusKiB(pid, "VmRSS"));
  return (unexpected == 0 && !timedOut && holder.answered() == 0) ? 0 : 1;
}

int probe(const LocalAddress& address) {
  return probeOnce(address) ? 0 : 1;
}

int freePort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof address;
  if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
    return 1;
  }
  std::printf("%d\n", ntohs(address.sin_port));
  ::close(fd);
  return 0;
}

int usage() {
  std::fprintf(stderr,
               "usage: tallyloft_soak run ADDRESS SERVER_PID [POSTS] [CONCURRENCY] [IDLE] "
               "[MAX_SECONDS]\n"
               "       tallyloft_soak probe ADDRESS\n"
               "       tallyloft_soak free-port\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return usage();
  const std::string mode = argv[1];
  if (mode == "free-port") return freePort();
  if (argc < 3) return usage();
  const auto address = LocalAddress::parse(argv[2]);
  if (!address) return usage();
  if (mode == "probe") return probe(*address);
  if (mode == "run" && argc >= 4) {
    return runSoak(*address, std::atoi(argv[3]), argc > 4 ? std::atoll(argv[4]) : 1'000'000,
                   argc > 5 ? std::atoi(argv[5]) : 32, argc > 6 ? std::atoi(argv[6]) : 300,
                   argc > 7 ? std::atoi(argv[7]) : 1200);
  }
  return usage();
}
