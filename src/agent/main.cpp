// tessivo-agent: samples /proc with the privilege to read every process's counters and
// serves them to the desktop program over a Unix socket and, when asked, to Prometheus.
#include <signal.h>

#include <charconv>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <exception>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "agent/agent_metrics.h"
#include "agent/agent_protocol.h"
#include "agent/agent_server.h"
#include "procfs/proc_system.h"

namespace {

volatile std::sig_atomic_t stopRequested = 0;

void onStopSignal(int) { stopRequested = 1; }

constexpr char kUsage[] =
    "Usage: tessivo-agent [options]\n"
    "  --socket PATH       Unix socket to serve (default /run/tessivo/agent.sock)\n"
    "  --metrics ADDR:PORT serve Prometheus metrics there (off by default)\n"
    "  --max-series N      application series before the rest are summed (default 2000)\n"
    "  --interval MS       sampling interval in milliseconds (default 333)\n"
    "  --help              this text\n"
    "  --version           the program's and the protocol's version\n";

template <typename Number>
std::optional<Number> parseNumber(std::string_view text, Number min, Number max) {
  Number value{};
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || value < min || value > max) return std::nullopt;
  return value;
}

int usageError(const char* message, const char* argument) {
  std::fprintf(stderr, "tessivo-agent: %s%s\n%s", message, argument, kUsage);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  tessivo::AgentOptions options;
  std::optional<std::string> metricsAddress;
  std::size_t maxSeries = 2000;
  for (int i = 1; i < argc; ++i) {
    const std::string_view flag = argv[i];
    if (flag == "--help") {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (flag == "--version") {
      std::printf("tessivo-agent %s (protocol %u)\n", TESSIVO_VERSION, static_cast<unsigned>(tessivo::agent::kVersion));
      return 0;
    }
    if (flag != "--socket" && flag != "--metrics" && flag != "--max-series" && flag != "--interval")
      return usageError("unknown option ", argv[i]);
    if (i + 1 >= argc) return usageError("missing value after ", argv[i]);
    const char* value = argv[++i];
    if (flag == "--socket") {
      options.socketPath = value;
    } else if (flag == "--metrics") {
      metricsAddress = value;
    } else if (flag == "--max-series") {
      const auto n = parseNumber<std::size_t>(value, 1, 1'000'000);
      if (!n) return usageError("--max-series wants 1 to 1000000, not ", value);
      maxSeries = *n;
    } else {
      const auto n = parseNumber<std::uint32_t>(value, 10, 3'600'000);
      if (!n) return usageError("--interval wants 10 to 3600000 ms, not ", value);
      options.intervalMs = *n;
    }
  }

  // A client that goes away mid-reply must not end the agent.
  ::signal(SIGPIPE, SIG_IGN);
  // Let through only while the loop waits, so a stop is never missed between checks.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGTERM);
  sigaddset(&stopSignals, SIGINT);
  ::sigprocmask(SIG_BLOCK, &stopSignals, nullptr);
  struct sigaction action {};
  action.sa_handler = onStopSignal;
  sigemptyset(&action.sa_mask);
  ::sigaction(SIGTERM, &action, nullptr);
  ::sigaction(SIGINT, &action, nullptr);

  try {
    tessivo::raiseOpenFileLimit();
    tessivo::ProcSystem system;
    std::unique_ptr<tessivo::AgentMetrics> metrics;
    if (metricsAddress)
      metrics = std::make_unique<tessivo::AgentMetrics>(tessivo::AgentMetricsOptions{*metricsAddress, maxSeries});
    tessivo::AgentServer server(system, options, metrics.get());
    std::fprintf(stderr, "tessivo-agent: serving %s every %u ms%s%s\n", options.socketPath.c_str(),
                 static_cast<unsigned>(options.intervalMs), metricsAddress ? ", metrics on " : "",
                 metricsAddress ? metricsAddress->c_str() : "");
    server.run(stopRequested);
    return 0;
  } catch (const std::exception& error) {
    std::fprintf(stderr, "tessivo-agent: %s\n", error.what());
    return 1;
  }
}
