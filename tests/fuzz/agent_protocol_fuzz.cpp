// The agent's protocol decoding on both ends: the input is a stream of frames, walked as the agent
// walks a client's bytes and as the desktop program walks the agent's. What a decoder accepts
// (history replies among them) must re-encode to exactly its frame; a snapshot built from the input must decode to itself.
#include <string>

#include "agent/agent_protocol.h"
#include "fuzz_support.h"

using namespace tessivo;
using namespace tessivo::agent;

namespace {

void checkSnapshot(const Snapshot& s) {
  FUZZ_CHECK(s.samples.size() == s.counters.size() && s.samples.size() <= kMaxProcesses);
  for (std::size_t i = 0; i < s.samples.size(); ++i) {
    FUZZ_CHECK(s.samples[i].name.size() <= kMaxNameUnits && s.samples[i].pid != 0);
    FUZZ_CHECK(s.samples[i].counters == s.counters[i].allIo);
    if (i > 0) FUZZ_CHECK(s.samples[i - 1].pid < s.samples[i].pid);
  }
}

// Decodes every frame of the stream; a decoder accepting too much shows as a re-encoding that
// differs from its frame.
void walk(std::string_view stream, bool agentSide) {
  const std::size_t max = agentSide ? kMaxRequestPayload : kMaxReplyPayload;
  while (true) {
    std::string_view payload;
    std::size_t frameBytes = 0;
    const FrameStatus status = peekFrame(stream, max, payload, frameBytes);
    std::uint32_t length = 0;
    for (std::size_t i = 0; i < kFrameHeader && i < stream.size(); ++i)
      length |= static_cast<std::uint32_t>(static_cast<unsigned char>(stream[i])) << (8 * i);
    if (stream.size() < kFrameHeader) return FUZZ_CHECK(status == FrameStatus::NeedMore);
    FUZZ_CHECK(status == (length == 0 || length > max                  ? FrameStatus::Invalid
                          : length > stream.size() - kFrameHeader ? FrameStatus::NeedMore
                                                                   : FrameStatus::Ready));
    if (status != FrameStatus::Ready) return;
    FUZZ_CHECK(payload.data() == stream.data() + kFrameHeader && payload.size() == length &&
               frameBytes == kFrameHeader + length);
    const std::string_view frame = stream.substr(0, frameBytes);
    std::string again;
    int accepted = 0;
    if (agentSide) {
      if (const auto request = decodeRequest(payload)) ++accepted, encodeRequest(*request, again);
    } else {
      Snapshot snap;
      if (decodeSnapshot(payload, snap))
        ++accepted, checkSnapshot(snap), encodeSnapshot(snap.sampleMs, snap.sequence, snap.samples, snap.counters, again);
      else
        FUZZ_CHECK(snap.samples.empty() && snap.counters.empty());
      if (const auto hello = decodeHello(payload)) ++accepted, encodeHello(*hello, again);
      if (const auto path = decodeImagePath(payload)) {
        ++accepted, encodeImagePath(path->pid, path->path, again);
        FUZZ_CHECK(path->path.size() <= kMaxPathUnits && (path->path.empty() || path->path[0] == u'/'));
      }
      if (const auto ms = decodeClock(payload)) ++accepted, encodeClock(*ms, again);
      if (const auto reported = decodeStatus(payload)) ++accepted, encodeStatus(*reported, again);
      if (const auto code = decodeError(payload)) ++accepted, encodeError(*code, again);
      HistoryChunk history;
      if (decodeHistory(payload, history)) {
        ++accepted, encodeHistory(history, again);
        std::uint64_t lastEnd = 0;
        for (const HistoryItem& item : history.items) {
          FUZZ_CHECK(item.endMs >= lastEnd && item.sample.contributors.size() <= 10);
          for (const Contributor& c : item.sample.contributors) FUZZ_CHECK(c.nameId < history.names.size());
          lastEnd = item.endMs;
        }
        FUZZ_CHECK(history.items.empty() ||
                   (history.firstSequence >= 1 && history.firstSequence + history.items.size() - 1 <= history.newestSequence));
      }
    }
    FUZZ_CHECK(accepted <= 1);
    if (accepted == 1) FUZZ_CHECK(again == frame);
    stream.remove_prefix(frameBytes);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const fuzz::ExactText input(fuzz::asText(data, size));
  walk(input.view(), true);
  walk(input.view(), false);

  // Encoder to decoder: up to 48 records of ascending pids and names of the input's bytes, any
  // length (cut to the limit on the way).
  std::vector<ProcessSample> samples;
  std::vector<ProcCounters> counters;
  for (std::uint32_t pid = 0; size > 0 && samples.size() < 48;) {
    ProcessSample& s = samples.emplace_back();
    s.pid = pid += 1 + fuzz::take<std::uint8_t>(data, size);
    s.createTime = fuzz::take<std::uint64_t>(data, size);
    s.imageGeneration = static_cast<std::uint32_t>(s.createTime >> 32);
    for (auto n = std::min<std::size_t>(fuzz::take<std::uint8_t>(data, size), size / 2); n > 0; --n)
      s.name.push_back(fuzz::take<char16_t>(data, size));
    ProcCounters& c = counters.emplace_back();
    std::uint64_t v = s.createTime ^ s.pid;  // twelve distinct values: a field misplaced shows
    for (IoCounters* io : {&c.allIo, &c.diskOnly})
      for (std::uint64_t* f : {&io->readOps, &io->writeOps, &io->otherOps, &io->readBytes, &io->writeBytes, &io->otherBytes})
        *f = v++;
    s.counters = c.allIo;
  }
  std::string frame;
  encodeSnapshot(7, samples.size(), samples, counters, frame);
  std::string_view payload;
  std::size_t frameBytes = 0;
  Snapshot back;
  FUZZ_CHECK(peekFrame(frame, kMaxReplyPayload, payload, frameBytes) == FrameStatus::Ready && frameBytes == frame.size());
  FUZZ_CHECK(decodeSnapshot(payload, back) && back.sampleMs == 7 && back.sequence == samples.size() &&
             back.samples.size() == samples.size() && back.counters.size() == samples.size());
  for (std::size_t i = 0; i < samples.size(); ++i) {
    const ProcessSample &a = samples[i], &b = back.samples[i];
    FUZZ_CHECK(b.pid == a.pid && b.name == std::u16string_view(a.name).substr(0, kMaxNameUnits));
    FUZZ_CHECK(b.createTime == a.createTime && b.imageGeneration == a.imageGeneration && b.counters == a.counters);
    FUZZ_CHECK(back.counters[i].allIo == counters[i].allIo && back.counters[i].diskOnly == counters[i].diskOnly);
  }
  return 0;
}
