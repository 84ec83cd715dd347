// The real tessivo-agent against hostile clients, and the desktop program's source as an
// unprivileged user against the agent running as root. Waits are bounded retries.
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <pwd.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <thread>

#include "agent/agent_protocol.h"
#include "core/text.h"
#include "agent/switching_system.h"
#include "support/live_process.h"

namespace tessivo {
namespace {

void pause(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

int rawConnect(const std::string& path) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, path.c_str(), sizeof(address.sun_path) - 1);
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0) {
    const int error = errno;
    ::close(fd);
    return -error;
  }
  return fd;
}

std::string freshDirectory() {
  char dir[] = "/tmp/tessivo-agent-XXXXXX";
  ::chmod(::mkdtemp(dir), 0755);
  return dir;
}

// A running agent over a socket in a fresh directory; the group it serves is its egid
// unless `options` name one; as `user` (not 0) it runs without capabilities.
struct Agent {
  std::string dir = freshDirectory(), socket = dir + "/agent.sock";
  pid_t pid = 0;
  std::vector<std::string> options;
  explicit Agent(gid_t group = getegid(), std::vector<std::string> more = {}, uid_t user = 0) : options(std::move(more)) {
    if (user != 0 && ::chown(dir.c_str(), user, static_cast<gid_t>(-1)) != 0) ADD_FAILURE() << "chown " << dir;
    start(group, user);
  }
  ~Agent() { stop(), std::filesystem::remove_all(dir); }
  void start(gid_t group, uid_t user = 0) {
    if ((pid = ::fork()) == 0) {
      ::dup2(::open((dir + "/log").c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644), 2);
      if (group != getegid() && ::setresgid(group, group, group) != 0) ::_exit(3);
      if (user != 0 && ::setresuid(user, user, user) != 0) ::_exit(3);
      std::vector<std::string> args{"tessivo-agent", "--socket", socket, "--interval", "50"};
      args.insert(args.end(), options.begin(), options.end());
      std::vector<char*> argv;
      for (std::string& arg : args) argv.push_back(arg.data());
      argv.push_back(nullptr);
      ::execv(TESSIVO_AGENT_BINARY, argv.data());
      ::_exit(4);
    }
    // Until it answers: its socket's file is there a moment before it listens.
    int fd = -1;
    for (int i = 0; i < 200 && (fd = rawConnect(socket)) < 0; ++i) pause(20);
    if (fd >= 0) ::close(fd);
  }
  int stop() {  // the exit status: 0 after a clean stop on SIGTERM
    int status = 0;
    if (pid <= 0 || ::kill(pid, SIGTERM) != 0 || ::waitpid(std::exchange(pid, 0), &status, 0) <= 0) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }
  bool alive() const { return pid > 0 && ::waitpid(pid, nullptr, WNOHANG) == 0; }
  std::string log() const {
    std::ifstream in(dir + "/log");
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
};

// Bytes the agent sent before closing (or within ~3 s), and whether it closed.
std::pair<std::string, bool> drain(int fd, int timeoutMs = 3000) {
  timeval timeout{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof(timeout));
  std::string got;
  char buffer[4096];
  ssize_t n = 0;
  while ((n = ::recv(fd, buffer, sizeof(buffer), 0)) > 0) got.append(buffer, static_cast<std::size_t>(n));
  return {got, n == 0 || (n < 0 && errno == ECONNRESET)};
}

// A good client keeps getting fresh snapshots, its own process among them.
void expectServed(const std::string& socket, int rounds) {
  AgentSystem client(socket);
  for (int i = 0; i < 50 && !client.connect(); ++i) pause(20);  // places freed a moment later
  ASSERT_TRUE(client.connected());
  std::vector<ProcessSample> out;
  std::uint64_t sequence = 0;
  for (int i = 0; i < rounds; ++i) {
    client.readSnapshot(out);
    ASSERT_TRUE(client.connected()) << i;
    EXPECT_TRUE(std::any_of(out.begin(), out.end(), [](const ProcessSample& s) { return s.pid == static_cast<std::uint32_t>(::getpid()); }));
    EXPECT_GE(client.lastSequence(), sequence);
    sequence = client.lastSequence();
    pause(10);
  }
  EXPECT_FALSE(client.imagePath(static_cast<std::uint32_t>(::getpid())).empty());
}

// An agent that greets in another version is not used; one that greets and then never
// answers is dropped after the source's timeout (the alarm only ends a hang).
TEST(AgentLive, DesktopSourceDropsAnAgentOfAnotherVersionAndOneThatNeverAnswers) {
  const std::string dir = freshDirectory(), path = dir + "/fake.sock";
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, path.c_str(), sizeof(address.sun_path) - 1);
  const int listener = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  ASSERT_EQ(::bind(listener, reinterpret_cast<const sockaddr*>(&address), sizeof(address)), 0);
  ASSERT_EQ(::listen(listener, 4), 0);
  std::thread fake([listener] {
    for (const std::uint16_t version : {std::uint16_t(agent::kVersion + 1), agent::kVersion}) {
      const int fd = ::accept(listener, nullptr, nullptr);
      std::string hello;
      agent::encodeHello({version, 333, 1}, hello);
      (void)::send(fd, hello.data(), hello.size(), MSG_NOSIGNAL);
      // As an agent older than the status request and the history: BadRequest to both, then
      // reads and never answers.
      char request[5 + 15];
      std::string refusal;
      agent::encodeError(agent::ErrorCode::BadRequest, refusal);
      for (const std::size_t size : {5, 15})
        if (version == agent::kVersion && ::recv(fd, request, size, MSG_WAITALL) == static_cast<ssize_t>(size))
          (void)::send(fd, refusal.data(), refusal.size(), MSG_NOSIGNAL);
      char byte;
      while (version == agent::kVersion && ::recv(fd, &byte, 1, 0) > 0) {}
      ::close(fd);
    }
  });
  AgentSystem source(path, 300);
  EXPECT_FALSE(source.connect());
  ASSERT_TRUE(source.connect());
  EXPECT_EQ(source.state(), AgentState::Serving);
  agent::HistoryChunk chunk;  // no history from it, and the connection stays
  EXPECT_EQ(source.fetchHistory(ProcByteSource::AllIo, agent::HistorySeries::Minutes, 0, chunk),
            AgentSystem::HistoryAnswer::Unsupported);
  EXPECT_TRUE(source.connected());
  ::alarm(30);
  std::vector<ProcessSample> out{ProcessSample{}};
  source.readSnapshot(out);
  ::alarm(0);
  EXPECT_TRUE(out.empty());
  EXPECT_FALSE(source.connected());
  EXPECT_EQ(source.state(), AgentState::NotAnswering);
  fake.join();
  ::close(listener);
  std::filesystem::remove_all(dir);
}

TEST(AgentLive, HostileClientsNeverStopTheOthersNorTheAgent) {
  Agent agent(getegid(), {"--max-clients", "16", "--max-clients-per-user", "64", "--retention", "2"});
  ASSERT_TRUE(agent.alive());
  std::mt19937 random(18);
  std::string noise(4096, '\0');
  for (char& c : noise) c = static_cast<char>(random());
  const int noisy = rawConnect(agent.socket), oversized = rawConnect(agent.socket), partial = rawConnect(agent.socket),
            silent = rawConnect(agent.socket), flooder = rawConnect(agent.socket);
  ASSERT_GE(std::min({noisy, oversized, partial, silent, flooder}), 0);
  ::send(noisy, noise.data(), noise.size(), MSG_NOSIGNAL);
  ::send(oversized, "\x00\x00\x00\x10\x10", 5, MSG_NOSIGNAL);
  ::send(partial, "\x01\x00", 2, MSG_NOSIGNAL);
  // Asks for snapshot after snapshot and reads none of them.
  std::string requests;
  for (int i = 0; i < 2000; ++i) agent::encodeRequest({agent::MessageType::Snapshot, 0}, requests);
  ::fcntl(flooder, F_SETFL, O_NONBLOCK);
  ::send(flooder, requests.data(), requests.size(), MSG_NOSIGNAL);
  const auto flooded = std::chrono::steady_clock::now();
  for (const int fd : {noisy, oversized}) EXPECT_TRUE(drain(fd).second);
  // 3 held, 13 more fill the 16 places; the 14th is turned away without a greeting.
  std::vector<int> extra;
  for (int i = 0; i < 14; ++i) extra.push_back(rawConnect(agent.socket));
  EXPECT_EQ(drain(extra.back(), 1000), std::pair(std::string(), true));
  for (int i = 0; i < 4; ++i) ::close(extra[static_cast<std::size_t>(i)]);  // places for the good one
  expectServed(agent.socket, 20);
  EXPECT_TRUE(drain(partial).second);  // dropped after the frame timeout
  // One byte at a time, each just under the frame timeout (2 s) after the last: dropped one
  // frame timeout after the first byte, not after the last.
  const int trickler = rawConnect(agent.socket);
  const auto firstByte = std::chrono::steady_clock::now();
  ::send(trickler, "\x01", 1, MSG_NOSIGNAL);
  pause(1900);
  ::send(trickler, "\x00", 1, MSG_NOSIGNAL);
  const auto [greeting, dropped] = drain(trickler, 1500);  // the greeting, and nothing after it
  EXPECT_TRUE(!greeting.empty() && dropped);
  EXPECT_LT(std::chrono::steady_clock::now() - firstByte, std::chrono::milliseconds(2900));
  ::close(trickler);
  // Not reading for longer than the stall timeout (5 s) ends the flooder's connection, with
  // what the socket buffers held (about 200 KB here), far from the 2,000 replies asked for.
  std::this_thread::sleep_until(flooded + std::chrono::milliseconds(6500));
  ::fcntl(flooder, F_SETFL, 0);
  const auto [buffered, ended] = drain(flooder, 2000);
  EXPECT_LT(buffered.size(), 4u << 20);
  EXPECT_TRUE(ended);
  EXPECT_TRUE(agent.alive());
  for (const int fd : {noisy, oversized, partial, silent, flooder}) ::close(fd);
  for (std::size_t i = 4; i < extra.size(); ++i) ::close(extra[i]);
  EXPECT_NE(agent.log().find("clients already"), std::string::npos);
  EXPECT_NE(agent.log().find(", 2 h of history"), std::string::npos);  // as it was told
  expectServed(agent.socket, 5);

  // A process that execs is answered with its new image path.
  testing::Pipe gate;
  testing::Child execer([&] { return gate.wait() == 'x' ? ::execl("/bin/sleep", "sleep", "30", nullptr) : 1; });
  AgentSystem client(agent.socket);
  ASSERT_TRUE(client.connect());
  std::vector<ProcessSample> out;
  const auto pathNow = [&] { return client.readSnapshot(out), toUtf8(client.imagePath(static_cast<std::uint32_t>(execer.pid))); };
  std::string path;
  for (int i = 0; i < 100 && (path = pathNow()).empty(); ++i) pause(20);
  EXPECT_EQ(path, std::filesystem::read_symlink("/proc/self/exe").string());
  ASSERT_TRUE(gate.post());
  const std::string exe = "/proc/" + std::to_string(execer.pid) + "/exe";
  for (int i = 0; i < 100 && std::filesystem::read_symlink(exe).filename() != "sleep"; ++i) pause(20);
  for (int i = 0; i < 100 && (path = pathNow()) != std::filesystem::read_symlink(exe).string(); ++i) pause(20);
  EXPECT_EQ(path, std::filesystem::read_symlink(exe).string());
  EXPECT_EQ(agent.stop(), 0);
  EXPECT_NE(::access(agent.socket.c_str(), F_OK), 0);  // removed on the way out
}

// Throwaway system users, removed again; the tests that need them run as root only.
struct ThrowawayUser {
  explicit ThrowawayUser(const std::string& name)
      : remove("userdel " + name + " 2>/dev/null; groupdel " + name + " 2>/dev/null") {
    std::system((remove + "; useradd --system --no-create-home --user-group " + name).c_str());
    if (const passwd* pw = ::getpwnam(name.c_str())) std::tie(uid, gid) = std::tuple(pw->pw_uid, pw->pw_gid);
  }
  ~ThrowawayUser() { std::system(remove.c_str()); }
  // A child as this user (in `groups` too, with no capability left) that exits with body's
  // value; run() waits for it and answers its exit status.
  template <typename F>
  pid_t spawn(F body, const std::vector<gid_t>& groups = {}) const {
    const pid_t child = ::fork();
    if (child != 0) return child;
    if (::setgroups(groups.size(), groups.data()) != 0 || ::setresgid(gid, gid, gid) != 0 ||
        ::setresuid(uid, uid, uid) != 0)
      ::_exit(99);
    ::_exit(body());
  }
  template <typename F>
  int run(F body, const std::vector<gid_t>& groups = {}) const {
    return exitStatus(spawn(body, groups));
  }
  static int exitStatus(pid_t child) {
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }
  std::string remove;
  uid_t uid = 0;
  gid_t gid = 0;
};

// In a child as `user`: connect and report 0 (greeted), 1 (closed unheard) or 100 + errno.
int connectAs(const ThrowawayUser& user, const std::string& socket) {
  return user.run([&] {
    const int fd = rawConnect(socket);
    return fd < 0 ? 100 - fd : drain(fd).first.empty() ? 1 : 0;
  });
}

// Run as a user without capabilities, the agent still serves, and says what it lacks.
TEST(AgentLive, WithoutItsCapabilitiesTheAgentSaysSoAndItsStatusIsPartial) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to run the agent with and without capabilities";
  ThrowawayUser runner("tessivo-t-run");
  ASSERT_NE(runner.uid, 0u);
  // Started with group root and no group named, it gives its socket to group tessivo.
  struct MadeGroup {
    bool made = ::getgrnam("tessivo") == nullptr && std::system("groupadd --system tessivo") == 0;
    ~MadeGroup() { made && std::system("groupdel tessivo"); }
  } const madeGroup;
  const group* members = ::getgrnam("tessivo");
  ASSERT_NE(members, nullptr);
  const gid_t membersGid = members->gr_gid;
  for (const bool asUser : {false, true}) {
    Agent agent(asUser ? runner.gid : getegid(), {}, asUser ? runner.uid : 0);
    struct stat st {};
    if (!asUser) {
      EXPECT_TRUE(::stat(agent.socket.c_str(), &st) == 0 && st.st_gid == membersGid) << agent.log();
    }
    AgentSystem client(agent.socket);  // its status, as the desktop's client asks for it on connecting
    EXPECT_TRUE(client.connect()) << asUser << agent.log();
    EXPECT_EQ(client.state(), asUser ? AgentState::Partial : AgentState::Serving);
    const std::string log = agent.log();
    EXPECT_EQ(log.find("missing CAP_SYS_PTRACE, CAP_DAC_READ_SEARCH: other users' counters will be zero") !=
                  std::string::npos, asUser) << log;
    EXPECT_EQ(log.find(", as root") != std::string::npos, !asUser) << log;
  }
}

// One user opening hundreds of connections holds at most its own few places; another
// member, in the agent's group through the fifth of nine supplementary groups, is served.
TEST(AgentLive, OneUsersBurstLeavesAMemberOfManyGroupsServed) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to create throwaway users";
  ThrowawayUser burster("tessivo-t-burst"), member("tessivo-t-in9");
  ASSERT_NE(burster.uid * member.uid, 0u);
  Agent agent(getegid(), {"--group", "tessivo-t-burst"});  // as root, the socket given to the group named
  struct stat st {};
  ASSERT_EQ(::stat(agent.socket.c_str(), &st), 0);
  EXPECT_EQ(st.st_gid, burster.gid);
  int stop[2], burst[2];
  ASSERT_EQ(::pipe2(stop, O_CLOEXEC) | ::pipe2(burst, O_CLOEXEC), 0);
  const pid_t flood = burster.spawn([&] {  // 400 connections held until told; exits with how many were greeted
    ::close(stop[1]);
    std::vector<int> held;
    for (int i = 0; i < 400; ++i) held.push_back(rawConnect(agent.socket));
    char c = 0;
    if (::write(burst[1], "b", 1) != 1 || ::read(stop[0], &c, 1) != 0) ::_exit(255);
    int greeted = 0;
    for (const int fd : held) {
      pollfd ready{fd, POLLIN, 0};
      greeted += fd >= 0 && ::poll(&ready, 1, 2000) == 1 && ::recv(fd, &c, 1, MSG_DONTWAIT) == 1;
    }
    return greeted;
  });
  ::close(stop[0]);
  ::close(burst[1]);
  char c = 0;
  ASSERT_EQ(::read(burst[0], &c, 1), 1);
  EXPECT_EQ(member.run([&] {
    pause(150);  // until the agent's samples list this new process
    expectServed(agent.socket, 5);
    return ::testing::Test::HasFailure() ? 1 : 0;
  }, {100, 101, 102, 103, burster.gid, 60001, 60002, 60003, 60004}), 0);
  ::close(stop[1]);
  EXPECT_EQ(ThrowawayUser::exitStatus(flood), 4);  // the per-user limit
  ::close(burst[0]);
  // 396 refusals within the log's window: one line.
  const std::string log = agent.log();
  std::size_t lines = 0;
  for (std::size_t at = 0; (at = log.find("refused", at)) != std::string::npos; ++at) ++lines;
  EXPECT_EQ(lines, 1u) << log;
}

TEST(AgentLive, OutsidersAreRefusedByTheModeAndByTheAgent) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to create a throwaway user";
  ThrowawayUser outsider("tessivo-t-out");
  ASSERT_NE(outsider.uid, 0u);
  Agent agent;
  struct stat st {};
  ASSERT_EQ(::stat(agent.socket.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0660u);
  // The desktop's client tells a refusal apart from an agent that is not there.
  const auto stateAs = [&](const ThrowawayUser& user, const std::string& socket) {
    return static_cast<AgentState>(user.run([&] {
      AgentSystem client(socket);
      client.connect();
      return static_cast<int>(client.state());
    }));
  };
  EXPECT_EQ(connectAs(outsider, agent.socket), 100 + EACCES);
  EXPECT_EQ(stateAs(outsider, agent.socket), AgentState::NotPermitted);
  EXPECT_EQ(stateAs(outsider, agent.dir + "/none.sock"), AgentState::NotRunning);
  // With the mode opened up by mistake, the agent's own check still turns the outsider away.
  ::chmod(agent.socket.c_str(), 0666);
  EXPECT_EQ(connectAs(outsider, agent.socket), 1);
  EXPECT_EQ(stateAs(outsider, agent.socket), AgentState::NotPermitted);
  EXPECT_NE(agent.log().find("refused pid"), std::string::npos);
  expectServed(agent.socket, 3);
  EXPECT_TRUE(agent.alive());
}

std::uint64_t wcharOf(pid_t pid) { return testing::kernelIo(pid).wchar; }

// The desktop's source in a child as an unprivileged member of the agent's group: on
// each byte from `ticks` it takes one snapshot and answers with where it came from and
// the counters it shows for `watched`.
struct ProbeReply {
  bool fromAgent = false;
  AgentState state = AgentState::Unknown;
  std::uint64_t written = 0;
  std::uint32_t generation = 0;
};

pid_t startProbe(const ThrowawayUser& user, gid_t group, const std::string& socket, pid_t watched, int ticks[2],
                 int replies[2]) {
  return user.spawn([&] {
    ::close(ticks[1]);
    ::close(replies[0]);
    SwitchingSystem source(socket, 2000);  // a loaded test machine may be slow to answer
    std::vector<ProcessSample> out;
    char c = 0;
    while (::read(ticks[0], &c, 1) == 1) {
      source.readSnapshot(out);
      ProbeReply reply{source.fromAgent(), source.agentState(), ~0ull};
      for (const ProcessSample& s : out)
        if (s.pid == static_cast<std::uint32_t>(watched))
          std::tie(reply.written, reply.generation) = std::tuple(s.counters.writeBytes, s.imageGeneration);
      if (::write(replies[1], &reply, sizeof(reply)) != sizeof(reply)) break;
    }
    return 0;
  }, {group});
}

TEST(AgentLive, DesktopSourceAsAnotherUserSeesRealCountsAcrossAnAgentRestart) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to run the agent over another user's processes";
  ThrowawayUser member("tessivo-t-in");
  ASSERT_NE(member.uid, 0u);
  Agent agent(member.gid);  // its socket's group is the member's
  // A writer of root's: 1 MiB to a file at each byte on its pipe (a rename at 'n'), acknowledged.
  int toWriter[2], fromWriter[2], ticks[2], replies[2];
  ASSERT_EQ(::pipe2(toWriter, O_CLOEXEC) | ::pipe2(fromWriter, O_CLOEXEC), 0);
  const std::string file = agent.dir + "/written";
  const testing::Child writing([&] {
    const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    char c = 0;
    while (::read(toWriter[0], &c, 1) == 1) {
      if (c == 'n') ::prctl(PR_SET_NAME, "renamed");
      if ((c == 'w' && !testing::writeBytes(fd, 1 << 20)) || ::write(fromWriter[1], "d", 1) != 1) return 1;
    }
    return 0;
  });
  const pid_t writer = writing.pid;
  ASSERT_EQ(::pipe2(ticks, O_CLOEXEC) | ::pipe2(replies, O_CLOEXEC), 0);
  const pid_t probe = startProbe(member, member.gid, agent.socket, writer, ticks, replies);
  for (const int fd : {toWriter[0], fromWriter[1], ticks[0], replies[1]}) ::close(fd);  // a dead child reads as EOF
  auto tick = [&] {
    ProbeReply reply;
    EXPECT_EQ(::write(ticks[1], "t", 1), 1);
    if (::read(replies[0], &reply, sizeof(reply)) != static_cast<ssize_t>(sizeof(reply))) ADD_FAILURE() << "probe gone";
    return reply;
  };
  auto write1MiB = [&](const char* what = "w") {
    char c = 0;
    EXPECT_EQ(::write(toWriter[1], what, 1), 1);
    EXPECT_EQ(::read(fromWriter[0], &c, 1), 1);
  };
  // Until the agent has sampled what the writer did.
  auto settle = [&](std::uint64_t expected) {
    ProbeReply reply;
    for (int i = 0; i < 100 && (reply = tick()).written != expected; ++i) pause(25);
    return reply;
  };
  constexpr std::uint64_t kMiB = 1 << 20;

  write1MiB();
  const std::uint64_t real = wcharOf(writer);
  ASSERT_GE(real, kMiB);
  ProbeReply reply = settle(real);
  EXPECT_TRUE(reply.fromAgent);
  EXPECT_EQ(std::tuple(reply.written, reply.state), std::tuple(real, AgentState::Serving));  // the kernel's own figure

  ASSERT_EQ(agent.stop(), 0);
  reply = tick();  // held, neither zero nor a burst
  EXPECT_EQ(std::tuple(reply.fromAgent, reply.state, reply.written), std::tuple(false, AgentState::NotRunning, real));
  write1MiB();
  EXPECT_EQ(tick().written, real);  // unreadable without the agent: still held
  write1MiB("n");  // a rename seen by /proc is an exec there
  const std::uint64_t whileAway = wcharOf(writer);
  for (int i = 0; i < 100 && (reply = tick()).generation == 0; ++i) pause(10);
  EXPECT_EQ(reply.generation, 1u);

  agent.start(member.gid);  // returns once the agent answers
  int waited = 0;  // ticks 25 ms apart until the desktop's source is back on it
  for (; waited < 150 && !(reply = tick()).fromAgent; ++waited) pause(25);
  EXPECT_TRUE(reply.fromAgent);
  EXPECT_LT(waited, 40) << "a restarted agent's numbering must be taken at once, not after a failed reconnection";
  // What it wrote while the agent was away arrives at once; the switch is no exec.
  EXPECT_EQ(std::tuple(reply.written, reply.generation), std::tuple(whileAway, 1u));
  EXPECT_GE(whileAway, real + kMiB);
  write1MiB();
  const std::uint64_t total = wcharOf(writer);
  EXPECT_EQ(settle(total).written, total);
  ::close(ticks[1]);
  EXPECT_EQ(ThrowawayUser::exitStatus(probe), 0);
}

}  // namespace
}  // namespace tessivo
