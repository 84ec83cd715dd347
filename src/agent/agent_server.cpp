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

#include "agent/agent_metrics.h"
#include "agent/agent_protocol.h"
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

sockaddr_un socketAddress(const std::string& path) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.empty() || path.size() >= sizeof(address.sun_path))
    throw std::runtime_error("socket path empty or longer than " + std::to_string(sizeof(address.sun_path) - 1));
  std::memcpy(address.sun_path, path.data(), path.size());
  return address;
}

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
  bool closing = false;
};

// The group an agent of group root gives its socket to when none is named.
constexpr char kMembersGroup[] = "tessivo";

// The group to give the socket: the one named, or, for an agent of group root, `tessivo`
// when that group exists; nullopt keeps the group the socket was created with.
std::optional<gid_t> chosenGroup(const std::string& name) {
  if (name.empty() && ::getegid() != 0) return std::nullopt;
  if (const group* found = ::getgrnam(name.empty() ? kMembersGroup : name.c_str())) return found->gr_gid;
  if (name.empty()) return std::nullopt;
  throw std::runtime_error("no group " + name);
}

// Refusals are logged at most once per window, then how many were left out, so that a
// burst of connections writes two lines rather than one per connection.
class RefusalLog {
 public:
  static constexpr std::uint64_t kWindowMs = 10000;

  void refuse(std::uint64_t now, const char* line) {
    summarise(now);
    if (opened_ && now - windowStartMs_ < kWindowMs) {
      ++leftOut_;
      return;
    }
    std::fprintf(stderr, "tessivo-agent: %s\n", line);
    opened_ = true;
    windowStartMs_ = now;
  }

  // Says how many were left out once their window is over.
  void summarise(std::uint64_t now) {
    if (leftOut_ == 0 || now - windowStartMs_ < kWindowMs) return;
    std::fprintf(stderr, "tessivo-agent: refused %zu more clients in the last %llu s\n", leftOut_,
                 static_cast<unsigned long long>((now - windowStartMs_) / 1000));
    leftOut_ = 0;
    windowStartMs_ = now;
  }

  std::uint64_t deadline() const {
    return leftOut_ == 0 ? std::numeric_limits<std::uint64_t>::max() : windowStartMs_ + kWindowMs;
  }

 private:
  bool opened_ = false;
  std::uint64_t windowStartMs_ = 0;
  std::size_t leftOut_ = 0;
};

}  // namespace

struct AgentServer::Impl {
  Impl(ProcSystem& s, AgentOptions o, AgentMetrics* m) : system(s), options(std::move(o)), metrics(m) {}

  ProcSystem& system;
  AgentOptions options;
  AgentMetrics* metrics;
  ProcDescriptor listener;
  dev_t socketDevice = 0;
  ino_t socketInode = 0;
  gid_t group = 0;  // members may connect
  std::vector<Client> clients;
  RefusalLog refusals;
  std::array<char, 160> line{};  // a refusal's text

  std::vector<ProcessSample> samples;
  std::vector<ProcCounters> counters;
  std::uint64_t sampleMs = 0;
  std::uint64_t sequence = 0;
  std::shared_ptr<const std::string> snapshotFrame;  // the latest snapshot, encoded once

  struct PathEntry {
    std::uint64_t createTime = 0;
    std::uint32_t generation = 0;
    std::u16string path;
  };
  std::unordered_map<std::uint32_t, PathEntry> paths;
  std::vector<std::u16string> samplePaths;  // index-aligned, for the metrics

  void bindSocket() {
    const sockaddr_un address = socketAddress(options.socketPath);
    struct stat existing {};
    if (::lstat(options.socketPath.c_str(), &existing) == 0) {
      if (!S_ISSOCK(existing.st_mode)) throw std::runtime_error(options.socketPath + " exists and is not a socket");
      ProcDescriptor probe(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
      if (::connect(probe.get(), reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0)
        throw std::runtime_error("another agent answers at " + options.socketPath);
      ::unlink(options.socketPath.c_str());  // left by an agent that did not stop cleanly
    }
    listener = ProcDescriptor(::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (!listener) throw std::runtime_error(std::string("socket: ") + std::strerror(errno));
    // 0660 from the start: there is no moment at which others could connect.
    const mode_t oldMask = ::umask(0117);
    const int bound = ::bind(listener.get(), reinterpret_cast<const sockaddr*>(&address), sizeof(address));
    const int bindError = errno;
    ::umask(oldMask);
    if (bound != 0) throw std::runtime_error("bind " + options.socketPath + ": " + std::strerror(bindError));
    // Before listening, so no client is ever checked against the wrong group.
    if (const std::optional<gid_t> wanted = chosenGroup(options.socketGroup);
        wanted && ::lchown(options.socketPath.c_str(), static_cast<uid_t>(-1), *wanted) != 0)
      throw std::runtime_error("cannot give " + options.socketPath + " to group " +
                               (options.socketGroup.empty() ? kMembersGroup : options.socketGroup) + ": " +
                               std::strerror(errno));
    // A deep backlog: refused connections are taken and closed at once, and a burst must not
    // leave a well-behaved client's connect waiting for room.
    if (::listen(listener.get(), SOMAXCONN) != 0)
      throw std::runtime_error(std::string("listen: ") + std::strerror(errno));
    struct stat created {};
    if (::stat(options.socketPath.c_str(), &created) != 0)
      throw std::runtime_error("stat " + options.socketPath + ": " + std::strerror(errno));
    socketDevice = created.st_dev;
    socketInode = created.st_ino;
    group = created.st_gid;
  }

  void removeSocket() {
    struct stat now {};
    if (::stat(options.socketPath.c_str(), &now) == 0 && now.st_dev == socketDevice && now.st_ino == socketInode)
      ::unlink(options.socketPath.c_str());
  }

  // Root, the agent's own user and members of the socket's group; the peer's groups are
  // the kernel's record from connect time (SO_PEERGROUPS), not anything the peer says.
  bool peerAllowed(int fd, ucred& peer, std::uint64_t now) {
    socklen_t length = sizeof(peer);
    if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &length) != 0) {
      std::snprintf(line.data(), line.size(), "refused a client: no peer credentials (%s)", std::strerror(errno));
      refusals.refuse(now, line.data());
      return false;
    }
    if (peer.uid == 0 || peer.uid == ::geteuid() || peer.gid == group) return true;
    std::array<gid_t, 256> groups{};
    length = sizeof(groups);
    if (::getsockopt(fd, SOL_SOCKET, SO_PEERGROUPS, groups.data(), &length) == 0) {
      const std::size_t count = length / sizeof(gid_t);
      if (std::find(groups.begin(), groups.begin() + static_cast<std::ptrdiff_t>(count), group) !=
          groups.begin() + static_cast<std::ptrdiff_t>(count))
        return true;
    }
    std::snprintf(line.data(), line.size(), "refused pid %d uid %u gid %u: not in group %u", static_cast<int>(peer.pid),
                  static_cast<unsigned>(peer.uid), static_cast<unsigned>(peer.gid), static_cast<unsigned>(group));
    refusals.refuse(now, line.data());
    return false;
  }

  void acceptClients(std::uint64_t now) {
    for (;;) {
      ProcDescriptor fd(::accept4(listener.get(), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC));
      if (!fd) return;  // EAGAIN, or a connection that went away before it was taken
      ucred peer{};
      if (!peerAllowed(fd.get(), peer, now)) continue;
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
    answer(client, request.value_or(agent::Request{MessageType::ErrorReply, 0}), now);
    client.input.erase(0, frameBytes);
    client.lastRequestMs = now;
    client.frameStartMs = now;
    flush(client, now);
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
    while (stop == 0) {
      std::uint64_t now = monotonicMs();
      if (now >= sampleMs + options.intervalMs) {
        takeSample();
        now = monotonicMs();
      }
      refusals.summarise(now);
      std::uint64_t wake = std::min(sampleMs + options.intervalMs, refusals.deadline());
      polled.assign(1, pollfd{listener.get(), POLLIN, 0});
      for (const Client& client : clients) {
        // A complete request waiting behind a reply needs no read; input is bounded anyway.
        short events = client.output.empty() ? POLLIN : POLLOUT;
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
      std::erase_if(clients, [&](const Client& c) { return c.closing || timedOut(c, now); });
      // After the clients, so the new ones are not matched with this round's poll results.
      if (ready > 0 && (polled[0].revents & POLLIN)) acceptClients(now);
    }
  }
};

AgentServer::AgentServer(ProcSystem& system, AgentOptions options, AgentMetrics* metrics)
    : impl_(std::make_unique<Impl>(system, std::move(options), metrics)) {
  impl_->bindSocket();
}

AgentServer::~AgentServer() { impl_->removeSocket(); }

void AgentServer::run(const volatile std::sig_atomic_t& stop) { impl_->run(stop); }

std::string AgentServer::socketGroupName() const {
  if (const group* found = ::getgrgid(impl_->group)) return found->gr_name;
  return std::to_string(impl_->group);
}

}  // namespace tessivo
