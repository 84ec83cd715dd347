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
  if (socketPath_.empty() || socketPath_.size() >= sizeof(address.sun_path)) return fail(AgentState::NotRunning);
  std::memcpy(address.sun_path, socketPath_.data(), socketPath_.size());
  fd_ = ProcDescriptor(::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
  // A Unix socket connects at once or not at all (a full backlog says EAGAIN).
  if (!fd_) return fail(AgentState::NotAnswering);
  if (::connect(fd_.get(), reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0) {
    // The socket's mode lets only the agent's group in: EACCES is this user not being in it.
    const int error = errno;
    return fail(error == EACCES || error == EPERM                                   ? AgentState::NotPermitted
                : error == ENOENT || error == ECONNREFUSED || error == ENOTDIR ? AgentState::NotRunning
                                                                               : AgentState::NotAnswering);
  }
  std::string_view payload;
  if (!receive(payload)) {
    // The agent closes at once, unheard, on a client it refuses (not of its group).
    return fail(closedUnheard_ ? AgentState::NotPermitted : AgentState::NotAnswering);
  }
  const std::optional<agent::Hello> hello = agent::decodeHello(payload);
  if (!hello || hello->version != agent::kVersion) return fail(AgentState::NotAnswering);
  hello_ = *hello;
  haveSnapshot_ = false;  // a new agent numbers its snapshots afresh
  // An agent older than the status request answers BadRequest and goes on serving.
  if (!send({MessageType::Status, 0}) || !receive(payload)) return fail(AgentState::NotAnswering);
  if (const std::optional<agent::Status> status = agent::decodeStatus(payload)) {
    state_ = status->partial() ? AgentState::Partial : AgentState::Serving;
  } else if (agent::decodeError(payload) == agent::ErrorCode::BadRequest) {
    state_ = AgentState::Serving;
  } else {
    return fail(AgentState::NotAnswering);
  }
  ++connections_;
  return true;
}

bool AgentSystem::fail(AgentState why) {
  disconnect();
  state_ = why;
  return false;
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
  closedUnheard_ = false;
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
      closedUnheard_ = had == 0 && (n == 0 || errno == ECONNRESET);
      disconnect();
      return false;
    }
  }
}

bool AgentSystem::fetch(agent::Snapshot& into) {
  std::string_view payload;
  if (!connected() || !send({MessageType::Snapshot, 0}) || !receive(payload)) return fail(AgentState::NotAnswering);
  // Within one connection, a sample older than the one before it is not this agent's.
  const std::uint64_t lastSequence = haveSnapshot_ ? snapshot_.sequence : 0;
  const std::uint64_t lastMs = haveSnapshot_ ? snapshot_.sampleMs : 0;
  if (!agent::decodeSnapshot(payload, into) || into.sequence < lastSequence || into.sampleMs < lastMs) {
    into.samples.clear();
    into.counters.clear();
    haveSnapshot_ = false;
    return fail(AgentState::NotAnswering);
  }
  haveSnapshot_ = true;
  snapshot_.sequence = into.sequence;
  snapshot_.sampleMs = into.sampleMs;
  return true;
}

void AgentSystem::readSnapshot(std::vector<ProcessSample>& out) {
  out.clear();
  if (!fetch(latest_)) return;
  snapshot_.samples.swap(latest_.samples);
  snapshot_.counters.swap(latest_.counters);
  out = snapshot_.samples;
  for (std::size_t i = 0; i < out.size(); ++i) out[i].counters = chosen(snapshot_.counters[i], byteSource_);
}

std::u16string AgentSystem::imagePath(std::uint32_t pid) {
  std::string_view payload;
  if (!connected() || !send({MessageType::ImagePath, pid}) || !receive(payload)) return {};
  std::optional<agent::ImagePathReply> reply = agent::decodeImagePath(payload);
  if (!reply || reply->pid != pid) {
    fail(AgentState::NotAnswering);
    return {};
  }
  return std::move(reply->path);
}

AgentSystem::HistoryAnswer AgentSystem::fetchHistory(ProcByteSource source, agent::HistorySeries series,
                                                     std::uint64_t after, agent::HistoryChunk& into) {
  std::string_view payload;
  agent::Request request{MessageType::History, 0, source, series, after};
  if (!connected() || !send(request) || !receive(payload)) {
    fail(AgentState::NotAnswering);
    return HistoryAnswer::Failed;
  }
  // An agent older than the history answers BadRequest and goes on serving.
  if (agent::decodeError(payload) == agent::ErrorCode::BadRequest) return HistoryAnswer::Unsupported;
  if (!agent::decodeHistory(payload, into) || into.source != source || into.series != series ||
      (!into.items.empty() && into.firstSequence <= after)) {
    fail(AgentState::NotAnswering);
    return HistoryAnswer::Failed;
  }
  return HistoryAnswer::Chunk;
}

std::uint64_t AgentSystem::nowMs() {
  if (haveSnapshot_) return snapshot_.sampleMs;
  std::string_view payload;
  if (connected() && send({MessageType::Clock, 0}) && receive(payload)) {
    if (const std::optional<std::uint64_t> ms = agent::decodeClock(payload)) return *ms;
    fail(AgentState::NotAnswering);
  }
  return monotonicMs();
}

}  // namespace tessivo
