#include "agent/agent_link.h"

#include <algorithm>
#include <chrono>
#include <utility>
#include <vector>

namespace tessivo {

AgentLink::AgentLink(std::string socketPath) : client_(std::move(socketPath)) {
  worker_ = std::thread([this] { run(); });
}

AgentLink::~AgentLink() {
  {
    const std::lock_guard lock(mutex_);
    stop_ = true;
  }
  wake_.notify_one();
  worker_.join();  // at most one exchange's timeout
}

void AgentLink::request() {
  {
    const std::lock_guard lock(mutex_);
    ++requested_;
  }
  wake_.notify_one();
}

bool AgentLink::take(agent::Snapshot& into, std::uint32_t waitMs) {
  std::unique_lock lock(mutex_);
  const std::uint64_t wanted = requested_;
  // A worker still on an older request is stuck on the agent: no wait for it then.
  if (served_ + 1 >= wanted)
    answered_.wait_for(lock, std::chrono::milliseconds(waitMs), [&] { return served_ >= wanted; });
  // One refresh late is still fresh; anything older is not this refresh's news.
  if (!published_ || publishedFor_ + 1 < wanted) return false;
  published_ = false;
  std::swap(into.sampleMs, shared_.sampleMs);
  std::swap(into.sequence, shared_.sequence);
  into.samples.swap(shared_.samples);
  into.counters.swap(shared_.counters);
  return true;
}

std::u16string AgentLink::imagePath(std::uint32_t pid) const {
  const std::lock_guard lock(mutex_);
  const auto it = paths_.find(pid);
  return it == paths_.end() ? std::u16string() : it->second.path;
}

AgentState AgentLink::state() const {
  const std::lock_guard lock(mutex_);
  return state_;
}

void AgentLink::setByteSource(ProcByteSource source) {
  const std::lock_guard lock(mutex_);
  historySource_ = source;
}

bool AgentLink::takeHistory(HistoryCopy& into) {
  const std::lock_guard lock(mutex_);
  if (!historyPublished_) return false;
  historyPublished_ = false;
  std::swap(into, historyShared_);
  return true;
}

void AgentLink::run() {
  std::unique_lock lock(mutex_);
  for (;;) {
    // A new connection takes in the agent's history, between the snapshots.
    if (client_.connected() && client_.connections() != fetch_.connection) {
      fetch_.active = true;
      fetch_.connection = client_.connections();
      fetch_.series = agent::HistorySeries::Minutes;
      fetch_.after = 0;
      fetch_.copy = HistoryCopy{};
      fetch_.copy.source = historySource_;
      fetch_.nameIndex.clear();
    }
    const auto due = [&] { return stop_ || requested_ > served_ || (fetch_.active && client_.connected()); };
    // While not connected it tries again on its own, so that an agent that is back is
    // connected before the next refresh asks.
    const bool wanted = client_.connected()
                            ? (wake_.wait(lock, due), true)
                            : wake_.wait_for(lock, std::chrono::milliseconds(kRetryMs), due);
    if (stop_) return;
    if (wanted && requested_ <= served_) {
      // No snapshot asked for: the next frame of the history.
      lock.unlock();
      fetchHistoryFrame();
      lock.lock();
      state_ = client_.state();
      if (!fetch_.active && fetch_.copy.intervalMs != 0 && fetch_.connection == client_.connections() &&
          client_.connected()) {
        historyShared_ = std::move(fetch_.copy);
        fetch_.copy = HistoryCopy{};
        historyPublished_ = true;
      }
      continue;
    }
    if (!wanted) {
      lock.unlock();
      client_.connect();
      lock.lock();
      state_ = client_.state();
      continue;
    }
    const std::uint64_t serving = requested_;
    lock.unlock();
    const bool wasConnected = client_.connected();
    bool ok = wasConnected || client_.connect();
    if (ok) ok = client_.fetch(work_);
    // A connection that broke is tried again at once: a restarted agent serves this
    // request, and one that is gone is told apart from one that hangs.
    if (!ok && wasConnected) ok = client_.connect() && client_.fetch(work_);
    if (ok) fetchPaths(work_);
    lock.lock();
    state_ = client_.state();
    if (ok) {
      std::swap(work_.sampleMs, shared_.sampleMs);
      std::swap(work_.sequence, shared_.sequence);
      work_.samples.swap(shared_.samples);
      work_.counters.swap(shared_.counters);
      published_ = true;
      publishedFor_ = serving;
    }
    served_ = serving;
    answered_.notify_all();
  }
}

void AgentLink::fetchPaths(const agent::Snapshot& snapshot) {
  std::vector<std::size_t> wanted;
  {
    const std::lock_guard lock(mutex_);
    // Those of processes gone from the snapshot go (a reused pid is a new process).
    std::erase_if(paths_, [&](const auto& entry) {
      return !std::binary_search(snapshot.samples.begin(), snapshot.samples.end(), entry.first,
                                 [](const auto& a, const auto& b) {
                                   if constexpr (std::is_same_v<std::decay_t<decltype(a)>, std::uint32_t>)
                                     return a < b.pid;
                                   else
                                     return a.pid < b;
                                 });
    });
    for (std::size_t i = 0; i < snapshot.samples.size(); ++i) {
      const ProcessSample& s = snapshot.samples[i];
      const auto it = paths_.find(s.pid);
      if (it == paths_.end() || it->second.createTime != s.createTime || it->second.generation != s.imageGeneration)
        wanted.push_back(i);
    }
  }
  std::vector<std::pair<std::size_t, std::u16string>> found;
  found.reserve(wanted.size());
  for (const std::size_t i : wanted) {
    std::u16string path = client_.imagePath(snapshot.samples[i].pid);
    if (!client_.connected()) break;
    found.emplace_back(i, std::move(path));
  }
  const std::lock_guard lock(mutex_);
  for (auto& [i, path] : found) {
    const ProcessSample& s = snapshot.samples[i];
    paths_[s.pid] = Path{s.createTime, s.imageGeneration, std::move(path)};
  }
}

void AgentLink::fetchHistoryFrame() {
  HistoryFetch& f = fetch_;
  if (!f.active) return;
  switch (client_.fetchHistory(f.copy.source, f.series, f.after, f.chunk)) {
    case AgentSystem::HistoryAnswer::Chunk:
      break;
    case AgentSystem::HistoryAnswer::Unsupported:
    case AgentSystem::HistoryAnswer::Failed:
      f.active = false;
      f.copy.intervalMs = 0;  // nothing to hand over
      return;
  }
  const agent::HistoryChunk& chunk = f.chunk;
  const bool live = f.series == agent::HistorySeries::Live;
  f.copy.intervalMs = chunk.intervalMs;
  (live ? f.copy.liveSpanMs : f.copy.minuteSpanMs) = chunk.spanMs;
  f.nameMap.resize(chunk.names.size());
  for (std::size_t i = 0; i < chunk.names.size(); ++i) {
    const auto [it, added] = f.nameIndex.try_emplace(chunk.names[i], static_cast<std::uint32_t>(f.copy.names.size()));
    if (added) f.copy.names.push_back(chunk.names[i]);
    f.nameMap[i] = it->second;
  }
  std::vector<agent::HistoryItem>& items = live ? f.copy.live : f.copy.minutes;
  for (const agent::HistoryItem& item : chunk.items) {
    // Frames follow one another in time; an item older than the ones taken is not this history's.
    if (!items.empty() && item.endMs < items.back().endMs) {
      f.active = false;
      f.copy.intervalMs = 0;
      return;
    }
    items.push_back(item);
    for (Contributor& c : items.back().sample.contributors) c.nameId = f.nameMap[c.nameId];
  }
  const std::uint64_t last = chunk.items.empty() ? chunk.newestSequence : chunk.firstSequence + chunk.items.size() - 1;
  if (!chunk.items.empty() && last < chunk.newestSequence) {
    f.after = last;
    return;
  }
  if (!live) {
    f.series = agent::HistorySeries::Live;
    f.after = 0;
    return;
  }
  f.active = false;  // whole: intervalMs says so
}

}  // namespace tessivo
