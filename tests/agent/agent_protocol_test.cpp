// The agent's protocol: what one side encodes the other decodes, and nothing else is taken.
#include <gtest/gtest.h>

#include <functional>
#include <tuple>

#include "agent/agent_protocol.h"

namespace tessivo::agent {
namespace {

ProcessSample sample(std::uint32_t pid, std::u16string name, std::uint32_t generation = 0) {
  ProcessSample s;
  s.pid = pid;
  s.name = std::move(name);
  s.createTime = 1000ull * pid + 7;
  s.imageGeneration = generation;
  return s;
}

ProcCounters both(std::uint64_t base) {
  return {IoCounters{base + 1, base + 2, base + 3, base + 4, base + 5, base + 6},
          IoCounters{base + 1, base + 2, 0, base + 40, base + 50, 0}};
}

std::string payloadOf(const std::string& frame) {
  std::string_view payload;
  std::size_t bytes = 0;
  EXPECT_EQ(peekFrame(frame, kMaxReplyPayload, payload, bytes), FrameStatus::Ready);
  EXPECT_EQ(bytes, frame.size());
  return std::string(payload);
}

// Two minutes of one history, the second naming a contributor of the first again.
HistoryChunk chunk(std::uint64_t first = 7, std::uint64_t newest = 9) {
  HistoryChunk c{ProcByteSource::DiskOnly, HistorySeries::Minutes, 333, 59940, first, newest, {u"dd", u"写入器"}, {}};
  c.items.resize(2);
  c.items[0] = {1000, {5, 6, {}}};
  c.items[0].sample.contributors.push_back({1, 2, 3});
  c.items[1] = {61000, {~0ull, 0, {}}};
  for (std::uint32_t n = 0; n < 10; ++n) c.items[1].sample.contributors.push_back({n % 2, n, ~0ull - n});
  return c;
}

bool sameChunk(const HistoryChunk& a, const HistoryChunk& b) {
  if (std::tie(a.source, a.series, a.intervalMs, a.spanMs, a.firstSequence, a.newestSequence, a.names) !=
          std::tie(b.source, b.series, b.intervalMs, b.spanMs, b.firstSequence, b.newestSequence, b.names) ||
      a.items.size() != b.items.size())
    return false;
  for (std::size_t i = 0; i < a.items.size(); ++i) {
    const ChartSample &x = a.items[i].sample, &y = b.items[i].sample;
    if (a.items[i].endMs != b.items[i].endMs || x.readRate != y.readRate || x.writeRate != y.writeRate ||
        x.contributors.size() != y.contributors.size())
      return false;
    for (std::size_t k = 0; k < x.contributors.size(); ++k)
      if (std::tie(x.contributors[k].nameId, x.contributors[k].readRate, x.contributors[k].writeRate) !=
          std::tie(y.contributors[k].nameId, y.contributors[k].readRate, y.contributors[k].writeRate))
        return false;
  }
  return true;
}

std::string historyPayload(const HistoryChunk& c) {
  std::string frame;
  encodeHistory(c, frame);
  return payloadOf(frame);
}

std::string snapshotPayload(const std::vector<ProcessSample>& samples, const std::vector<ProcCounters>& counters) {
  std::string frame;
  encodeSnapshot(42, 9, samples, counters, frame);
  return payloadOf(frame);
}

// Every message kind, with the decoder that must accept it whole and refuse every
// truncation of it and any byte more.
struct Case {
  const char* what;
  std::string payload;
  std::function<bool(std::string_view)> decodes;
};

std::vector<Case> cases() {
  std::vector<Case> all;
  auto frame = [](auto&& encode) {
    std::string f;
    encode(f);
    return payloadOf(f);
  };
  all.push_back({"hello", frame([](std::string& f) { encodeHello({kVersion, 333, 77}, f); }),
                 [](std::string_view p) { return decodeHello(p) == Hello{kVersion, 333, 77}; }});
  all.push_back({"snapshot request", frame([](std::string& f) { encodeRequest({MessageType::Snapshot, 0}, f); }),
                 [](std::string_view p) { return decodeRequest(p) == Request{MessageType::Snapshot, 0}; }});
  all.push_back({"path request", frame([](std::string& f) { encodeRequest({MessageType::ImagePath, 0xdeadbeef}, f); }),
                 [](std::string_view p) { return decodeRequest(p) == Request{MessageType::ImagePath, 0xdeadbeef}; }});
  all.push_back({"clock request", frame([](std::string& f) { encodeRequest({MessageType::Clock, 0}, f); }),
                 [](std::string_view p) { return decodeRequest(p) == Request{MessageType::Clock, 0}; }});
  all.push_back({"path", frame([](std::string& f) { encodeImagePath(5, u"/usr/bin/ß", f); }), [](std::string_view p) {
                   const auto r = decodeImagePath(p);
                   return r && r->pid == 5 && r->path == u"/usr/bin/ß";
                 }});
  all.push_back({"clock", frame([](std::string& f) { encodeClock(0x0102030405060708ull, f); }),
                 [](std::string_view p) { return decodeClock(p) == 0x0102030405060708ull; }});
  all.push_back({"status request", frame([](std::string& f) { encodeRequest({MessageType::Status, 0}, f); }),
                 [](std::string_view p) { return decodeRequest(p) == Request{MessageType::Status, 0}; }});
  all.push_back({"status", frame([](std::string& f) { encodeStatus({Status::kPartial}, f); }),
                 [](std::string_view p) { return decodeStatus(p) == Status{Status::kPartial}; }});
  const Request history{MessageType::History, 0, ProcByteSource::DiskOnly, HistorySeries::Live, 0x0102030405060708ull};
  all.push_back({"history request", frame([&](std::string& f) { encodeRequest(history, f); }),
                 [history](std::string_view p) { return decodeRequest(p) == history; }});
  all.push_back({"history", historyPayload(chunk()), [](std::string_view p) {
                   HistoryChunk c;
                   return decodeHistory(p, c) && sameChunk(c, chunk());
                 }});
  all.push_back({"error", frame([](std::string& f) { encodeError(ErrorCode::NoSample, f); }),
                 [](std::string_view p) { return decodeError(p) == ErrorCode::NoSample; }});
  const std::vector<ProcessSample> samples{sample(1, u"systemd"), sample(70000, u"", 3), sample(0xffffffff, u"写入器")};
  const std::vector<ProcCounters> counters{both(0), both(1ull << 40), both(~0ull - 60)};
  all.push_back({"snapshot", snapshotPayload(samples, counters), [samples, counters](std::string_view p) {
                   Snapshot s;
                   if (!decodeSnapshot(p, s) || s.sampleMs != 42 || s.sequence != 9 || s.samples.size() != 3) return false;
                   for (std::size_t i = 0; i < 3; ++i) {
                     const ProcessSample& d = s.samples[i];
                     if (d.pid != samples[i].pid || d.name != samples[i].name || d.createTime != samples[i].createTime ||
                         d.imageGeneration != samples[i].imageGeneration || !(s.counters[i].allIo == counters[i].allIo) ||
                         !(s.counters[i].diskOnly == counters[i].diskOnly) || !(d.counters == counters[i].allIo))
                       return false;
                   }
                   return true;
                 }});
  return all;
}

TEST(AgentProtocol, EachMessageDecodesWholeAndNoTruncationOrExtensionDoes) {
  for (const Case& c : cases()) {
    EXPECT_TRUE(c.decodes(c.payload)) << c.what;
    for (std::size_t n = 0; n < c.payload.size(); ++n) EXPECT_FALSE(c.decodes(c.payload.substr(0, n))) << c.what << n;
    EXPECT_FALSE(c.decodes(c.payload + '\0')) << c.what;
    // Another message's decoder refuses it.
    for (const Case& other : cases()) {
      if (other.payload[0] == c.payload[0]) continue;
      EXPECT_FALSE(other.decodes(c.payload)) << other.what << " took " << c.what;
    }
  }
}

TEST(AgentProtocol, HistoryRefusesWhatNoAgentHistoryCouldBe) {
  const auto refused = [](std::string payload) {
    HistoryChunk c;
    return !decodeHistory(payload, c) && c.items.empty();
  };
  HistoryChunk unnamed = chunk(), backwards = chunk();
  unnamed.items[0].sample.contributors[0].nameId = 2;  // past the table
  backwards.items[1].endMs = 999;
  for (const HistoryChunk& c : {unnamed, backwards, chunk(0, 9), chunk(9, 9), chunk(1, 1), chunk(~0ull, 1)})
    EXPECT_TRUE(refused(historyPayload(c))) << c.firstSequence << '/' << c.newestSequence;
  EXPECT_FALSE(refused(historyPayload(chunk(8, 9))));  // the last item the newest
  std::string eleven = historyPayload(chunk());
  eleven[eleven.size() - 10 * 18 - 1] = 11;  // the second item's contributor count
  EXPECT_TRUE(refused(eleven));
  for (const std::size_t at : {1u, 2u}) {  // the byte source, the series
    std::string bad = historyPayload(chunk());
    bad[at] = 2;
    EXPECT_TRUE(refused(bad)) << at;
  }
  for (const std::size_t at : {1u, 2u})  // the byte source, the series
    for (const std::uint8_t byte : {std::uint8_t{2}, std::uint8_t{0xff}}) {
      std::string request;
      encodeRequest({MessageType::History, 0, ProcByteSource::AllIo, HistorySeries::Minutes, 1}, request);
      request[kFrameHeader + at] = static_cast<char>(byte);
      EXPECT_FALSE(decodeRequest(payloadOf(request))) << at << int(byte);
    }
  HistoryChunk named = chunk(), back;  // a name past the limit goes cut to it
  named.names[0] = std::u16string(kMaxNameUnits + 1, u'x');
  ASSERT_TRUE(decodeHistory(historyPayload(named), back));
  EXPECT_EQ(back.names[0], named.names[0].substr(0, kMaxNameUnits));
}

TEST(AgentProtocol, FramesAndPathsAtTheirLimits) {
  using S = std::string;
  for (const auto& [bytes, max, status] :
       {std::tuple{S(), std::size_t{16}, FrameStatus::NeedMore}, {S("\x01\x00\x00", 3), 16, FrameStatus::NeedMore},
        {S("\x00\x00\x00\x00", 4), 16, FrameStatus::Invalid},
        {S("\x10\x00\x00\x00", 4) + S(15, 'a'), 16, FrameStatus::NeedMore},
        {S("\x10\x00\x00\x00", 4) + S(16, 'a'), 16, FrameStatus::Ready},
        {S("\x11\x00\x00\x00", 4), 16, FrameStatus::Invalid},
        {S("\xff\xff\xff\xff", 4), kMaxReplyPayload, FrameStatus::Invalid}}) {
    std::string_view payload;
    std::size_t used = 0;
    EXPECT_EQ(peekFrame(bytes, max, payload, used), status) << bytes.size();
  }
  for (const auto& [path, kept] : {std::pair{std::u16string(kMaxPathUnits, u'/'), true},
                                   {std::u16string(kMaxPathUnits + 1, u'/'), false}, {u"", true}}) {
    std::string f;
    encodeImagePath(1, path, f);
    const auto r = decodeImagePath(payloadOf(f));
    ASSERT_TRUE(r);
    EXPECT_EQ(r->path.size(), kept ? path.size() : 0);
  }
  std::string relative, unknownFlag;
  encodeImagePath(1, u"bin/sh", relative);
  EXPECT_FALSE(decodeImagePath(payloadOf(relative)));
  encodeStatus({Status::kKnownFlags + 1}, unknownFlag);  // a flag this side cannot show
  EXPECT_FALSE(decodeStatus(payloadOf(unknownFlag)));
  std::string hello;
  encodeHello({kVersion, 1, 1}, hello);
  hello[5] ^= 1;  // the magic
  EXPECT_FALSE(decodeHello(payloadOf(hello)));
}

}  // namespace
}  // namespace tessivo::agent
