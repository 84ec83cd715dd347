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

class Feed {
 public:
  explicit Feed(std::size_t maxSeries = 2000) : metrics_(AgentMetricsOptions{"", maxSeries}) {}

  void snapshot(std::initializer_list<Proc> procs) {
    std::vector<ProcessSample> samples;
    std::vector<ProcCounters> counters;
    std::vector<std::u16string> paths;
    for (const Proc& p : procs) {
      ProcessSample s;
      s.pid = p.pid;
      s.name = u"proc";
      s.createTime = p.start;
      s.imageGeneration = p.generation;
      samples.push_back(s);
      ProcCounters c;
      c.allIo.writeBytes = p.written;
      c.diskOnly.writeBytes = p.written / 2;
      c.allIo.writeOps = c.diskOnly.writeOps = p.written / 10;
      counters.push_back(c);
      paths.push_back(fromUtf8(p.path));
    }
    metrics_.update(samples, counters, paths, 1000);
  }

  // The value of one series, -1 when it is not exported.
  double written(const std::string& path, const char* source = "all") const {
    const std::string name = path.substr(path.find_last_of('/') + 1);
    const std::string series = "tessivo_app_written_bytes_total{name=\"" + name + "\",path=\"" + path +
                               "\",source=\"" + source + "\"} ";
    const std::string text = metrics_.scrapeText();
    const std::size_t at = text.find(series);
    return at == std::string::npos ? -1 : std::stod(text.substr(at + series.size()));
  }

  std::string text() const { return metrics_.scrapeText(); }

 private:
  AgentMetrics metrics_;
};

TEST(AgentMetrics, CountsEveryMemberOnceAndNeverGoesDown) {
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
  EXPECT_NE(feed.text().find("tessivo_app_processes{name=\"a\",path=\"/usr/bin/a\"} 1"), std::string::npos);
  EXPECT_NE(feed.text().find("tessivo_app_write_operations_total{name=\"a\",path=\"/usr/bin/a\"} 85"),
            std::string::npos);
}

TEST(AgentMetrics, AnExecMovesLaterGrowthToTheNewProgram) {
  Feed feed;
  feed.snapshot({{5, 1, "/bin/sh", 0}});
  feed.snapshot({{5, 1, "/bin/sh", 100}});
  feed.snapshot({{5, 1, "/opt/tool", 400, 1}});
  EXPECT_EQ(feed.written("/bin/sh"), 100);
  EXPECT_EQ(feed.written("/opt/tool"), 300);
}

TEST(AgentMetrics, SeriesBeyondTheCapAreSummedIntoOne) {
  Feed feed(2);
  feed.snapshot({});
  feed.snapshot({{1, 1, "/a", 10}, {2, 1, "/b", 20}, {3, 1, "/c", 30}, {4, 1, "/d", 40}});
  EXPECT_EQ(feed.written("/a"), 10);
  EXPECT_EQ(feed.written("/b"), 20);
  EXPECT_EQ(feed.written("/c"), -1);
  const std::string other = "tessivo_app_written_bytes_total{name=\"(other)\",path=\"(other)\",source=\"all\"} 70";
  EXPECT_NE(feed.text().find(other), std::string::npos);
  EXPECT_NE(feed.text().find("tessivo_agent_application_series 2"), std::string::npos);
}

}  // namespace
}  // namespace tessivo
