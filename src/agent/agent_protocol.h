// The agent's socket protocol. Every message is one frame: a 32-bit little-endian payload
// length, then the payload, whose first byte is the message type. All integers are
// little-endian; text is UTF-16LE code units after a 16-bit unit count.
//
//   agent -> client, once on connect:  Hello     magic "TSVA", version, interval ms, agent pid
//   client -> agent:                   Snapshot  (no body)
//                                      ImagePath pid
//                                      Clock     (no body)
//                                      Status    (no body)
//                                      History   byte source, series, after
//   agent -> client, one per request:  SnapshotReply  sample ms, sequence, count, records
//                                      ImagePathReply pid, path
//                                      ClockReply     monotonic ms
//                                      StatusReply    flags
//                                      HistoryReply   a stretch of the chart's history
//                                      ErrorReply     code
//
// Later additions are new request types, so that both ends of different versions work
// together: an agent answers a type it does not know with ErrorReply BadRequest and keeps
// the connection, and the client then does without what it asked for.
//
// A snapshot record: pid, createTime, imageGeneration, both byte sources' six counters,
// name. A history reply: byte source, series, interval ms, item span ms, the sequence
// numbers of its first item and of the agent's newest, its own table of names, then per item
// its end ms, read and write rate and up to ten contributors (name index, read, write). A
// client asks for the items after the last one it has until it has the newest, so the
// history goes over in frames of at most kMaxHistoryItems items. Decoders accept exactly what the encoders write and nothing else: both ends treat
// the other's bytes as hostile.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "chart/chart_sample.h"
#include "core/types.h"
#include "procfs/proc_system.h"

namespace tessivo::agent {

inline constexpr std::uint32_t kMagic = 0x41565354;  // "TSVA"
inline constexpr std::uint16_t kVersion = 1;
inline constexpr char kDefaultSocketPath[] = "/run/tessivo/agent.sock";

inline constexpr std::size_t kFrameHeader = 4;
inline constexpr std::size_t kMaxRequestPayload = 16;
inline constexpr std::size_t kMaxProcesses = 1 << 17;  // more processes than any real system runs
// A name is the program's file name (or the kernel's 15-byte short name). Longer names are
// cut to this on the wire, which older clients also accept.
inline constexpr std::size_t kMaxNameUnits = 64;
inline constexpr std::size_t kMaxPathUnits = 4096;  // PATH_MAX
inline constexpr std::size_t kRecordFixedBytes = 4 + 8 + 4 + 12 * 8 + 2;
inline constexpr std::size_t kSnapshotHeadBytes = 1 + 8 + 8 + 4;
inline constexpr std::size_t kMaxReplyPayload =
    kSnapshotHeadBytes + kMaxProcesses * (kRecordFixedBytes + 2 * kMaxNameUnits);
inline constexpr std::size_t kMaxHistoryItems = 512;
inline constexpr std::size_t kMaxHistoryNames = kMaxHistoryItems * ContributorList::kCapacity;
inline constexpr std::size_t kHistoryHeadBytes = 1 + 1 + 1 + 4 + 4 + 8 + 8 + 2 + 2;
inline constexpr std::size_t kHistoryItemBytes = 8 + 8 + 8 + 1 + ContributorList::kCapacity * (2 + 8 + 8);
// Under 1 MiB however long the names: a frame never holds up a snapshot for long.
inline constexpr std::size_t kMaxHistoryPayload =
    kHistoryHeadBytes + kMaxHistoryNames * (2 + 2 * kMaxNameUnits) + kMaxHistoryItems * kHistoryItemBytes;
static_assert(kMaxHistoryPayload < (1u << 20) && kMaxHistoryPayload < kMaxReplyPayload);

enum class MessageType : std::uint8_t {
  Hello = 0x01,
  Snapshot = 0x10,
  ImagePath = 0x11,
  Clock = 0x12,
  Status = 0x13,
  History = 0x14,
  SnapshotReply = 0x20,
  ImagePathReply = 0x21,
  ClockReply = 0x22,
  StatusReply = 0x23,
  HistoryReply = 0x24,
  ErrorReply = 0x2f,
};

enum class ErrorCode : std::uint8_t { BadRequest = 1, NoSample = 2 };

struct Hello {
  std::uint16_t version = kVersion;
  std::uint32_t intervalMs = 0;
  std::uint32_t agentPid = 0;
  friend bool operator==(const Hello&, const Hello&) = default;
};

// What the agent says of itself beyond the greeting.
struct Status {
  // Bits of flags.
  static constexpr std::uint32_t kPartial = 1u << 0;  // capabilities missing: other users' counters unreadable
  static constexpr std::uint32_t kKnownFlags = kPartial;
  std::uint32_t flags = 0;
  bool partial() const { return (flags & kPartial) != 0; }
  friend bool operator==(const Status&, const Status&) = default;
};

enum class HistorySeries : std::uint8_t { Live = 0, Minutes = 1 };

struct Request {
  MessageType type = MessageType::Snapshot;
  std::uint32_t pid = 0;  // ImagePath only
  // History only: which history, and the sequence number after which its items are wanted
  // (0: from the oldest).
  ProcByteSource source = ProcByteSource::AllIo;
  HistorySeries series = HistorySeries::Minutes;
  std::uint64_t after = 0;
  friend bool operator==(const Request&, const Request&) = default;
};

// One item of a history on the wire: a chart sample whose contributors' nameIds index the
// frame's own name table, and the agent's clock when it was recorded.
struct HistoryItem {
  std::uint64_t endMs = 0;
  ChartSample sample;
};

// A stretch of consecutive items of one of the agent's histories.
struct HistoryChunk {
  ProcByteSource source = ProcByteSource::AllIo;
  HistorySeries series = HistorySeries::Minutes;
  std::uint32_t intervalMs = 0;  // the agent's refresh interval
  std::uint32_t spanMs = 0;      // the time one item stands for
  std::uint64_t firstSequence = 0;   // of items[0]; items are numbered from 1 in recording order
  std::uint64_t newestSequence = 0;  // of the agent's newest item (0: none yet)
  std::vector<std::u16string> names;
  std::vector<HistoryItem> items;  // oldest first
};

struct Snapshot {
  std::uint64_t sampleMs = 0;  // CLOCK_MONOTONIC ms when the agent took it
  std::uint64_t sequence = 0;  // counts the agent's snapshots
  std::vector<ProcessSample> samples;  // counters hold the all-I/O source
  std::vector<ProcCounters> counters;  // index-aligned
};

struct ImagePathReply {
  std::uint32_t pid = 0;
  std::u16string path;
};

// Encoders append one whole frame to out.
void encodeHello(const Hello& hello, std::string& out);
void encodeRequest(const Request& request, std::string& out);
// Samples beyond kMaxProcesses are left out; names and paths are cut to their limits.
void encodeSnapshot(std::uint64_t sampleMs, std::uint64_t sequence, std::span<const ProcessSample> samples,
                    std::span<const ProcCounters> counters, std::string& out);
void encodeImagePath(std::uint32_t pid, std::u16string_view path, std::string& out);
void encodeClock(std::uint64_t nowMs, std::string& out);
void encodeStatus(const Status& status, std::string& out);
void encodeError(ErrorCode code, std::string& out);
// At most kMaxHistoryItems items and kMaxHistoryNames names (kMaxNameUnits each) are sent:
// the caller keeps within them.
void encodeHistory(const HistoryChunk& chunk, std::string& out);

enum class FrameStatus { NeedMore, Ready, Invalid };

// The first frame of buffer: Ready with its payload and the bytes it spans, NeedMore while
// incomplete, Invalid for an empty or oversized payload (the stream cannot be resynchronised).
FrameStatus peekFrame(std::string_view buffer, std::size_t maxPayload, std::string_view& payload,
                      std::size_t& frameBytes);

// Decoders take one payload (type byte included); nullopt / false for anything malformed.
std::optional<Hello> decodeHello(std::string_view payload);
std::optional<Request> decodeRequest(std::string_view payload);
bool decodeSnapshot(std::string_view payload, Snapshot& out);
std::optional<ImagePathReply> decodeImagePath(std::string_view payload);
std::optional<std::uint64_t> decodeClock(std::string_view payload);
// Unknown flag bits are refused, so that an agent cannot claim what this side cannot show.
std::optional<Status> decodeStatus(std::string_view payload);
std::optional<ErrorCode> decodeError(std::string_view payload);
// Refuses contributors past ten or naming no name of the table, items not in recording
// order, and sequence numbers that do not add up.
bool decodeHistory(std::string_view payload, HistoryChunk& out);

inline MessageType typeOf(std::string_view payload) { return static_cast<MessageType>(payload[0]); }

}  // namespace tessivo::agent
