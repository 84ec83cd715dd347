// The agent's protocol: what one side encodes the other decodes, and nothing else is taken.
#include <gtest/gtest.h>

#include <functional>

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
