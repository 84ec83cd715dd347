#include "agent/agent_protocol.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace tessivo::agent {

namespace {

// Writes value little-endian at p and moves p past it. The reply to every snapshot request
// is written this way, a record at a time, rather than a byte at a time.
template <typename T>
void store(char*& p, T value) {
  if constexpr (std::endian::native == std::endian::little) {
    std::memcpy(p, &value, sizeof(T));
  } else {
    for (std::size_t i = 0; i < sizeof(T); ++i) p[i] = static_cast<char>((value >> (8 * i)) & 0xff);
  }
  p += sizeof(T);
}

void storeText(char*& p, std::u16string_view text) {
  store<std::uint16_t>(p, static_cast<std::uint16_t>(text.size()));
  if constexpr (std::endian::native == std::endian::little) {
    if (!text.empty()) std::memcpy(p, text.data(), 2 * text.size());
    p += 2 * text.size();
  } else {
    for (const char16_t unit : text) store<std::uint16_t>(p, unit);
  }
}

void storeCounters(char*& p, const IoCounters& c) {
  for (const std::uint64_t v : {c.readOps, c.writeOps, c.otherOps, c.readBytes, c.writeBytes, c.otherBytes})
    store<std::uint64_t>(p, v);
}

// Room for bytes more at the end of out.
char* extend(std::string& out, std::size_t bytes) {
  const std::size_t at = out.size();
  out.resize(at + bytes);
  return out.data() + at;
}

template <typename T>
void put(std::string& out, T value) {
  char* p = extend(out, sizeof(T));
  store(p, value);
}

// Starts a frame; finish() writes its length once the payload is in.
std::size_t begin(std::string& out, MessageType type) {
  const std::size_t at = out.size();
  out.append(kFrameHeader, '\0');
  out.push_back(static_cast<char>(type));
  return at;
}

void finish(std::string& out, std::size_t at) {
  const auto length = static_cast<std::uint32_t>(out.size() - at - kFrameHeader);
  for (std::size_t i = 0; i < kFrameHeader; ++i) out[at + i] = static_cast<char>((length >> (8 * i)) & 0xff);
}

// Bounds-checked reading of one payload; any overrun sets failed and yields zeros.
class Reader {
 public:
  explicit Reader(std::string_view data) : data_(data) {}

  template <typename T>
  T get() {
    if (failed_ || data_.size() - at_ < sizeof(T)) {
      failed_ = true;
      return 0;
    }
    T value = 0;
    if constexpr (std::endian::native == std::endian::little) {
      std::memcpy(&value, data_.data() + at_, sizeof(T));
    } else {
      for (std::size_t i = 0; i < sizeof(T); ++i)
        value |= static_cast<T>(static_cast<T>(static_cast<unsigned char>(data_[at_ + i])) << (8 * i));
    }
    at_ += sizeof(T);
    return value;
  }

  bool text(std::u16string& out, std::size_t maxUnits) {
    const std::size_t units = get<std::uint16_t>();
    if (failed_ || units > maxUnits || data_.size() - at_ < 2 * units) return fail();
    out.resize(units);
    if constexpr (std::endian::native == std::endian::little) {
      if (units > 0) std::memcpy(out.data(), data_.data() + at_, 2 * units);
      at_ += 2 * units;
    } else {
      for (std::size_t i = 0; i < units; ++i) out[i] = get<std::uint16_t>();
    }
    return true;
  }

  void counters(IoCounters& c) {
    for (std::uint64_t* v : {&c.readOps, &c.writeOps, &c.otherOps, &c.readBytes, &c.writeBytes, &c.otherBytes})
      *v = get<std::uint64_t>();
  }

  std::size_t left() const { return data_.size() - at_; }
  bool fail() {
    failed_ = true;
    return false;
  }
  // True when everything was read and nothing is left over.
  bool done() const { return !failed_ && at_ == data_.size(); }

 private:
  std::string_view data_;
  std::size_t at_ = 0;
  bool failed_ = false;
};

// A reader past the payload's type byte, when the type is the expected one.
std::optional<Reader> open(std::string_view payload, MessageType type) {
  if (payload.empty() || typeOf(payload) != type) return std::nullopt;
  return Reader(payload.substr(1));
}

}  // namespace

void encodeHello(const Hello& hello, std::string& out) {
  const std::size_t at = begin(out, MessageType::Hello);
  put<std::uint32_t>(out, kMagic);
  put<std::uint16_t>(out, hello.version);
  put<std::uint32_t>(out, hello.intervalMs);
  put<std::uint32_t>(out, hello.agentPid);
  finish(out, at);
}

void encodeRequest(const Request& request, std::string& out) {
  const std::size_t at = begin(out, request.type);
  if (request.type == MessageType::ImagePath) put<std::uint32_t>(out, request.pid);
  if (request.type == MessageType::History) {
    put<std::uint8_t>(out, static_cast<std::uint8_t>(request.source));
    put<std::uint8_t>(out, static_cast<std::uint8_t>(request.series));
    put<std::uint64_t>(out, request.after);
  }
  finish(out, at);
}

void encodeSnapshot(std::uint64_t sampleMs, std::uint64_t sequence, std::span<const ProcessSample> samples,
                    std::span<const ProcCounters> counters, std::string& out) {
  const std::size_t count = std::min({samples.size(), counters.size(), kMaxProcesses});
  out.reserve(out.size() + kFrameHeader + kSnapshotHeadBytes + count * (kRecordFixedBytes + 32));
  const std::size_t at = begin(out, MessageType::SnapshotReply);
  put<std::uint64_t>(out, sampleMs);
  put<std::uint64_t>(out, sequence);
  put<std::uint32_t>(out, static_cast<std::uint32_t>(count));
  for (std::size_t i = 0; i < count; ++i) {
    const ProcessSample& s = samples[i];
    const std::u16string_view name = std::u16string_view(s.name).substr(0, kMaxNameUnits);
    char* p = extend(out, kRecordFixedBytes + 2 * name.size());
    store<std::uint32_t>(p, s.pid);
    store<std::uint64_t>(p, s.createTime);
    store<std::uint32_t>(p, s.imageGeneration);
    storeCounters(p, counters[i].allIo);
    storeCounters(p, counters[i].diskOnly);
    storeText(p, name);
  }
  finish(out, at);
}

void encodeImagePath(std::uint32_t pid, std::u16string_view path, std::string& out) {
  const std::size_t at = begin(out, MessageType::ImagePathReply);
  put<std::uint32_t>(out, pid);
  // A path cut short would name another file: none rather than a wrong one.
  const std::u16string_view sent = path.size() <= kMaxPathUnits ? path : std::u16string_view();
  char* p = extend(out, 2 + 2 * sent.size());
  storeText(p, sent);
  finish(out, at);
}

void encodeClock(std::uint64_t nowMs, std::string& out) {
  const std::size_t at = begin(out, MessageType::ClockReply);
  put<std::uint64_t>(out, nowMs);
  finish(out, at);
}

void encodeStatus(const Status& status, std::string& out) {
  const std::size_t at = begin(out, MessageType::StatusReply);
  put<std::uint32_t>(out, status.flags);
  finish(out, at);
}

void encodeError(ErrorCode code, std::string& out) {
  const std::size_t at = begin(out, MessageType::ErrorReply);
  put<std::uint8_t>(out, static_cast<std::uint8_t>(code));
  finish(out, at);
}

void encodeHistory(const HistoryChunk& chunk, std::string& out) {
  const std::size_t names = std::min(chunk.names.size(), kMaxHistoryNames);
  const std::size_t items = std::min(chunk.items.size(), kMaxHistoryItems);
  const std::size_t at = begin(out, MessageType::HistoryReply);
  char* p = extend(out, kHistoryHeadBytes - 1);
  store<std::uint8_t>(p, static_cast<std::uint8_t>(chunk.source));
  store<std::uint8_t>(p, static_cast<std::uint8_t>(chunk.series));
  store<std::uint32_t>(p, chunk.intervalMs);
  store<std::uint32_t>(p, chunk.spanMs);
  store<std::uint64_t>(p, chunk.firstSequence);
  store<std::uint64_t>(p, chunk.newestSequence);
  store<std::uint16_t>(p, static_cast<std::uint16_t>(names));
  store<std::uint16_t>(p, static_cast<std::uint16_t>(items));
  for (std::size_t i = 0; i < names; ++i) {
    const std::u16string_view name = std::u16string_view(chunk.names[i]).substr(0, kMaxNameUnits);
    p = extend(out, 2 + 2 * name.size());
    storeText(p, name);
  }
  for (std::size_t i = 0; i < items; ++i) {
    const HistoryItem& item = chunk.items[i];
    const ContributorList& contributors = item.sample.contributors;
    p = extend(out, 8 + 8 + 8 + 1 + contributors.size() * (2 + 8 + 8));
    store<std::uint64_t>(p, item.endMs);
    store<std::uint64_t>(p, item.sample.readRate);
    store<std::uint64_t>(p, item.sample.writeRate);
    store<std::uint8_t>(p, static_cast<std::uint8_t>(contributors.size()));
    for (const Contributor& c : contributors) {
      store<std::uint16_t>(p, static_cast<std::uint16_t>(c.nameId));
      store<std::uint64_t>(p, c.readRate);
      store<std::uint64_t>(p, c.writeRate);
    }
  }
  finish(out, at);
}

FrameStatus peekFrame(std::string_view buffer, std::size_t maxPayload, std::string_view& payload,
                      std::size_t& frameBytes) {
  if (buffer.size() < kFrameHeader) return FrameStatus::NeedMore;
  std::uint32_t length = 0;
  for (std::size_t i = 0; i < kFrameHeader; ++i)
    length |= static_cast<std::uint32_t>(static_cast<unsigned char>(buffer[i])) << (8 * i);
  if (length == 0 || length > maxPayload) return FrameStatus::Invalid;
  if (buffer.size() - kFrameHeader < length) return FrameStatus::NeedMore;
  payload = buffer.substr(kFrameHeader, length);
  frameBytes = kFrameHeader + length;
  return FrameStatus::Ready;
}

std::optional<Hello> decodeHello(std::string_view payload) {
  std::optional<Reader> r = open(payload, MessageType::Hello);
  if (!r || r->get<std::uint32_t>() != kMagic) return std::nullopt;
  Hello hello;
  hello.version = r->get<std::uint16_t>();
  hello.intervalMs = r->get<std::uint32_t>();
  hello.agentPid = r->get<std::uint32_t>();
  if (!r->done()) return std::nullopt;
  return hello;
}

std::optional<Request> decodeRequest(std::string_view payload) {
  if (payload.empty()) return std::nullopt;
  Request request{typeOf(payload), 0};
  Reader r(payload.substr(1));
  switch (request.type) {
    case MessageType::Snapshot:
    case MessageType::Clock:
    case MessageType::Status:
      break;
    case MessageType::ImagePath:
      request.pid = r.get<std::uint32_t>();
      break;
    case MessageType::History: {
      const std::uint8_t source = r.get<std::uint8_t>();
      const std::uint8_t series = r.get<std::uint8_t>();
      if (source > 1 || series > 1) return std::nullopt;
      request.source = static_cast<ProcByteSource>(source);
      request.series = static_cast<HistorySeries>(series);
      request.after = r.get<std::uint64_t>();
      break;
    }
    default:
      return std::nullopt;
  }
  if (!r.done()) return std::nullopt;
  return request;
}

bool decodeSnapshot(std::string_view payload, Snapshot& out) {
  out.samples.clear();
  out.counters.clear();
  std::optional<Reader> r = open(payload, MessageType::SnapshotReply);
  if (!r) return false;
  out.sampleMs = r->get<std::uint64_t>();
  out.sequence = r->get<std::uint64_t>();
  const std::size_t count = r->get<std::uint32_t>();
  // The count must fit in what is left, before anything is allocated for it.
  if (count > kMaxProcesses || count > r->left() / kRecordFixedBytes) return false;
  out.samples.resize(count);
  out.counters.resize(count);
  std::uint32_t lastPid = 0;
  for (std::size_t i = 0; i < count; ++i) {
    ProcessSample& s = out.samples[i];
    s.pid = r->get<std::uint32_t>();
    s.createTime = r->get<std::uint64_t>();
    s.imageGeneration = r->get<std::uint32_t>();
    r->counters(out.counters[i].allIo);
    r->counters(out.counters[i].diskOnly);
    // Ascending, distinct, non-zero pids: what the tracker and the path cache rely on.
    if (!r->text(s.name, kMaxNameUnits) || s.pid <= lastPid) {
      out.samples.clear();
      out.counters.clear();
      return false;
    }
    lastPid = s.pid;
    s.counters = out.counters[i].allIo;
  }
  if (!r->done()) {
    out.samples.clear();
    out.counters.clear();
    return false;
  }
  return true;
}

std::optional<ImagePathReply> decodeImagePath(std::string_view payload) {
  std::optional<Reader> r = open(payload, MessageType::ImagePathReply);
  if (!r) return std::nullopt;
  ImagePathReply reply;
  reply.pid = r->get<std::uint32_t>();
  if (!r->text(reply.path, kMaxPathUnits) || !r->done()) return std::nullopt;
  // An absolute path or none.
  if (!reply.path.empty() && reply.path[0] != u'/') return std::nullopt;
  return reply;
}

std::optional<std::uint64_t> decodeClock(std::string_view payload) {
  std::optional<Reader> r = open(payload, MessageType::ClockReply);
  if (!r) return std::nullopt;
  const std::uint64_t ms = r->get<std::uint64_t>();
  if (!r->done()) return std::nullopt;
  return ms;
}

std::optional<Status> decodeStatus(std::string_view payload) {
  std::optional<Reader> r = open(payload, MessageType::StatusReply);
  if (!r) return std::nullopt;
  const Status status{r->get<std::uint32_t>()};
  if (!r->done() || (status.flags & ~Status::kKnownFlags) != 0) return std::nullopt;
  return status;
}

std::optional<ErrorCode> decodeError(std::string_view payload) {
  std::optional<Reader> r = open(payload, MessageType::ErrorReply);
  if (!r) return std::nullopt;
  const auto code = static_cast<ErrorCode>(r->get<std::uint8_t>());
  if (!r->done() || (code != ErrorCode::BadRequest && code != ErrorCode::NoSample)) return std::nullopt;
  return code;
}

namespace {

bool readHistory(std::string_view payload, HistoryChunk& out) {
  std::optional<Reader> r = open(payload, MessageType::HistoryReply);
  if (!r) return false;
  const std::uint8_t source = r->get<std::uint8_t>();
  const std::uint8_t series = r->get<std::uint8_t>();
  out.intervalMs = r->get<std::uint32_t>();
  out.spanMs = r->get<std::uint32_t>();
  out.firstSequence = r->get<std::uint64_t>();
  out.newestSequence = r->get<std::uint64_t>();
  const std::size_t names = r->get<std::uint16_t>();
  const std::size_t items = r->get<std::uint16_t>();
  if (source > 1 || series > 1 || names > kMaxHistoryNames || items > kMaxHistoryItems) return false;
  out.source = static_cast<ProcByteSource>(source);
  out.series = static_cast<HistorySeries>(series);
  // Sequence numbers start at 1 and the last item is at most the newest.
  if (items > 0 && (out.firstSequence == 0 || items > out.newestSequence ||
                    out.firstSequence - 1 > out.newestSequence - items))
    return false;
  // Every name and item takes bytes: the counts must fit in what is left before anything is made.
  if (names > r->left() / 2 || items > r->left() / 25) return false;
  out.names.resize(names);
  for (std::u16string& name : out.names)
    if (!r->text(name, kMaxNameUnits)) return false;
  out.items.resize(items);
  std::uint64_t lastEnd = 0;
  for (HistoryItem& item : out.items) {
    item.endMs = r->get<std::uint64_t>();
    item.sample.readRate = r->get<std::uint64_t>();
    item.sample.writeRate = r->get<std::uint64_t>();
    const std::size_t count = r->get<std::uint8_t>();
    if (count > ContributorList::kCapacity || item.endMs < lastEnd) return false;
    lastEnd = item.endMs;
    for (std::size_t c = 0; c < count; ++c) {
      Contributor contributor;
      contributor.nameId = r->get<std::uint16_t>();
      contributor.readRate = r->get<std::uint64_t>();
      contributor.writeRate = r->get<std::uint64_t>();
      if (contributor.nameId >= names) return false;
      item.sample.contributors.push_back(contributor);
    }
  }
  return r->done();
}

}  // namespace

bool decodeHistory(std::string_view payload, HistoryChunk& out) {
  out.names.clear();
  out.items.clear();
  if (readHistory(payload, out)) return true;
  out.names.clear();
  out.items.clear();
  return false;
}

}  // namespace tessivo::agent
