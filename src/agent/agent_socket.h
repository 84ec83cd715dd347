// The agent's listening socket: bound with mode 0660 and given to the members' group before
// it listens, so that no client is ever checked against the wrong group; and who may connect.
#pragma once

#include <sys/socket.h>
#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>

#include "procfs/proc_descriptor.h"

namespace tessivo {

struct BoundSocket {
  ProcDescriptor listener;  // non-blocking, listening
  dev_t device = 0;         // the socket file's, to remove only our own at exit
  ino_t inode = 0;
  gid_t group = 0;          // members may connect
};

// Binds path, replacing a socket left by an agent that did not stop cleanly and refusing
// to start beside one that answers. groupName empty: the agent's own group, or `tessivo`
// for an agent of group root when that group exists. Throws std::runtime_error saying
// what went wrong.
BoundSocket bindAgentSocket(const std::string& path, const std::string& groupName);
// Removes path if it is still the socket bound.
void removeAgentSocket(const std::string& path, const BoundSocket& bound);

// Refusals are logged at most once per window, then how many were left out, so that a
// burst of connections writes two lines rather than one per connection.
class RefusalLog {
 public:
  static constexpr std::uint64_t kWindowMs = 10000;

  void refuse(std::uint64_t now, const char* line);
  // Says how many were left out once their window is over.
  void summarise(std::uint64_t now);
  std::uint64_t deadline() const {
    return leftOut_ == 0 ? std::numeric_limits<std::uint64_t>::max() : windowStartMs_ + kWindowMs;
  }

 private:
  bool opened_ = false;
  std::uint64_t windowStartMs_ = 0;
  std::size_t leftOut_ = 0;
};

// Root, the agent's own user and members of group; the peer's groups are the kernel's
// record from connect time (SO_PEERGROUPS), not anything the peer says. A refusal is logged.
bool peerAllowed(int fd, gid_t group, ucred& peer, RefusalLog& refusals, std::uint64_t now);

}  // namespace tessivo
