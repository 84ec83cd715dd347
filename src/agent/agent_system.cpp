#include "agent/agent_system.h"

#include <errno.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <time.h>

#include <algorithm>
#include <cstring>

namespace tessivo {

namespace {

using agent::MessageType;

IoCounters plus(const IoCounters& a, const IoCounters& b) {
  return {a.readOps + b.readOps,     a.writeOps + b.writeOps,     a.otherOps + b.otherOps,
          a.readBytes + b.readBytes, a.writeBytes + b.writeBytes, a.otherBytes + b.otherBytes};
}

// Modular, so that raw + (shown - raw) == shown whichever is larger.
IoCounters minus(const IoCounters& a, const IoCounters& b) {
  return {a.readOps - b.readOps,     a.writeOps - b.writeOps,     a.otherOps - b.otherOps,
          a.readBytes - b.readBytes, a.writeBytes - b.writeBytes, a.otherBytes - b.otherBytes};
}

ProcCounters plus(const ProcCounters& a, const ProcCounters& b) {
  return {plus(a.allIo, b.allIo), plus(a.diskOnly, b.diskOnly)};
}

ProcCounters minus(const ProcCounters& a, const ProcCounters& b) {
  return {minus(a.allIo, b.allIo), minus(a.diskOnly, b.diskOnly)};
}

std::uint64_t monotonicMs() {
  timespec now{};
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<std::uint64_t>(now.tv_sec) * 1000 + static_cast<std::uint64_t>(now.tv_nsec) / 1'000'000;
}

const IoCounters& chosen(const ProcCounters& both, ProcByteSource source) {
  return source == ProcByteSource::DiskOnly ? both.diskOnly : both.allIo;
}

}  // namespace

AgentSystem::AgentSystem(std::string socketPath, std::uint32_t timeoutMs)
    : socketPath_(std::move(socketPath)), timeoutMs_(timeoutMs) {}

bool AgentSystem::connect() {
  disconnect();
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (socketPath_.empty() || socketPath_.size() >= sizeof(address.sun_path)) return false;
  std::memcpy(address.sun_path, socketPath_.data(), socketPath_.size());
  fd_ = ProcDescriptor(::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
  // A Unix socket connects at once or not at all (a full backlog says EAGAIN).
  if (!fd_ || ::connect(fd_.get(), reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0) {
    disconnect();
    return false;
  }
  std::string_view payload;
  const std::optional<agent::Hello> hello = receive(payload) ? agent::decodeHello(payload) : std::nullopt;
  if (!hello || hello->version != agent::kVersion) {
    disconnect();
    return false;
  }
  hello_ = *hello;
  return true;
}

void AgentSystem::disconnect() {
  fd_.reset();
  input_.clear();
}

bool AgentSystem::send(const agent::Request& request) {
  std::string frame;
  agent::encodeRequest(request, frame);
  // A request is a few bytes: the socket buffer takes it whole or the agent is not reading.
  const ssize_t n = ::send(fd_.get(), frame.data(), frame.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
  if (n != static_cast<ssize_t>(frame.size())) {
    disconnect();
    return false;
  }
  return true;
}

bool AgentSystem::receive(std::string_view& payload) {
  input_.clear();
  const std::uint64_t deadline = monotonicMs() + timeoutMs_;
  constexpr std::size_t kChunk = 64 * 1024;
  for (;;) {
    std::size_t frameBytes = 0;
    switch (agent::peekFrame(input_, agent::kMaxReplyPayload, payload, frameBytes)) {
      case agent::FrameStatus::Ready:
        // The agent speaks only when asked: anything beyond the one reply is a fault.
        if (frameBytes == input_.size()) return true;
        [[fallthrough]];
      case agent::FrameStatus::Invalid:
        disconnect();
        return false;
      case agent::FrameStatus::NeedMore:
        break;
    }
    const std::uint64_t now = monotonicMs();
    pollfd polled{fd_.get(), POLLIN, 0};
    if (now >= deadline || ::poll(&polled, 1, static_cast<int>(deadline - now)) <= 0) {
      if (now < deadline && errno == EINTR) continue;
      disconnect();
      return false;
    }
    const std::size_t had = input_.size();
    input_.resize(had + kChunk);
    const ssize_t n = ::recv(fd_.get(), input_.data() + had, kChunk, MSG_DONTWAIT);
    input_.resize(had + static_cast<std::size_t>(std::max<ssize_t>(n, 0)));
    if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) {
      disconnect();
      return false;
    }
  }
}

void AgentSystem::readSnapshot(std::vector<ProcessSample>& out) {
  out.clear();
  std::string_view payload;
  if (!connected() || !send({MessageType::Snapshot, 0}) || !receive(payload)) return;
  // A sample older than the one before it is not this agent's.
  const std::uint64_t lastSequence = haveSnapshot_ ? snapshot_.sequence : 0;
  const std::uint64_t lastMs = haveSnapshot_ ? snapshot_.sampleMs : 0;
  if (!agent::decodeSnapshot(payload, snapshot_) || snapshot_.sequence < lastSequence || snapshot_.sampleMs < lastMs) {
    snapshot_.samples.clear();
    snapshot_.counters.clear();
    haveSnapshot_ = false;
    disconnect();
    return;
  }
  haveSnapshot_ = true;
  out = snapshot_.samples;
  for (std::size_t i = 0; i < out.size(); ++i) out[i].counters = chosen(snapshot_.counters[i], byteSource_);
}

std::u16string AgentSystem::imagePath(std::uint32_t pid) {
  std::string_view payload;
  if (!connected() || !send({MessageType::ImagePath, pid}) || !receive(payload)) return {};
  std::optional<agent::ImagePathReply> reply = agent::decodeImagePath(payload);
  if (!reply || reply->pid != pid) {
    disconnect();
    return {};
  }
  return std::move(reply->path);
}

std::uint64_t AgentSystem::nowMs() {
  if (haveSnapshot_) return snapshot_.sampleMs;
  std::string_view payload;
  if (connected() && send({MessageType::Clock, 0}) && receive(payload)) {
    if (const std::optional<std::uint64_t> ms = agent::decodeClock(payload)) return *ms;
    disconnect();
  }
  return monotonicMs();
}

SwitchingSystem::SwitchingSystem(std::string socketPath) : agent_(std::move(socketPath)) {}

void SwitchingSystem::setByteSource(ProcByteSource source) {
  byteSource_ = source;
  local_.setByteSource(source);
  agent_.setByteSource(source);
}

void SwitchingSystem::readSnapshot(std::vector<ProcessSample>& out) {
  const std::uint64_t now = local_.nowMs();
  if (!agent_.connected() && (!attempted_ || now - lastAttemptMs_ >= kReconnectMs)) {
    attempted_ = true;
    lastAttemptMs_ = now;
    agent_.connect();
  }
  bool fromAgent = false;
  if (agent_.connected()) {
    agent_.readSnapshot(out);
    fromAgent = agent_.connected();
  }
  // An agent that fails mid-call is replaced by /proc in the same refresh.
  if (!fromAgent) local_.readSnapshot(out);
  const bool switched = started_ && fromAgent != onAgent_;
  onAgent_ = fromAgent;
  started_ = true;
  present(fromAgent ? agent_.lastCounters() : local_.lastCounters(), switched, out);
}

// Counts continue across a change of source: each process's raw counters are shifted so
// that its first value from the new source is its last value from the old. A process
// that the local /proc cannot read (another user's) is listed there with zeros, and so
// holds its last value until the agent returns.
void SwitchingSystem::present(const std::vector<ProcCounters>& raw, bool switched, std::vector<ProcessSample>& out) {
  nextTracks_.clear();
  if (raw.size() != out.size()) out.clear();
  std::size_t old = 0;
  for (std::size_t i = 0; i < out.size(); ++i) {
    ProcessSample& sample = out[i];
    while (old < tracks_.size() && tracks_[old].pid < sample.pid) ++old;
    Track track{sample.pid, sample.createTime, sample.imageGeneration, 0, {}, {}};
    if (old < tracks_.size() && tracks_[old].pid == sample.pid && tracks_[old].createTime == sample.createTime) {
      const Track& before = tracks_[old];
      track.offset = switched ? minus(before.shown, raw[i]) : before.offset;
      // Each source numbers images its own way: only a change within one source is an exec.
      track.generation = before.generation + (!switched && before.rawGeneration != sample.imageGeneration ? 1 : 0);
    }
    track.shown = plus(raw[i], track.offset);
    sample.counters = chosen(track.shown, byteSource_);
    sample.imageGeneration = track.generation;
    nextTracks_.push_back(track);
  }
  std::swap(tracks_, nextTracks_);
}

std::u16string SwitchingSystem::imagePath(std::uint32_t pid) {
  if (onAgent_ && agent_.connected()) {
    std::u16string path = agent_.imagePath(pid);
    if (agent_.connected()) return path;
  }
  return local_.imagePath(pid);
}

std::uint64_t SwitchingSystem::nowMs() {
  // The agent's sample time while on the agent: its counters are of that moment.
  const std::uint64_t now = onAgent_ && agent_.connected() ? agent_.nowMs() : local_.nowMs();
  lastNowMs_ = std::max(lastNowMs_, now);
  return lastNowMs_;
}

}  // namespace tessivo
