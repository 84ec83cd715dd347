// tessivo-agent: samples /proc with the privilege to read every process's counters and
// serves them to the desktop program over a Unix socket and, when asked, to Prometheus.
#include <linux/capability.h>
#include <signal.h>
#include <sys/syscall.h>
#include <unistd.h>

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
    "  --group NAME        the socket's group, whose members may connect (default: the\n"
    "                      agent's group; tessivo when started with group root)\n"
    "  --max-clients N     connections served at once (default 64)\n"
    "  --max-clients-per-user N\n"
    "                      connections of one user served at once (default 4)\n"
    "  --interval MS       sampling interval in milliseconds (default 333)\n"
    "  --retention HOURS   hours of the chart's minute history kept in memory for the\n"
    "                      desktop program, 1 to 720 (default 72)\n"
    "  --metrics ADDR:PORT serve Prometheus metrics there (off by default)\n"
    "  --max-series N      application series before the rest are summed (default 2000)\n"
    "  --kernel-threads sum|separate\n"
    "                      in the metrics, all kernel threads as one application\n"
    "                      \"(kernel)\" (the default), or each by its name\n"
    "  --help              this text\n"
    "  --version           the program's and the protocol's version\n";

// The capabilities reading other users' counters and paths takes that are not in the
// effective set, comma-separated; empty when all are there.
std::string missingCapabilities() {
  __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3]{};
  if (::syscall(SYS_capget, &header, data) != 0) return "CAP_SYS_PTRACE, CAP_DAC_READ_SEARCH";
  std::string missing;
  for (const auto& [bit, name] : {std::pair{CAP_SYS_PTRACE, "CAP_SYS_PTRACE"}, {CAP_DAC_READ_SEARCH, "CAP_DAC_READ_SEARCH"}}) {
    if ((data[bit / 32].effective & (1u << (bit % 32))) != 0) continue;
    missing += missing.empty() ? "" : ", ";
    missing += name;
  }
  return missing;
}

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
  tessivo::AgentMetricsOptions metricsOptions;
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
    if (flag != "--socket" && flag != "--group" && flag != "--max-clients" && flag != "--max-clients-per-user" &&
        flag != "--metrics" && flag != "--max-series" && flag != "--kernel-threads" && flag != "--interval" &&
        flag != "--retention")
      return usageError("unknown option ", argv[i]);
    if (i + 1 >= argc) return usageError("missing value after ", argv[i]);
    const char* value = argv[++i];
    if (flag == "--socket") {
      options.socketPath = value;
    } else if (flag == "--group") {
      if (*value == '\0') return usageError("--group wants a group's name", "");
      options.socketGroup = value;
    } else if (flag == "--max-clients" || flag == "--max-clients-per-user") {
      const auto n = parseNumber<std::size_t>(value, 1, 100'000);
      if (!n) return usageError(flag == "--max-clients" ? "--max-clients wants 1 to 100000, not " : "--max-clients-per-user wants 1 to 100000, not ", value);
      (flag == "--max-clients" ? options.maxClients : options.maxClientsPerUser) = *n;
    } else if (flag == "--kernel-threads") {
      const std::string_view how = value;
      if (how != "sum" && how != "separate") return usageError("--kernel-threads wants sum or separate, not ", value);
      metricsOptions.separateKernelThreads = how == "separate";
    } else if (flag == "--metrics") {
      metricsAddress = value;
    } else if (flag == "--retention") {
      const auto n = parseNumber<std::int32_t>(value, 1, 720);
      if (!n) return usageError("--retention wants 1 to 720 hours, not ", value);
      options.retentionHours = *n;
    } else if (flag == "--max-series") {
      const auto n = parseNumber<std::size_t>(value, 1, 1'000'000);
      if (!n) return usageError("--max-series wants 1 to 1000000, not ", value);
      metricsOptions.maxSeries = *n;
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
    // Without these the agent still serves: its own user's processes and every name and
    // parent are right, and the Status reply tells clients that the rest is not.
    const std::string missing = missingCapabilities();
    options.partial = !missing.empty();
    if (options.partial) std::fprintf(stderr, "tessivo-agent: missing %s: other users' counters will be zero\n", missing.c_str());
    if (metricsAddress) {
      metricsOptions.bindAddress = *metricsAddress;
      metrics = std::make_unique<tessivo::AgentMetrics>(metricsOptions);
    }
    tessivo::AgentServer server(system, options, metrics.get());
    std::fprintf(stderr, "tessivo-agent: serving %s to group %s every %u ms, %d h of history%s%s%s\n",
                 options.socketPath.c_str(), server.socketGroupName().c_str(), static_cast<unsigned>(options.intervalMs),
                 static_cast<int>(options.retentionHours),
                 ::geteuid() == 0 ? ", as root" : "", metricsAddress ? ", metrics on " : "",
                 metricsAddress ? metricsAddress->c_str() : "");
    server.run(stopRequested);
    return 0;
  } catch (const std::exception& error) {
    std::fprintf(stderr, "tessivo-agent: %s\n", error.what());
    return 1;
  }
}
