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
  std::uint64_t written;  // wchar; write_bytes is half, syscw a tenth
  std::uint32_t generation = 0;
};

struct Feed {
  AgentMetrics metrics;
  explicit Feed(std::size_t maxSeries = 2000) : metrics(AgentMetricsOptions{"", maxSeries}) {}
  void snapshot(std::initializer_list<Proc> procs) {
    std::vector<ProcessSample> samples;
    std::vector<ProcCounters> counters;
    std::vector<std::u16string> paths;
    for (const Proc& p : procs) {
      samples.push_back(ProcessSample{p.pid, u"proc", {}, p.start, p.generation});
      const IoCounters all{0, p.written / 10, 0, 0, p.written, 0}, disk{0, p.written / 10, 0, 0, p.written / 2, 0};
      counters.push_back({all, disk});
      paths.push_back(fromUtf8(p.path));
    }
    metrics.update(samples, counters, paths, 1000);
  }
  // The value of one series, -1 when it is not exported.
  double written(const std::string& path, const char* source = "all") const {
    const std::string series = "tessivo_app_written_bytes_total{name=\"" + path.substr(path.find_last_of('/') + 1) +
                               "\",path=\"" + path + "\",source=\"" + source + "\"} ";
    const std::string text = metrics.scrapeText();
    const std::size_t at = text.find(series);
    return at == std::string::npos ? -1 : std::stod(text.substr(at + series.size()));
  }
  bool has(const std::string& line) const { return metrics.scrapeText().find(line) != std::string::npos; }
};

TEST(AgentMetrics, CountsEveryMemberOnceNeverGoesDownAndAnExecMovesLaterGrowth) {
  Feed feed;
  feed.snapshot({{10, 1, "/usr/bin/a", 1000}});  // there before the agent: counts from now
  EXPECT_EQ(feed.written("/usr/bin/a"), 0);
  feed.snapshot({{10, 1, "/usr/bin/a", 1500}, {11, 2, "/USR/bin/a", 300}});  // born since: all of it
  EXPECT_EQ(feed.written("/usr/bin/a"), 800);
  EXPECT_EQ(feed.written("/usr/bin/a", "disk"), 400);
  feed.snapshot({{10, 1, "/usr/bin/a", 1500}});                                 // 11 exited
  feed.snapshot({{11, 2, "/usr/bin/a", 300}, {10, 1, "/usr/bin/a", 1400}});    // missed one, a fall
  EXPECT_EQ(feed.written("/usr/bin/a"), 800);
  feed.snapshot({{10, 7, "/usr/bin/a", 50}});  // the pid reused by a new process
  EXPECT_EQ(feed.written("/usr/bin/a"), 850);
  EXPECT_TRUE(feed.has("tessivo_app_processes{name=\"a\",path=\"/usr/bin/a\"} 1"));
  EXPECT_TRUE(feed.has("tessivo_app_write_operations_total{name=\"a\",path=\"/usr/bin/a\"} 85"));
  feed.snapshot({{10, 7, "/usr/bin/a", 50}, {5, 1, "/bin/sh", 0}});
  feed.snapshot({{10, 7, "/usr/bin/a", 50}, {5, 1, "/bin/sh", 100}});
  feed.snapshot({{10, 7, "/usr/bin/a", 50}, {5, 1, "/opt/tool", 400, 1}});  // an exec: later growth to the new program
  EXPECT_EQ(std::tuple(feed.written("/bin/sh"), feed.written("/opt/tool")), std::tuple(100, 300));
}

TEST(AgentMetrics, SeriesBeyondTheCapAreSummedIntoOne) {
  Feed feed(2);
  feed.snapshot({});
  feed.snapshot({{1, 1, "/a", 10}, {2, 1, "/b", 20}, {3, 1, "/c", 30}, {4, 1, "/d", 40}});
  EXPECT_EQ(std::tuple(feed.written("/a"), feed.written("/b"), feed.written("/c")), std::tuple(10, 20, -1));
  EXPECT_TRUE(feed.has("tessivo_app_written_bytes_total{name=\"(other)\",path=\"(other)\",source=\"all\"} 70"));
  EXPECT_TRUE(feed.has("tessivo_agent_application_series 2"));
}

}  // namespace
}  // namespace tessivo
