#include "agent/agent_metrics.h"

#include <prometheus/collectable.h>
#include <prometheus/exposer.h>
#include <prometheus/metric_family.h>
#include <prometheus/text_serializer.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <limits>
#include <mutex>
#include <stdexcept>
#include <unordered_map>

#include "core/text.h"
#include "sampling/row_builder.h"

namespace tessivo {

namespace {

// A member unseen for this many snapshots (about 10 s at the default interval) is
// forgotten. One that misses a snapshot or two (a descriptor shortage) keeps its baseline,
// so its return is not counted again.
constexpr std::uint64_t kForgetAfterSnapshots = 32;

// A full table gives an application's series to a new one only when the old one has had
// no member for this many snapshots (about 5 minutes).
constexpr std::uint64_t kIdleBeforeEviction = 900;

constexpr std::uint32_t kOther = std::numeric_limits<std::uint32_t>::max();

// Amounts of one application, all monotone.
struct Totals {
  std::uint64_t readAll = 0, writeAll = 0, readDisk = 0, writeDisk = 0, readOps = 0, writeOps = 0;
};

std::uint64_t grown(std::uint64_t now, std::uint64_t before) { return now > before ? now - before : 0; }

std::uint64_t saturatingAdd(std::uint64_t a, std::uint64_t b) {
  return a > std::numeric_limits<std::uint64_t>::max() - b ? std::numeric_limits<std::uint64_t>::max() : a + b;
}

void addGrowth(Totals& totals, const ProcCounters& now, const ProcCounters& before) {
  totals.readAll = saturatingAdd(totals.readAll, grown(now.allIo.readBytes, before.allIo.readBytes));
  totals.writeAll = saturatingAdd(totals.writeAll, grown(now.allIo.writeBytes, before.allIo.writeBytes));
  totals.readDisk = saturatingAdd(totals.readDisk, grown(now.diskOnly.readBytes, before.diskOnly.readBytes));
  totals.writeDisk = saturatingAdd(totals.writeDisk, grown(now.diskOnly.writeBytes, before.diskOnly.writeBytes));
  totals.readOps = saturatingAdd(totals.readOps, grown(now.allIo.readOps, before.allIo.readOps));
  totals.writeOps = saturatingAdd(totals.writeOps, grown(now.allIo.writeOps, before.allIo.writeOps));
}

prometheus::ClientMetric::Label label(const char* name, const std::string& value) { return {name, value}; }

}  // namespace

// The state a scrape reads. Updated by the sampling loop, read by the exposer's threads.
class MetricsState final : public prometheus::Collectable {
 public:
  explicit MetricsState(const AgentMetricsOptions& options)
      : maxSeries_(std::max<std::size_t>(options.maxSeries, 1)), separateKernelThreads_(options.separateKernelThreads) {
    other_.path = "(other)";
    other_.name = "(other)";
  }

  void update(const std::vector<ProcessSample>& samples, const std::vector<ProcCounters>& counters,
              const std::vector<std::u16string>& paths, std::uint64_t snapshotNanoseconds) {
    std::lock_guard lock(mutex_);
    ++snapshots_;
    snapshotSecondsTotal_ += static_cast<double>(snapshotNanoseconds) / 1e9;
    lastSnapshotSeconds_ = static_cast<double>(snapshotNanoseconds) / 1e9;
    listed_ = samples.size();
    for (App& app : apps_) app.processes = 0;
    other_.processes = 0;
    const std::size_t n = std::min({samples.size(), counters.size(), paths.size()});
    for (std::size_t i = 0; i < n; ++i) {
      const ProcessSample& sample = samples[i];
      auto [it, isNew] = members_.try_emplace(sample.pid);
      Member& member = it->second;
      if (!isNew && member.createTime != sample.createTime) {
        leave(member.app);
        isNew = true;
      }
      if (isNew) {
        // Processes there before the first snapshot count from now; a later one was born
        // since, so all it did is new.
        member = Member{};
        member.createTime = sample.createTime;
        member.app = kUnassigned;
        if (snapshots_ == 1) member.last = counters[i];
      }
      if (member.app == kUnassigned || member.generation != sample.imageGeneration) {
        const std::uint32_t app = assign(sample, paths[i], counters[i].kernelThread && !separateKernelThreads_);
        if (member.app != kUnassigned) leave(member.app);
        member.app = app;
        member.generation = sample.imageGeneration;
        if (app != kOther) ++apps_[app].members;
      }
      App& app = appAt(member.app);
      addGrowth(app.totals, counters[i], member.last);
      // A counter that went down (it cannot, but the source is outside bytes) rebases.
      member.last = counters[i];
      member.seen = snapshots_;
      ++app.processes;
      app.lastActive = snapshots_;
    }
    if (snapshots_ % 16 == 0) forgetAbsent();
  }

  std::vector<prometheus::MetricFamily> Collect() const override {
    const auto started = std::chrono::steady_clock::now();
    std::vector<prometheus::MetricFamily> families;
    {
      std::lock_guard lock(mutex_);
      families = build();
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    lastScrapeSeconds_.store(seconds, std::memory_order_relaxed);
    return families;
  }

 private:
  static constexpr std::uint32_t kUnassigned = kOther - 1;
  static constexpr std::u16string_view kKernelKey{u"\0kernel", 7};
  static constexpr const char* kKernelLabel = "(kernel)";

  struct App {
    std::string path;  // label values, UTF-8, as first seen
    std::string name;
    Totals totals;
    std::uint32_t processes = 0;  // members in the latest snapshot
    std::uint32_t members = 0;    // members remembered, present or not
    std::uint64_t lastActive = 0;
    std::u16string key;  // the folded grouping key, for the index
  };

  struct Member {
    std::uint64_t createTime = 0;
    std::uint32_t generation = 0;
    std::uint32_t app = kUnassigned;
    std::uint64_t seen = 0;
    ProcCounters last;  // what the source gave at the latest sighting
  };

  App& appAt(std::uint32_t index) { return index == kOther ? other_ : apps_[index]; }

  void leave(std::uint32_t app) {
    if (app != kOther && app != kUnassigned && apps_[app].members > 0) --apps_[app].members;
  }

  // The application a sample belongs to, as the list groups: by image path, or by name
  // when the path is unknown; ASCII case folded. Kernel threads, whose names carry a
  // changing work item (kworker/2:1-events), are one application when `kernel` says so,
  // under a key no path or process name can have (a name holds no NUL).
  std::uint32_t assign(const ProcessSample& sample, const std::u16string& path, bool kernel) {
    const std::u16string_view name =
        sample.name.empty() ? std::u16string_view(kUnknownName) : std::u16string_view(sample.name);
    if (kernel) {
      key_.assign(kKernelKey);
    } else {
      foldAsciiInto(path.empty() ? name : std::u16string_view(path), key_);
    }
    if (const auto found = index_.find(key_); found != index_.end()) return found->second;
    std::uint32_t slot = kOther;
    if (apps_.size() < maxSeries_) {
      slot = static_cast<std::uint32_t>(apps_.size());
      apps_.emplace_back();
    } else {
      slot = evictable();
      if (slot == kOther) return kOther;
      index_.erase(apps_[slot].key);
      apps_[slot] = App{};
    }
    App& app = apps_[slot];
    app.path = kernel ? kKernelLabel : toUtf8(path);
    app.name = kernel ? kKernelLabel : toUtf8(path.empty() ? name : fileNamePart(path));
    app.lastActive = snapshots_;
    app.key = key_;
    index_.emplace(key_, slot);
    return slot;
  }

  // An application that has had no member for long, least recently active first.
  std::uint32_t evictable() const {
    std::uint32_t best = kOther;
    for (std::uint32_t i = 0; i < apps_.size(); ++i) {
      const App& app = apps_[i];
      if (app.members != 0 || snapshots_ - app.lastActive < kIdleBeforeEviction) continue;
      if (best == kOther || app.lastActive < apps_[best].lastActive) best = i;
    }
    return best;
  }

  void forgetAbsent() {
    for (auto it = members_.begin(); it != members_.end();) {
      if (snapshots_ - it->second.seen > kForgetAfterSnapshots) {
        leave(it->second.app);
        it = members_.erase(it);
      } else {
        ++it;
      }
    }
  }

  std::vector<prometheus::MetricFamily> build() const {
    using prometheus::MetricType;
    auto family = [](const char* name, const char* help, MetricType type) {
      prometheus::MetricFamily f;
      f.name = name;
      f.help = help;
      f.type = type;
      return f;
    };
    std::vector<prometheus::MetricFamily> out;
    out.push_back(family("tessivo_app_read_bytes_total",
                         "Bytes read by the application's processes since the agent started; source=all counts "
                         "every read (rchar), source=disk what was fetched from storage (read_bytes).",
                         MetricType::Counter));
    out.push_back(family("tessivo_app_written_bytes_total",
                         "Bytes written by the application's processes since the agent started; source=all counts "
                         "every write (wchar), source=disk what was sent to storage (write_bytes).",
                         MetricType::Counter));
    out.push_back(family("tessivo_app_read_operations_total",
                         "Read calls made by the application's processes since the agent started (syscr).",
                         MetricType::Counter));
    out.push_back(family("tessivo_app_write_operations_total",
                         "Write calls made by the application's processes since the agent started (syscw).",
                         MetricType::Counter));
    out.push_back(family("tessivo_app_processes", "Processes of the application in the latest snapshot.",
                         MetricType::Gauge));
    auto emit = [&out](const App& app) {
      const auto path = label("path", app.path);
      const auto name = label("name", app.name);
      auto add = [](prometheus::MetricFamily& f, std::vector<prometheus::ClientMetric::Label> labels, double value) {
        prometheus::ClientMetric metric;
        metric.label = std::move(labels);
        if (f.type == prometheus::MetricType::Counter) {
          metric.counter.value = value;
        } else {
          metric.gauge.value = value;
        }
        f.metric.push_back(std::move(metric));
      };
      const Totals& t = app.totals;
      add(out[0], {name, path, label("source", "all")}, static_cast<double>(t.readAll));
      add(out[0], {name, path, label("source", "disk")}, static_cast<double>(t.readDisk));
      add(out[1], {name, path, label("source", "all")}, static_cast<double>(t.writeAll));
      add(out[1], {name, path, label("source", "disk")}, static_cast<double>(t.writeDisk));
      add(out[2], {name, path}, static_cast<double>(t.readOps));
      add(out[3], {name, path}, static_cast<double>(t.writeOps));
      add(out[4], {name, path}, static_cast<double>(app.processes));
    };
    for (const App& app : apps_) emit(app);
    if (other_.lastActive != 0) emit(other_);

    auto single = [&out, &family](const char* name, const char* help, MetricType type, double value) {
      prometheus::MetricFamily f = family(name, help, type);
      prometheus::ClientMetric metric;
      if (type == MetricType::Counter) {
        metric.counter.value = value;
      } else {
        metric.gauge.value = value;
      }
      f.metric.push_back(std::move(metric));
      out.push_back(std::move(f));
    };
    single("tessivo_agent_processes", "Processes listed by the latest snapshot.", MetricType::Gauge,
           static_cast<double>(listed_));
    single("tessivo_agent_snapshots_total", "Snapshots of /proc taken.", MetricType::Counter,
           static_cast<double>(snapshots_));
    single("tessivo_agent_snapshot_duration_seconds", "Wall time of the latest snapshot.", MetricType::Gauge,
           lastSnapshotSeconds_);
    single("tessivo_agent_snapshot_seconds_total", "Wall time spent taking snapshots.", MetricType::Counter,
           snapshotSecondsTotal_);
    single("tessivo_agent_scrape_duration_seconds", "Time the previous scrape took to collect its metrics.",
           MetricType::Gauge, lastScrapeSeconds_.load(std::memory_order_relaxed));
    single("tessivo_agent_application_series", "Applications with a series of their own (at most --max-series).",
           MetricType::Gauge, static_cast<double>(apps_.size()));
    return out;
  }

  mutable std::mutex mutex_;
  const std::size_t maxSeries_;
  const bool separateKernelThreads_;
  std::vector<App> apps_;
  App other_;
  std::unordered_map<std::u16string, std::uint32_t> index_;  // folded key -> slot in apps_
  std::unordered_map<std::uint32_t, Member> members_;         // by pid
  std::u16string key_;
  std::uint64_t snapshots_ = 0;
  std::size_t listed_ = 0;
  double lastSnapshotSeconds_ = 0;
  double snapshotSecondsTotal_ = 0;
  mutable std::atomic<double> lastScrapeSeconds_{0};
};

struct AgentMetrics::Impl {
  std::shared_ptr<MetricsState> state;
  std::unique_ptr<prometheus::Exposer> exposer;  // destroyed first: no scrape outlives the state
};

AgentMetrics::AgentMetrics(const AgentMetricsOptions& options) : impl_(std::make_unique<Impl>()) {
  impl_->state = std::make_shared<MetricsState>(options);
  if (options.bindAddress.empty()) return;
  try {
    impl_->exposer = std::make_unique<prometheus::Exposer>(options.bindAddress, 2);
  } catch (const std::exception& error) {
    throw std::runtime_error("cannot serve metrics on " + options.bindAddress + ": " + error.what());
  }
  impl_->exposer->RegisterCollectable(impl_->state);
}

AgentMetrics::~AgentMetrics() { impl_->exposer.reset(); }

void AgentMetrics::update(const std::vector<ProcessSample>& samples, const std::vector<ProcCounters>& counters,
                          const std::vector<std::u16string>& paths, std::uint64_t snapshotNanoseconds) {
  impl_->state->update(samples, counters, paths, snapshotNanoseconds);
}

std::string AgentMetrics::scrapeText() const { return prometheus::TextSerializer().Serialize(impl_->state->Collect()); }

int AgentMetrics::listeningPort() const {
  if (!impl_->exposer) return 0;
  const std::vector<int> ports = impl_->exposer->GetListeningPorts();
  return ports.empty() ? 0 : ports.front();
}

}  // namespace tessivo
