#include "agent/agent_server.h"

#include <errno.h>
#include <grp.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <deque>
#include <limits>
#include <optional>
#include <stdexcept>
#include <unordered_map>
#include <vector>

#include "agent/agent_history.h"
#include "agent/agent_metrics.h"
#include "agent/agent_protocol.h"
#include "agent/agent_socket.h"
#include "procfs/proc_descriptor.h"

namespace tessivo {

namespace {

using agent::FrameStatus;
using agent::MessageType;

std::uint64_t monotonicNs() {
  timespec now{};
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<std::uint64_t>(now.tv_sec) * 1'000'000'000 + static_cast<std::uint64_t>(now.tv_nsec);
}

std::uint64_t monotonicMs() { return monotonicNs() / 1'000'000; }

// One frame waiting to go out; snapshot replies are shared by every client that asked.
struct Outgoing {
  std::shared_ptr<const std::string> bytes;
  std::size_t sent = 0;
};

struct Client {
  ProcDescriptor fd;
  uid_t uid = 0;      // the peer's, from the kernel at connect time
  std::string input;  // at most one request frame
  std::deque<Outgoing> output;
  std::uint64_t lastRequestMs = 0;
  std::uint64_t frameStartMs = 0;  // when the incomplete frame in input began
  std::uint64_t lastSendMs = 0;    // last progress on output
  double historyFrames = 0;        // history frames it may still have now
  std::uint64_t historyMs = 0;     // when historyFrames was counted
  std::uint64_t deferredUntilMs = 0;  // a history request waits for its turn until then
  bool closing = false;
};

}  // namespace

struct AgentServer::Impl {
  Impl(ProcSystem& s, AgentOptions o, AgentMetrics* m)
      : system(s), options(std::move(o)), metrics(m), history(options.intervalMs, options.retentionHours) {}

  ProcSystem& system;
  AgentOptions options;
  AgentMetrics* metrics;
  BoundSocket socket;
  std::vector<Client> clients;
  RefusalLog refusals;
  std::array<char, 160> line{};  // a refusal's text

  std::vector<ProcessSample> samples;
  std::vector<ProcCounters> counters;
  std::uint64_t sampleMs = 0;
  std::uint64_t sequence = 0;
  std::shared_ptr<const std::string> snapshotFrame;  // the latest snapshot, encoded once
  AgentHistory history;
  std::uint64_t historyDueMs = 0;  // the next refresh of the history

  struct PathEntry {
    std::uint64_t createTime = 0;
    std::uint32_t generation = 0;
    std::u16string path;
  };
  std::unordered_map<std::uint32_t, PathEntry> paths;
  std::vector<std::u16string> samplePaths;  // index-aligned, for the metrics

  void acceptClients(std::uint64_t now) {
    for (;;) {
      ProcDescriptor fd(::accept4(socket.listener.get(), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC));
      if (!fd) return;  // EAGAIN, or a connection that went away before it was taken
      ucred peer{};
      if (!peerAllowed(fd.get(), socket.group, peer, refusals, now)) continue;
      const auto ofUser = static_cast<std::size_t>(
          std::count_if(clients.begin(), clients.end(), [&](const Client& c) { return c.uid == peer.uid; }));
      if (ofUser >= options.maxClientsPerUser || clients.size() >= options.maxClients) {
        if (ofUser >= options.maxClientsPerUser)
          std::snprintf(line.data(), line.size(), "refused pid %d uid %u: %zu connections of that user already",
                        static_cast<int>(peer.pid), static_cast<unsigned>(peer.uid), ofUser);
        else
          std::snprintf(line.data(), line.size(), "refused pid %d uid %u: %zu clients already",
                        static_cast<int>(peer.pid), static_cast<unsigned>(peer.uid), clients.size());
        refusals.refuse(now, line.data());
        continue;
      }
      Client& client = clients.emplace_back();
      client.fd = std::move(fd);
      client.uid = peer.uid;
      client.lastRequestMs = now;
      client.lastSendMs = now;
      client.historyFrames = options.historyBurst;
      client.historyMs = now;
      auto hello = std::make_shared<std::string>();
      agent::encodeHello({agent::kVersion, options.intervalMs, static_cast<std::uint32_t>(::getpid())}, *hello);
      client.output.push_back({std::move(hello), 0});
      flush(client, now);
    }
  }

  void takeSample() {
    const std::uint64_t start = monotonicNs();
    system.readSnapshot(samples);
    counters = system.lastCounters();
    if (counters.size() != samples.size()) counters.resize(samples.size());
    sampleMs = system.nowMs();
    ++sequence;
    prunePaths();
    const std::uint64_t spent = monotonicNs() - start;
    if (metrics != nullptr) {
      samplePaths.resize(samples.size());
      for (std::size_t i = 0; i < samples.size(); ++i) samplePaths[i] = pathOf(i);
      metrics->update(samples, counters, samplePaths, spent);
    }
    auto frame = std::make_shared<std::string>();
    agent::encodeSnapshot(sampleMs, sequence, samples, counters, *frame);
    snapshotFrame = std::move(frame);
  }

  // Paths of processes gone or replaced are forgotten.
  void prunePaths() {
    if (paths.empty()) return;
    for (auto it = paths.begin(); it != paths.end();) {
      const auto found = findSample(it->first);
      const bool live = found != samples.end() && found->createTime == it->second.createTime &&
                        found->imageGeneration == it->second.generation;
      it = live ? std::next(it) : paths.erase(it);
    }
  }

  std::vector<ProcessSample>::const_iterator findSample(std::uint32_t pid) const {
    const auto it = std::lower_bound(samples.begin(), samples.end(), pid,
                                     [](const ProcessSample& s, std::uint32_t p) { return s.pid < p; });
    return it != samples.end() && it->pid == pid ? it : samples.end();
  }

  const std::u16string& pathOf(std::size_t index) {
    const ProcessSample& s = samples[index];
    auto [it, added] = paths.try_emplace(s.pid);
    if (added) it->second = PathEntry{s.createTime, s.imageGeneration, system.imagePath(s.pid)};
    return it->second.path;
  }

  // Only processes of the latest snapshot: a client cannot make the agent read links of
  // arbitrary pids, nor fill the cache with them.
  std::u16string pathForRequest(std::uint32_t pid) {
    const auto found = findSample(pid);
    if (found == samples.end()) return {};
    return pathOf(static_cast<std::size_t>(found - samples.begin()));
  }

  void answer(Client& client, const agent::Request& request, std::uint64_t now) {
    auto reply = std::make_shared<std::string>();
    switch (request.type) {
      case MessageType::Snapshot:
        // Served from the latest sample; a fresh one is taken when the latest is nearly an
        // interval old, so a client ticking at the interval gets one sample per tick.
        if (!snapshotFrame || now - sampleMs >= options.intervalMs * 9 / 10) takeSample();
        client.output.push_back({snapshotFrame, 0});
        return;
      case MessageType::ImagePath:
        agent::encodeImagePath(request.pid, pathForRequest(request.pid), *reply);
        break;
      case MessageType::Clock:
        agent::encodeClock(system.nowMs(), *reply);
        break;
      case MessageType::Status:
        agent::encodeStatus({options.partial ? agent::Status::kPartial : 0u}, *reply);
        break;
      case MessageType::History:
        history.encode(request.source, request.series, request.after, *reply);
        break;
      default:
        agent::encodeError(agent::ErrorCode::BadRequest, *reply);
        break;
    }
    client.output.push_back({std::move(reply), 0});
  }

  void flush(Client& client, std::uint64_t now) {
    while (!client.output.empty()) {
      Outgoing& out = client.output.front();
      const std::size_t left = out.bytes->size() - out.sent;
      const ssize_t n = ::send(client.fd.get(), out.bytes->data() + out.sent, left, MSG_NOSIGNAL | MSG_DONTWAIT);
      if (n < 0) {
        if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) client.closing = true;
        return;
      }
      client.lastSendMs = now;
      out.sent += static_cast<std::size_t>(n);
      if (out.sent == out.bytes->size()) client.output.pop_front();
    }
  }

  // Reads what the client sent and answers one request at a time: while a reply is still
  // going out, nothing more is read, so a client that does not read stops itself only.
  void receive(Client& client, std::uint64_t now) {
    std::array<char, agent::kFrameHeader + agent::kMaxRequestPayload> buffer{};
    const std::size_t room = buffer.size() - client.input.size();
    if (room == 0) return handleInput(client, now);  // recv of nothing would read as an end
    const ssize_t n = ::recv(client.fd.get(), buffer.data(), room, MSG_DONTWAIT);
    if (n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
      client.closing = true;
      return;
    }
    if (n > 0) {
      if (client.input.empty()) client.frameStartMs = now;
      client.input.append(buffer.data(), static_cast<std::size_t>(n));
    }
    handleInput(client, now);
  }

  void handleInput(Client& client, std::uint64_t now) {
    if (!client.output.empty() || client.closing) return;
    std::string_view payload;
    std::size_t frameBytes = 0;
    switch (agent::peekFrame(client.input, agent::kMaxRequestPayload, payload, frameBytes)) {
      case FrameStatus::NeedMore:
        return;
      case FrameStatus::Invalid:
        std::fprintf(stderr, "tessivo-agent: dropped a client: bad frame\n");
        client.closing = true;
        return;
      case FrameStatus::Ready:
        break;
    }
    const std::optional<agent::Request> request = agent::decodeRequest(payload);
    if (request && request->type == MessageType::History && !historyTurn(client, now)) return;
    answer(client, request.value_or(agent::Request{MessageType::ErrorReply, 0}), now);
    client.input.erase(0, frameBytes);
    client.lastRequestMs = now;
    client.frameStartMs = now;
    flush(client, now);
  }

  // Whether a history frame may go to this client now; if not, its request waits (nothing
  // more is read from it meanwhile) until one may.
  bool historyTurn(Client& client, std::uint64_t now) {
    const double rate = std::max<std::uint32_t>(options.historyFramesPerSecond, 1);
    client.historyFrames = std::min<double>(options.historyBurst, client.historyFrames + (now - client.historyMs) * rate / 1000);
    client.historyMs = now;
    client.deferredUntilMs = 0;
    if (client.historyFrames >= 1) {
      client.historyFrames -= 1;
      return true;
    }
    client.deferredUntilMs = now + 1 + static_cast<std::uint64_t>((1 - client.historyFrames) * 1000 / rate);
    return false;
  }

  bool timedOut(const Client& client, std::uint64_t now) const {
    if (!client.output.empty()) return now - client.lastSendMs >= options.stallTimeoutMs;
    if (!client.input.empty()) return now - client.frameStartMs >= options.frameTimeoutMs;
    return now - client.lastRequestMs >= options.idleTimeoutMs;
  }

  std::uint64_t deadline(const Client& client) const {
    if (!client.output.empty()) return client.lastSendMs + options.stallTimeoutMs;
    if (!client.input.empty()) return client.frameStartMs + options.frameTimeoutMs;
    return client.lastRequestMs + options.idleTimeoutMs;
  }

  void run(const volatile std::sig_atomic_t& stop) {
    sigset_t waitMask;
    ::sigprocmask(SIG_SETMASK, nullptr, &waitMask);
    ::sigdelset(&waitMask, SIGTERM);
    ::sigdelset(&waitMask, SIGINT);
    std::vector<pollfd> polled;
    takeSample();
    historyDueMs = monotonicMs() + history.intervalMs();
    while (stop == 0) {
      std::uint64_t now = monotonicMs();
      if (now >= historyDueMs) {
        // The history's refresh, on a schedule of its own: clients asking for snapshots at
        // other moments do not make its minutes shorter.
        if (now - sampleMs >= options.intervalMs * 9 / 10) takeSample();
        history.record(samples, counters, sampleMs);
        historyDueMs += history.intervalMs();
        // Behind by more than a refresh (the agent was stopped, the machine suspended): the
        // refreshes missed are not made up in a burst.
        if (historyDueMs <= now) historyDueMs = now + history.intervalMs();
        now = monotonicMs();
      }
      if (now >= sampleMs + options.intervalMs) {
        takeSample();
        now = monotonicMs();
      }
      refusals.summarise(now);
      std::uint64_t wake = std::min({sampleMs + options.intervalMs, historyDueMs, refusals.deadline()});
      polled.assign(1, pollfd{socket.listener.get(), POLLIN, 0});
      for (const Client& client : clients) {
        // A complete request waiting behind a reply needs no read; input is bounded anyway.
        short events = client.output.empty() ? POLLIN : POLLOUT;
        if (client.deferredUntilMs != 0) {
          events = 0;  // its request waits for its turn
          wake = std::min(wake, client.deferredUntilMs);
        }
        polled.push_back(pollfd{client.fd.get(), events, 0});
        wake = std::min(wake, deadline(client));
      }
      const std::uint64_t waitMs = wake > now ? wake - now : 0;
      const timespec timeout{static_cast<time_t>(waitMs / 1000), static_cast<long>(waitMs % 1000) * 1'000'000};
      const int ready = ::ppoll(polled.data(), polled.size(), &timeout, &waitMask);
      if (ready < 0 && errno != EINTR) throw std::runtime_error(std::string("ppoll: ") + std::strerror(errno));
      now = monotonicMs();
      if (ready > 0) {
        for (std::size_t i = 0; i < clients.size(); ++i) {
          const short revents = polled[i + 1].revents;
          Client& client = clients[i];
          if (revents & POLLOUT) {
            flush(client, now);
            handleInput(client, now);  // a request that waited behind the reply
          }
          if (revents & POLLIN) receive(client, now);
          else if (revents & (POLLERR | POLLHUP | POLLNVAL)) client.closing = true;
        }
      }
      for (Client& client : clients)
        if (client.deferredUntilMs != 0 && now >= client.deferredUntilMs) handleInput(client, now);
      std::erase_if(clients, [&](const Client& c) { return c.closing || timedOut(c, now); });
      // After the clients, so the new ones are not matched with this round's poll results.
      if (ready > 0 && (polled[0].revents & POLLIN)) acceptClients(now);
    }
  }
};

AgentServer::AgentServer(ProcSystem& system, AgentOptions options, AgentMetrics* metrics)
    : impl_(std::make_unique<Impl>(system, std::move(options), metrics)) {
  impl_->socket = bindAgentSocket(impl_->options.socketPath, impl_->options.socketGroup);
}

AgentServer::~AgentServer() { removeAgentSocket(impl_->options.socketPath, impl_->socket); }

void AgentServer::run(const volatile std::sig_atomic_t& stop) { impl_->run(stop); }

AgentHistory& AgentServer::history() { return impl_->history; }

std::string AgentServer::socketGroupName() const {
  if (const group* found = ::getgrgid(impl_->socket.group)) return found->gr_name;
  return std::to_string(impl_->socket.group);
}

}  // namespace tessivo
