#include "agent/agent_socket.h"

#include <errno.h>
#include <grp.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <optional>
#include <stdexcept>

namespace tessivo {

namespace {

sockaddr_un socketAddress(const std::string& path) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.empty() || path.size() >= sizeof(address.sun_path))
    throw std::runtime_error("socket path empty or longer than " + std::to_string(sizeof(address.sun_path) - 1));
  std::memcpy(address.sun_path, path.data(), path.size());
  return address;
}

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

}  // namespace

void RefusalLog::refuse(std::uint64_t now, const char* line) {
  summarise(now);
  if (opened_ && now - windowStartMs_ < kWindowMs) {
    ++leftOut_;
    return;
  }
  std::fprintf(stderr, "tessivo-agent: %s\n", line);
  opened_ = true;
  windowStartMs_ = now;
}

void RefusalLog::summarise(std::uint64_t now) {
  if (leftOut_ == 0 || now - windowStartMs_ < kWindowMs) return;
  std::fprintf(stderr, "tessivo-agent: refused %zu more clients in the last %llu s\n", leftOut_,
               static_cast<unsigned long long>((now - windowStartMs_) / 1000));
  leftOut_ = 0;
  windowStartMs_ = now;
}

BoundSocket bindAgentSocket(const std::string& path, const std::string& groupName) {
BoundSocket bound;
  const sockaddr_un address = socketAddress(path);
  struct stat existing {};
  if (::lstat(path.c_str(), &existing) == 0) {
    if (!S_ISSOCK(existing.st_mode)) throw std::runtime_error(path + " exists and is not a socket");
    ProcDescriptor probe(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (::connect(probe.get(), reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0)
      throw std::runtime_error("another agent answers at " + path);
    ::unlink(path.c_str());  // left by an agent that did not stop cleanly
  }
  bound.listener = ProcDescriptor(::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
  if (!bound.listener) throw std::runtime_error(std::string("socket: ") + std::strerror(errno));
  // 0660 from the start: there is no moment at which others could connect.
  const mode_t oldMask = ::umask(0117);
  const int bindResult = ::bind(bound.listener.get(), reinterpret_cast<const sockaddr*>(&address), sizeof(address));
  const int bindError = errno;
  ::umask(oldMask);
  if (bindResult != 0) throw std::runtime_error("bind " + path + ": " + std::strerror(bindError));
  // Before listening, so no client is ever checked against the wrong group.
  if (const std::optional<gid_t> wanted = chosenGroup(groupName);
      wanted && ::lchown(path.c_str(), static_cast<uid_t>(-1), *wanted) != 0)
    throw std::runtime_error("cannot give " + path + " to group " +
                             (groupName.empty() ? kMembersGroup : groupName) + ": " +
                             std::strerror(errno));
  // A deep backlog: refused connections are taken and closed at once, and a burst must not
  // leave a well-behaved client's connect waiting for room.
  if (::listen(bound.listener.get(), SOMAXCONN) != 0)
    throw std::runtime_error(std::string("listen: ") + std::strerror(errno));
  struct stat created {};
  if (::stat(path.c_str(), &created) != 0)
    throw std::runtime_error("stat " + path + ": " + std::strerror(errno));
  bound.device = created.st_dev;
  bound.inode = created.st_ino;
  bound.group = created.st_gid;
  return bound;
}

void removeAgentSocket(const std::string& path, const BoundSocket& bound) {
  struct stat now {};
  if (::stat(path.c_str(), &now) == 0 && now.st_dev == bound.device && now.st_ino == bound.inode)
    ::unlink(path.c_str());
}

// Root, the agent's own user and members of the socket's group; the peer's groups are
// the kernel's record from connect time (SO_PEERGROUPS), not anything the peer says.
bool peerAllowed(int fd, gid_t group, ucred& peer, RefusalLog& refusals, std::uint64_t now) {
  std::array<char, 160> line{};
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

}  // namespace tessivo
