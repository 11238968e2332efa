// Load tool for the hook endpoint. Like the hook command, it opens a fresh connection per
// request, posts a realistic PreToolUse body and reads the reply until the server closes.
// ADDRESS is a Unix socket's path or a TCP port on 127.0.0.1.
//
//   tallyloft_load http ADDRESS [REQUESTS] [CONCURRENCY] [LABEL] [HEADER_FILE]
//       N requests at concurrency C; prints one table row: requests/s, p50/p99/p99.9 latency.
//       HEADER_FILE's first line goes with each request (the secret, for a port).
//   tallyloft_load command ADDRESS [RUNS] [LABEL] [SECRET_FILE]
//       Runs the exact hook command through `sh -c` RUNS times; prints median and p99 in ms. For
//       a port without SECRET_FILE, the command versions before the socket wrote.
//   tallyloft_load header
//       Prints the table header.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "RealisticRequest.h"
#include "base/Loopback.h"
#include "hooks/HookCommand.h"

namespace {

using Clock = std::chrono::steady_clock;

double percentile(std::vector<double>& values, double fraction) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const auto index = static_cast<std::size_t>(fraction * static_cast<double>(values.size() - 1));
  return values[index];
}

// One request on a fresh connection; returns whether the full fixed reply came back.
bool postOnce(const tallyloft::LocalAddress& address, const std::string& request) {
  const tallyloft::Exchange exchange =
      tallyloft::exchangeLocal(address, request, std::chrono::seconds(5), {.noDelay = true});
  const std::string& reply = exchange.reply.bytes;
  return reply.rfind("HTTP/1.1 200 OK", 0) == 0 && reply.size() >= 2 &&
         reply.compare(reply.size() - 2, 2, "ok") == 0;
}

int runHttp(const tallyloft::LocalAddress& address, int requests, int concurrency,
            const std::string& label, const std::string& headerFile) {
  std::string request = tallyloft::bench::preToolUseRequest();
  if (!headerFile.empty()) {
    std::ifstream file(headerFile);
    std::string header;
    std::getline(file, header);
    request.insert(request.find("\r\n") + 2, header + "\r\n");
  }
  std::atomic<int> next{0};
  std::atomic<int> failures{0};
  std::vector<std::vector<double>> latencies(static_cast<std::size_t>(concurrency));
  const auto started = Clock::now();
  std::vector<std::thread> workers;
  for (int worker = 0; worker < concurrency; ++worker) {
    workers.emplace_back([&, worker] {
      auto& mine = latencies[static_cast<std::size_t>(worker)];
      while (next.fetch_add(1) < requests) {
        const auto begin = Clock::now();
        if (!postOnce(address, request)) ++failures;
        mine.push_back(std::chrono::duration<double, std::micro>(Clock::now() - begin).count());
      }
    });
  }
  for (auto& worker : workers) worker.join();
  const double seconds = std::chrono::duration<double>(Clock::now() - started).count();
  std::vector<double> all;
  for (auto& list : latencies) all.insert(all.end(), list.begin(), list.end());
  std::printf("| %-18s | %7d | %4d | %10.0f | %8.0f | %8.0f | %9.0f | %6d |\n", label.c_str(),
              requests, concurrency, requests / seconds, percentile(all, 0.50),
              percentile(all, 0.99), percentile(all, 0.999), failures.load());
  return failures.load() == 0 ? 0 : 1;
}

int runCommand(const tallyloft::LocalAddress& address, int runs, const std::string& label,
               const std::string& secretFile) {
  const std::string command = tallyloft::hookCommand(
      address.isUnix() ? tallyloft::HookTarget{.socket = address.socket}
                       : tallyloft::HookTarget{.port = address.port, .secretFile = secretFile});
  const std::string& body = tallyloft::bench::kPreToolUseBody;
  std::vector<double> millis;
  int failures = 0;
  for (int run = 0; run < runs; ++run) {
    const auto begin = Clock::now();
    FILE* shell = ::popen(command.c_str(), "w");
    if (shell == nullptr) return 1;
    std::fwrite(body.data(), 1, body.size(), shell);
    if (::pclose(shell) != 0) ++failures;
    millis.push_back(std::chrono::duration<double, std::milli>(Clock::now() - begin).count());
  }
  std::printf("| %-30s | %5d | %9.1f | %7.1f | %14d |\n", label.c_str(), runs,
              percentile(millis, 0.5), percentile(millis, 0.99), failures);
  return failures == 0 ? 0 : 1;
}

int usage() {
  std::fprintf(stderr,
               "usage: tallyloft_load http ADDRESS [REQUESTS] [CONCURRENCY] [LABEL] [HEADER_FILE]\n"
               "       tallyloft_load command ADDRESS [RUNS] [LABEL] [SECRET_FILE]\n"
               "       tallyloft_load header|command-header\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return usage();
  const std::string mode = argv[1];
  if (mode == "header") {
    std::printf("| %-18s | %7s | %4s | %10s | %8s | %8s | %9s | %6s |\n", "server", "N", "C",
                "req/s", "p50 us", "p99 us", "p99.9 us", "failed");
    std::printf(
        "|%s|%s|%s|%s|%s|%s|%s|%s|\n", std::string(20, '-').c_str(), std::string(9, '-').c_str(),
        std::string(6, '-').c_str(), std::string(12, '-').c_str(), std::string(10, '-').c_str(),
        std::string(10, '-').c_str(), std::string(11, '-').c_str(), std::string(8, '-').c_str());
    return 0;
  }
  if (mode == "command-header") {
    std::printf("| %-30s | %5s | %9s | %7s | %14s |\n", "hook command", "runs", "median ms",
                "p99 ms", "non-zero exits");
    std::printf("|%s|%s|%s|%s|%s|\n", std::string(32, '-').c_str(), std::string(7, '-').c_str(),
                std::string(11, '-').c_str(), std::string(9, '-').c_str(),
                std::string(16, '-').c_str());
    return 0;
  }
  if (argc < 3) return usage();
  const auto address = tallyloft::LocalAddress::parse(argv[2]);
  if (!address) return usage();
  if (mode == "http") {
    const int requests = argc > 3 ? std::atoi(argv[3]) : 20000;
    const int concurrency = argc > 4 ? std::atoi(argv[4]) : 16;
    return runHttp(*address, requests, concurrency, argc > 5 ? argv[5] : "server",
                   argc > 6 ? argv[6] : "");
  }
  if (mode == "command") {
    const int runs = argc > 3 ? std::atoi(argv[3]) : 200;
    return runCommand(*address, runs, argc > 4 ? argv[4] : "hook command", argc > 5 ? argv[5] : "");
  }
  return usage();
}
