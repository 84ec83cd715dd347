// The chart's history kept by the agent: the same as the program's own refreshes would keep,
// sent in frames that add up to the whole, and taken in by the program as its own past.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <memory>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "agent/agent_history.h"
#include "agent/agent_server.h"
#include "agent/history_timeline.h"
#include "agent/switching_system.h"
#include "core/text.h"
#include "support/recording_canvas.h"
#include "support/refresh_rig.h"

namespace tessivo {
namespace {

using agent::HistorySeries;
using testing::RefreshRig;
using testing::Texts;

// "read/write:name=read/write,..." of an item, and of every item of a queue.
std::string line(const ChartSample& s, const std::function<std::u16string_view(const Contributor&)>& nameOf) {
  std::string out = std::to_string(s.readRate) + "/" + std::to_string(s.writeRate) + ":";
  for (const Contributor& c : s.contributors)
    out += toUtf8(nameOf(c)) + "=" + std::to_string(c.readRate) + "/" + std::to_string(c.writeRate) + ",";
  return out;
}

Texts items(const SpeedChart& chart, const SampleQueue& queue) {
  Texts out;
  for (const ChartSample& s : queue) out.push_back(line(s, [&](const Contributor& c) { return chart.contributorName(c); }));
  return out;
}

// The same of what the agent holds of a series.
Texts items(const AgentHistory& history, ProcByteSource source, HistorySeries series) {
  Texts out;
  ChartSample s;
  for (std::size_t i = 0; i < history.size(source, series); ++i) {
    history.item(source, series, i, s);
    out.push_back(line(s, [&](const Contributor& c) { return history.name(source, series, c); }));
  }
  return out;
}

// Fifteen processes, two of them of one name, each source at its own speeds.
void addProcesses(RefreshRig& rig, bool diskOnly) {
  for (std::uint32_t pid = 1; pid <= 15; ++pid) {
    std::u16string name = u"p";
    name += static_cast<char16_t>(u'a' + pid);
    rig.add(pid * 10, pid == 3 || pid == 7 ? u"worker" : name, 1000 * pid, diskOnly ? 700 * pid : 300 * (16 - pid));
  }
}

TEST(AgentHistory, IsWhatTheProgramsOwnRefreshesKeepForEitherByteSource) {
  RefreshRig all(333), disk(333);
  addProcesses(all, false);
  addProcesses(disk, true);
  AgentHistory history(333, 72);
  for (int tick = 0; tick < 400; ++tick) {
    all.tick(), disk.tick();
    std::vector<ProcessSample> samples = all.state.scratch.samples;
    std::vector<ProcCounters> counters(samples.size());
    for (std::size_t i = 0; i < samples.size(); ++i)
      counters[i] = {samples[i].counters, disk.state.scratch.samples[i].counters};
    history.record(samples, counters, all.sys.clockMs);
    ASSERT_EQ(samples[0].counters, counters[0].allIo);  // handed back as they were
  }
  for (const auto& [source, rig] : {std::pair{ProcByteSource::AllIo, &all}, {ProcByteSource::DiskOnly, &disk}}) {
    const SpeedChart& own = rig->state.chart;
    EXPECT_EQ(items(history, source, HistorySeries::Minutes), items(own, own.minuteSamples));
    EXPECT_EQ(items(history, source, HistorySeries::Live), items(own, own.liveSamples));
    ASSERT_EQ(own.minuteSamples.size(), 2u);
    // A minute's clock is that of the refresh that closed it.
    ChartSample second;
    EXPECT_EQ(history.item(source, HistorySeries::Minutes, 1, second), 10'000 + 359 * 333ull);
    EXPECT_EQ(history.newestSequence(source, HistorySeries::Live), 400u);
  }
  EXPECT_NE(items(all.state.chart, all.state.chart.minuteSamples), items(disk.state.chart, disk.state.chart.minuteSamples));
}

// Frames asked for one after another, as the program's client asks.
std::vector<agent::HistoryChunk> fetchAll(AgentHistory& history, HistorySeries series, std::uint64_t after = 0) {
  std::vector<agent::HistoryChunk> chunks;
  for (;;) {
    std::string frame;
    history.encode(ProcByteSource::AllIo, series, after, frame);
    EXPECT_LE(frame.size() - agent::kFrameHeader, agent::kMaxHistoryPayload);
    agent::HistoryChunk& chunk = chunks.emplace_back();
    EXPECT_TRUE(agent::decodeHistory(std::string_view(frame).substr(agent::kFrameHeader), chunk));
    if (chunk.items.empty()) return chunks;
    after = chunk.firstSequence + chunk.items.size() - 1;
  }
}

TEST(AgentHistory, GoesOverInFramesThatAddUpToTheWholeInOrder) {
  RefreshRig rig(10'000);
  addProcesses(rig, false);
  AgentHistory history(10'000, 24);  // six refreshes a minute, 1440 minutes kept: three frames
  for (int tick = 0; tick < 6 * 1500; ++tick) {
    rig.tick();
    std::vector<ProcCounters> counters(rig.state.scratch.samples.size());
    for (std::size_t i = 0; i < counters.size(); ++i) counters[i].allIo = rig.state.scratch.samples[i].counters;
    history.record(rig.state.scratch.samples, counters, rig.sys.clockMs);
  }
  for (const auto& [series, after, first] :
       {std::tuple{HistorySeries::Minutes, 0ull, 61ull},  // the oldest that is left
        {HistorySeries::Minutes, 1270ull, 1271ull},
        {HistorySeries::Live, 0ull, 9000ull - 15}}) {
    const std::vector<agent::HistoryChunk> chunks = fetchAll(history, series, after);
    const std::size_t held = history.size(ProcByteSource::AllIo, series);
    const std::uint64_t oldest = history.newestSequence(ProcByteSource::AllIo, series) - held + 1;
    std::size_t at = static_cast<std::size_t>(first - oldest);
    EXPECT_EQ(chunks.front().firstSequence, first);
    EXPECT_EQ(chunks.size(), first == 61 ? 4u : 2u);  // full frames, then an empty one says it is all
    for (const agent::HistoryChunk& chunk : chunks) {
      EXPECT_EQ(chunk.spanMs, series == HistorySeries::Live ? 10'000u : 60'000u);
      for (std::size_t i = 0; i < chunk.items.size(); ++i, ++at) {
        ChartSample kept;
        EXPECT_EQ(chunk.items[i].endMs, history.item(ProcByteSource::AllIo, series, at, kept));
        EXPECT_EQ(line(chunk.items[i].sample, [&](const Contributor& c) { return std::u16string_view(chunk.names[c.nameId]); }),
                  line(kept, [&](const Contributor& c) { return history.name(ProcByteSource::AllIo, series, c); }));
      }
    }
    EXPECT_EQ(at, held);  // every item, none twice
  }
}

// ---- the program taking the agent's history in ----

constexpr std::uint64_t kMinute = 60'000;

struct Merge {
  SpeedChart chart;  // at 10 s: six refreshes a minute
  HistoryTimeline timeline;
  HistoryCopy copy;
  std::uint64_t clock = 0;
  Merge() {
    chart.setSampleInterval(10'000);
    copy.intervalMs = 10'000, copy.liveSpanMs = 10'000, copy.minuteSpanMs = kMinute;
    copy.names = {u"agent-a", u"agent-b", u"own"};
  }
  // The program's refreshes from `from` on, each of speed `rate` named "own".
  void own(std::uint64_t from, int refreshes, std::uint64_t rate, bool fromAgent = true) {
    for (clock = from; refreshes-- > 0; clock += 10'000) {
      chart.recordSample(rate, 0, {NameRate{u"own", rate, 0}});
      timeline.recorded(chart, clock, fromAgent);
    }
  }
  // The agent's minutes ending at each clock, of speed 100 + their minute number.
  void agentMinutes(std::uint64_t first, std::uint64_t last) {
    for (std::uint64_t end = first; end <= last; end += kMinute) {
      agent::HistoryItem& item = copy.minutes.emplace_back();
      item.endMs = end;
      item.sample.readRate = 100 + end / kMinute;
      item.sample.contributors.push_back({static_cast<std::uint32_t>(end / kMinute % 2), item.sample.readRate, 0});
    }
  }
  Texts rates(const SampleQueue& queue) const {
    Texts out;
    for (const ChartSample& s : queue) out.push_back(std::to_string(s.readRate));
    return out;
  }
};

TEST(HistoryMerge, FillsWhatTheProgramDidNotRecordWithTheAgentsCountsAndNothingElse) {
  struct Case {
    const char* what;
    std::function<void(Merge&)> run;
    Texts minutes;
    std::size_t beforeStart;
    bool changed = true;
  };
  const std::vector<Case> cases = {
      {"before the program started: the agent's minutes come first, the present is the program's",
       [](Merge& m) { m.agentMinutes(kMinute, 14 * kMinute), m.own(10 * kMinute + 10'000, 13, 1); },
       {"101", "102", "103", "104", "105", "106", "107", "108", "109", "110", "1", "1"}, 10},
      {"while the program was stopped: the minutes it missed, in their place",
       [](Merge& m) {
         m.own(10'000, 12, 1), m.own(7 * kMinute + 10'000, 12, 2);  // stopped from minute 2 to 7
         m.agentMinutes(kMinute, 10 * kMinute);
       },
       {"1", "1", "103", "104", "105", "106", "107", "2", "2"}, 0},
      {"recorded without the agent: replaced where the agent has it, kept where not",
       [](Merge& m) {
         m.own(10'000, 6, 1), m.own(m.clock, 12, 2, false), m.own(m.clock, 6, 3);
         m.agentMinutes(2 * kMinute, 2 * kMinute);
       },
       {"1", "102", "2", "3"}, 0},
      {"an agent with nothing from outside the program's own minutes changes nothing",
       [](Merge& m) { m.own(10'000, 24, 1), m.agentMinutes(kMinute, 4 * kMinute); }, {"1", "1", "1", "1"}, 0, false},
      {"a new interval cleared the history: nothing from before it comes back",
       [](Merge& m) {
         m.own(10'000, 6, 1), m.chart.setSampleInterval(5000), m.chart.setSampleInterval(10'000);
         m.own(10 * kMinute, 12, 2), m.agentMinutes(kMinute, 10 * kMinute);  // minute 10 straddles the clear
       },
       {"2", "2"}, 0, false},
      {"half recorded by the program with the agent's counts: the program's stays",
       [](Merge& m) { m.own(40'000, 6, 1), m.agentMinutes(kMinute, kMinute); }, {"1"}, 0, false},
      {"the minute being filled is the program's from its start",
       [](Merge& m) { m.own(10'000, 10, 1), m.agentMinutes(2 * kMinute, 2 * kMinute); }, {"1"}, 0, false},
      {"one refresh of a minute without the agent's counts: the agent's to fill",
       [](Merge& m) { m.own(10'000, 3, 1, false), m.own(m.clock, 3, 1), m.agentMinutes(kMinute, kMinute); }, {"101"}, 0},
      {"without the agent and half covered by the agent's minute: gives way",
       [](Merge& m) { m.own(40'000, 6, 1, false), m.own(5 * kMinute + 10'000, 6, 3), m.agentMinutes(2 * kMinute, 2 * kMinute); },
       {"102", "3"}, 0},
      {"a shorter retention trimmed the chart since the last refresh",
       [](Merge& m) { m.own(10'000, 6 * 61, 1), m.chart.setRetentionHours(1), m.agentMinutes(kMinute, kMinute); },
       Texts(60, "1"), 0, false},
  };
  for (const Case& c : cases) {
    Merge m;
    c.run(m);
    const bool changed = m.timeline.merge(m.chart, m.copy);
    EXPECT_EQ(m.rates(m.chart.minuteSamples), c.minutes) << c.what;
    EXPECT_EQ(changed, c.changed) << c.what;
    EXPECT_EQ(m.timeline.minutesBeforeStart(), c.beforeStart) << c.what;
    EXPECT_EQ(m.timeline.minuteStamps().size(), m.chart.minuteSamples.size()) << c.what;
    // Each of the agent's minutes names its contributor; nothing of the program's is lost or left behind.
    for (const ChartSample& s : m.chart.minuteSamples)
      EXPECT_EQ(toUtf8(m.chart.contributorName(s.contributors[0])),
                s.readRate < 100 ? "own" : (s.readRate % 2 ? "agent-b" : "agent-a"))
          << c.what;
    m.chart.setSampleInterval(1000);  // clears everything: every name's references go with it
    EXPECT_EQ(m.chart.names.liveNames(), 0u) << c.what;
  }
}

TEST(HistoryMerge, KeepsTheNewestWithinTheCapacitiesAndTheLiveSamplesOnlyAtTheSameInterval) {
  Merge m;
  auto [chart, timeline, copy] = std::tie(m.chart, m.timeline, m.copy);
  chart.setRetentionHours(1);
  m.own(10'000, 12, 1);  // two minutes of its own, the oldest, dropped past the capacity
  m.agentMinutes(kMinute, 100 * kMinute);
  for (std::uint64_t end = 95 * kMinute; end < 100 * kMinute; end += 10'000)
    copy.live.push_back({end, ChartSample{7, 0, {}}});
  m.own(100 * kMinute + 10'000, 7, 1);
  copy.intervalMs = 5000;  // another interval: its live samples would stand for other times
  EXPECT_TRUE(timeline.merge(chart, copy));
  EXPECT_EQ(chart.minuteSamples.size(), 60u);
  EXPECT_EQ(m.rates(chart.minuteSamples).front(), "142");  // the oldest 41 went
  EXPECT_EQ(chart.liveSamples.size(), 16u);
  copy.intervalMs = 10'000;
  EXPECT_TRUE(timeline.merge(chart, copy));
  EXPECT_EQ(chart.liveSamples.size(), 16u);  // the live capacity at 10 s
  EXPECT_EQ(m.rates(chart.liveSamples), (Texts{"7", "7", "7", "7", "7", "7", "7", "7", "7", "1", "1", "1", "1", "1", "1", "1"}));
  EXPECT_FALSE(timeline.merge(chart, copy));  // the same history again: nothing new
  m.own(m.clock, 6, 1);  // one more minute: the oldest of the agent's goes, its name stays with the others
  for (const ChartSample& s : chart.minuteSamples)
    EXPECT_EQ(toUtf8(chart.contributorName(s.contributors[0])), s.readRate < 100 ? "own" : s.readRate % 2 ? "agent-b" : "agent-a");
  chart.setSampleInterval(1000);
  EXPECT_EQ(chart.names.liveNames(), 0u);
}

// ---- end to end: an agent's history over its socket into the program's chart ----

volatile std::sig_atomic_t stopServer = 0;

// The agent's server in this process, over the machine's /proc, on a socket of its own.
struct ServedAgent {
  std::filesystem::path dir = std::filesystem::temp_directory_path() / ("tessivo-history-" + std::to_string(::getpid()));
  ProcSystem proc;
  AgentOptions options;
  std::unique_ptr<AgentServer> server;
  std::thread serving;
  explicit ServedAgent(std::uint32_t burst = 256, std::uint32_t perSecond = 32, std::uint32_t intervalMs = 50) {
    std::filesystem::create_directories(dir);
    options.intervalMs = intervalMs;
    options.socketPath = (dir / "agent.sock").string();
    options.historyBurst = burst, options.historyFramesPerSecond = perSecond;
    server = std::make_unique<AgentServer>(proc, options, nullptr);
  }
  void start() {
    stopServer = 0;
    sigset_t blocked;
    sigemptyset(&blocked);
    sigaddset(&blocked, SIGTERM), sigaddset(&blocked, SIGINT);
    ::pthread_sigmask(SIG_BLOCK, &blocked, nullptr);
    serving = std::thread([this] { server->run(stopServer); });
  }
  ~ServedAgent() {
    stopServer = 1;
    if (serving.joinable()) serving.join();
    server.reset();
    std::filesystem::remove_all(dir);
  }
};

TEST(AgentHistoryLive, TheProgramConnectingHasTheAgentsMinutesAndItsHoverNamesTheWriter) {
  ServedAgent agent;
  // Four minutes at 50 ms under a test clock, ending before the program starts on the
  // machine's own clock: a writer of 6 MiB a second in minutes 2 and 3, among twelve other
  // processes, on the disk-only counters (all I/O stays zero). The 1600 live samples go in
  // four frames whose name tables differ.
  RefreshRig agentSide(50);
  const std::uint64_t now = agent.proc.nowMs();
  if (now < 5 * 60'000) GTEST_SKIP() << "the machine started under five minutes ago";
  agentSide.sys.clockMs = now - 4 * 60'000 - 15'000;
  for (std::uint32_t pid = 1; pid <= 12; ++pid) agentSide.add(pid, u"idle" + std::u16string(1, u'a' + pid), pid);
  testing::ScriptedProcess& writer = agentSide.add(99, u"known-writer", 0, 0);
  for (int tick = 0; tick < 4 * 1200; ++tick) {
    writer.perTick.writeBytes = tick >= 1200 && tick < 3600 ? 6 * 1024 * 1024 / 20 : 0;
    agentSide.tick();
    std::vector<ProcCounters> counters(agentSide.state.scratch.samples.size());
    for (std::size_t i = 0; i < counters.size(); ++i) counters[i].diskOnly = agentSide.state.scratch.samples[i].counters;
    agent.server->history().record(agentSide.state.scratch.samples, counters, agentSide.sys.clockMs);
  }
  const Texts minutes = items(agent.server->history(), ProcByteSource::DiskOnly, HistorySeries::Minutes);
  const Texts live = items(agent.server->history(), ProcByteSource::DiskOnly, HistorySeries::Live);
  agent.start();

  // The program as its window runs it, counting from the disk: history taken in between refreshes.
  SwitchingSystem system(agent.options.socketPath);
  system.setByteSource(ProcByteSource::DiskOnly);
  AppState state(system);
  state.chart.setSampleInterval(50);
  HistoryTimeline timeline;
  state.afterRecord = [&](std::uint64_t nowMs) { timeline.recorded(state.chart, nowMs, system.fromAgent()); };
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  HistoryCopy copy;
  bool merged = false;
  while (!merged && std::chrono::steady_clock::now() < deadline) {
    RefreshTick::run(state);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    merged = system.takeHistory(copy) && timeline.merge(state.chart, copy);
  }
  ASSERT_TRUE(merged) << "no history within 5 s";

  EXPECT_EQ(items(state.chart, state.chart.minuteSamples), minutes);
  EXPECT_EQ(timeline.minutesBeforeStart(), 4u);
  // The oldest live samples are the agent's, in order (the newest are the program's own).
  const Texts mine = items(state.chart, state.chart.liveSamples);
  ASSERT_EQ(mine.size(), 1600u);
  EXPECT_NE(std::search(live.begin(), live.end(), mine.begin(), mine.begin() + 1400), live.end());
  const ChartSample& third = state.chart.minuteSamples[2];
  EXPECT_NEAR(static_cast<double>(third.writeRate), 6.0 * 1024 * 1024, 0.02 * 6 * 1024 * 1024);
  // The hover panel over minute 3 names the writer first.
  testing::RecordingCanvas canvas;
  state.chart.setRange(ChartRange::Hour1);
  state.chart.drawSharePanel(canvas, 2, 0, 0, 800, 400);
  const Texts texts = canvas.textStrings();
  const auto named = std::find(texts.begin(), texts.end(), "known-writer");
  ASSERT_NE(named, texts.end());
  EXPECT_EQ(std::count_if(texts.begin(), named, [](const std::string& t) { return t.rfind("idle", 0) == 0; }), 0);
}

TEST(AgentHistoryLive, AClientAskingOverAndOverGetsItsFramesAtTheRateAndTheOthersAreServed) {
  ServedAgent agent(4, 20, 333);
  agent.start();
  AgentSystem greedy(agent.options.socketPath), other(agent.options.socketPath);
  ASSERT_TRUE(greedy.connect() && other.connect());
  const auto begun = std::chrono::steady_clock::now();
  std::thread asking([&] {
    agent::HistoryChunk chunk;
    for (int i = 0; i < 24; ++i)
      EXPECT_EQ(greedy.fetchHistory(ProcByteSource::AllIo, HistorySeries::Live, 0, chunk),
                AgentSystem::HistoryAnswer::Chunk);
  });
  agent::Snapshot snapshot;
  std::uint64_t sequence = 0;
  for (int i = 0; i < 5; ++i, std::this_thread::sleep_for(std::chrono::milliseconds(100))) {
    ASSERT_TRUE(other.fetch(snapshot)) << i;
    EXPECT_GE(snapshot.sequence, sequence);
    sequence = snapshot.sequence;
  }
  asking.join();
  // Four at once, then twenty a second: the other twenty take a second at least.
  EXPECT_GE(std::chrono::steady_clock::now() - begun, std::chrono::milliseconds(950));
  EXPECT_TRUE(greedy.connected());
}

TEST(AgentHistoryLive, ANewClientHasItsBurstAtOnceAndAnIdleOneSavesNoMore) {
  ServedAgent agent(4, 1, 333);  // one frame a second after the first four
  agent.start();
  AgentSystem client(agent.options.socketPath, 300);
  ASSERT_TRUE(client.connect());
  std::this_thread::sleep_for(std::chrono::milliseconds(1200));
  agent::HistoryChunk chunk;
  for (int i = 0; i < 5; ++i)  // the fifth's turn is a second away, past the client's 300 ms
    EXPECT_EQ(client.fetchHistory(ProcByteSource::AllIo, HistorySeries::Live, 0, chunk),
              i < 4 ? AgentSystem::HistoryAnswer::Chunk : AgentSystem::HistoryAnswer::Failed) << i;
}

}  // namespace
}  // namespace tessivo
