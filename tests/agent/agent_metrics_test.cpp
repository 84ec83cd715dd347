#include "agent/agent_metrics.h"

#include <gtest/gtest.h>

#include <string>

#include "core/text.h"

namespace tessivo {
namespace {

struct Proc {
  std::uint32_t pid;
  std::uint64_t start;
  const char* path;
  std::uint64_t n;  // each exported counter is a different multiple of it
  std::uint32_t generation = 0;
  bool kernel = false;  // a path not starting with "/" is the process's name, its path unknown
};

class Feed {
 public:
  explicit Feed(std::size_t maxSeries = 2000, bool separateKernel = false)
      : metrics_(AgentMetricsOptions{"", maxSeries, separateKernel}) {}

  void snapshot(std::initializer_list<Proc> procs) {
    std::vector<ProcessSample> samples;
    std::vector<ProcCounters> counters;
    std::vector<std::u16string> paths;
    for (const Proc& p : procs) {
      ProcessSample s;
      s.pid = p.pid;
      const bool named = p.path[0] != '/';
      s.name = named ? fromUtf8(p.path) : u"proc";
      s.createTime = p.start;
      s.imageGeneration = p.generation;
      samples.push_back(s);
      ProcCounters c;
      c.allIo = IoCounters{5 * p.n, 6 * p.n, 0, p.n, 2 * p.n, 0};
      c.diskOnly = IoCounters{5 * p.n, 6 * p.n, 0, 3 * p.n, 4 * p.n, 0};
      c.kernelThread = p.kernel;
      counters.push_back(c);
      paths.push_back(named ? u"" : fromUtf8(p.path));
    }
    metrics_.update(samples, counters, paths, 1000);
  }

  // The application's six counters and its process gauge, in units of Proc::n (the written
  // bytes of source "all" say how many n); -1 for a series not exported.
  std::vector<double> app(const std::string& path) const {
    const bool special = path == "(other)" || path == "(kernel)", named = path[0] != '/' && !special;
    const std::string name = special || named ? path : path.substr(path.find_last_of('/') + 1);
    const std::string labels = "{name=\"" + name + "\",path=\"" + (named ? "" : path) + "\"";
    const std::string text = metrics_.scrapeText();
    std::vector<double> out;
    for (const char* series :
         {"read_bytes_total", "written_bytes_total", "read_bytes_total", "written_bytes_total", "read_operations_total",
          "write_operations_total", "processes"}) {
      const std::size_t i = out.size();
      const std::string key = "tessivo_app_" + std::string(series) + labels +
                              (i < 4 ? std::string(",source=\"") + (i < 2 ? "all" : "disk") + "\"" : "") + "} ";
      const std::size_t at = text.find(key);
      out.push_back(at == std::string::npos ? -1 : std::stod(text.substr(at + key.size())) / (i < 6 ? i + 1 : 1));
    }
    return out;
  }
  double n(const std::string& path) const { return app(path)[1]; }

  std::string text() const { return metrics_.scrapeText(); }

 private:
  AgentMetrics metrics_;
};

std::vector<double> counts(double n, double processes) { return {n, n, n, n, n, n, processes}; }

TEST(AgentMetrics, CountsEveryMemberOnceInEveryCounterAndNeverGoesDown) {
  Feed feed;
  feed.snapshot({{10, 1, "/usr/bin/a", 1000}});  // there before the agent: counts from now
  EXPECT_EQ(feed.app("/usr/bin/a"), counts(0, 1));
  feed.snapshot({{10, 1, "/usr/bin/a", 1500}, {11, 2, "/USR/bin/a", 300}});  // born since: all of it
  EXPECT_EQ(feed.app("/usr/bin/a"), counts(800, 2));
  feed.snapshot({{10, 1, "/usr/bin/a", 1500}});                                // 11 exited
  feed.snapshot({{11, 2, "/usr/bin/a", 300}, {10, 1, "/usr/bin/a", 1400}});   // missed one, a fall
  EXPECT_EQ(feed.n("/usr/bin/a"), 800);
  feed.snapshot({{10, 7, "/usr/bin/a", 50}});  // the pid reused by a new process
  EXPECT_EQ(feed.app("/usr/bin/a"), counts(850, 1));
}

TEST(AgentMetrics, AnExecMovesLaterGrowthToTheNewProgram) {
  Feed feed;
  feed.snapshot({{5, 1, "/bin/sh", 0}});
  feed.snapshot({{5, 1, "/bin/sh", 100}});
  feed.snapshot({{5, 1, "/opt/tool", 400, 1}});
  EXPECT_EQ(feed.app("/bin/sh"), counts(100, 0));
  EXPECT_EQ(feed.app("/opt/tool"), counts(300, 1));
}

TEST(AgentMetrics, SeriesBeyondTheCapAreSummedIntoOneAndFreedOnlyAfterLongIdleness) {
  Feed feed(2);
  feed.snapshot({});
  for (int i = 0; i < 3; ++i)  // the same members again: the gauges do not add up
    feed.snapshot({{1, 1, "/a", 10}, {2, 1, "/b", 20}, {3, 1, "/c", 30}, {4, 1, "/d", 40}});
  EXPECT_EQ(feed.app("/a"), counts(10, 1));
  EXPECT_EQ(feed.n("/b"), 20);
  EXPECT_EQ(feed.n("/c"), -1);
  EXPECT_EQ(feed.app("(other)"), counts(70, 2));
  EXPECT_NE(feed.text().find("tessivo_agent_application_series 2"), std::string::npos);
  feed.snapshot({{1, 1, "/a", 10}, {2, 1, "/b", 20}});
  EXPECT_EQ(feed.app("(other)"), counts(70, 0));  // its members gone: kept, with its counts

  // /a's process exits; a newcomer goes to (other) until /a has been idle for long, then
  // takes its series, which starts from zero.
  for (int i = 0; i < 897; ++i) feed.snapshot({{2, 1, "/b", 20}});
  EXPECT_EQ(feed.app("(other)"), counts(70, 0));
  feed.snapshot({{2, 1, "/b", 20}, {5, 1, "/e", 5}});
  EXPECT_EQ(feed.n("/e"), -1);
  EXPECT_EQ(feed.n("(other)"), 75);
  feed.snapshot({{2, 1, "/b", 20}, {5, 1, "/e", 5}});
  feed.snapshot({{2, 1, "/b", 20}, {6, 1, "/e", 1}});
  EXPECT_EQ(feed.app("/e"), counts(1, 1));
  EXPECT_EQ(feed.n("/a"), -1);
  // /a comes back: not under the series that was its own, now /e's.
  feed.snapshot({{2, 1, "/b", 20}, {6, 1, "/e", 1}, {7, 1, "/a", 9}});
  EXPECT_EQ(feed.app("/e"), counts(1, 1));
  EXPECT_EQ(feed.app("(other)"), counts(84, 1));
  EXPECT_EQ(feed.n("/a"), -1);
}

// Kernel threads, whose names carry a changing work item, are one application by default;
// a process that only calls itself "(kernel)" is not one of them.
TEST(AgentMetrics, KernelThreadsAreOneApplicationUnlessKeptApart) {
  for (const bool separate : {false, true}) {
    Feed feed(2000, separate);
    feed.snapshot({{2, 1, "kworker/0:1-events", 1, 0, true}, {3, 1, "kworker/1:0-mm", 2, 0, true}, {4, 1, "(kernel)", 5}});
    feed.snapshot({{2, 1, "kworker/0:1-events", 11, 0, true}, {3, 1, "kworker/1:0-mm", 4, 0, true}, {4, 1, "(kernel)", 8}});
    EXPECT_EQ(feed.app("(kernel)"), separate ? std::vector<double>(7, -1) : counts(12, 2));
    EXPECT_EQ(feed.app("kworker/1:0-mm"), separate ? counts(2, 1) : std::vector<double>(7, -1));
    EXPECT_NE(feed.text().find("tessivo_app_processes{name=\"(kernel)\",path=\"\"} 1"), std::string::npos);
  }
}

}  // namespace
}  // namespace tessivo
