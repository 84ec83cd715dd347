#include "procfs/proc_parse.h"

#include <charconv>
#include <limits>

namespace tessivo {

std::optional<std::uint64_t> parseDecimal(std::string_view text, std::size_t* used) {
  constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();
  std::size_t i = 0;
  std::uint64_t value = 0;
  while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
    const auto digit = static_cast<std::uint64_t>(text[i] - '0');
    value = (value > (kMax - digit) / 10) ? kMax : value * 10 + digit;
    ++i;
  }
  if (used != nullptr) *used = i;
  if (i == 0) return std::nullopt;
  return value;
}

std::uint32_t parsePidName(std::string_view name) {
  if (name.empty() || name.size() > 10 || name[0] == '0') return 0;
  std::size_t used = 0;
  const auto value = parseDecimal(name, &used);
  if (!value || used != name.size() || *value > std::numeric_limits<std::uint32_t>::max()) return 0;
  return static_cast<std::uint32_t>(*value);
}

namespace {
constexpr std::uint64_t kKernelThreadFlag = 0x00200000;  // PF_KTHREAD
}  // namespace

std::optional<ProcStat> parseProcStat(std::string_view text) {
  const std::size_t open = text.find('(');
  const std::size_t close = text.rfind(')');
  if (open == std::string_view::npos || close == std::string_view::npos || close < open) return std::nullopt;
  ProcStat stat;
  stat.comm = text.substr(open + 1, close - open - 1);
  // Fields from the state (field 3) on are separated by single spaces; `at` is at the space
  // before the field being passed.
  std::size_t at = close + 1;
  const auto field = [&]() { return parseDecimal(text.substr(at + 1)).value_or(0); };
  for (int number = 3; number < 27; ++number) {
    if (at >= text.size() || text[at] != ' ') return number > 22 ? std::optional(stat) : std::nullopt;
    if (number == 4) stat.ppid = static_cast<std::uint32_t>(field());
    if (number == 9) stat.kernelThread = (field() & kKernelThreadFlag) != 0;
    if (number == 22) {
      const auto start = parseDecimal(text.substr(at + 1));
      if (!start) return std::nullopt;
      stat.startTime = *start;
    }
    at = text.find(' ', at + 1);
    if (at == std::string_view::npos) return number >= 22 ? std::optional(stat) : std::nullopt;
    if (number == 25) stat.startCode = field();
    if (number == 26) stat.endCode = field();
  }
  return stat;
}

bool ignoresSignal(std::string_view status, int number) {
  constexpr std::string_view kKey = "\nSigIgn:";
  const std::size_t at = status.find(kKey);
  if (at == std::string_view::npos || number < 1 || number > 64) return false;
  std::string_view hex = status.substr(at + kKey.size());
  while (!hex.empty() && (hex.front() == '\t' || hex.front() == ' ')) hex.remove_prefix(1);
  std::uint64_t mask = 0;
  for (std::size_t i = 0; i < hex.size() && i < 16; ++i) {
    const char c = hex[i];
    const int digit = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
    if (digit < 0) break;
    mask = mask << 4 | static_cast<std::uint64_t>(digit);
  }
  return (mask >> (number - 1) & 1u) != 0;
}

std::optional<ProcIo> parseProcIo(std::string_view text) {
  ProcIo io;
  bool any = false;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    const std::string_view line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
    const std::size_t colon = line.find(':');
    if (colon == std::string_view::npos) continue;
    const std::string_view key = line.substr(0, colon);
    std::string_view rest = line.substr(colon + 1);
    while (!rest.empty() && rest.front() == ' ') rest.remove_prefix(1);
    // A value that is not a whole decimal in range is no counter at all: taking "12x" as 12 or
    // an overlong number as 2^64-1 would make up a count the kernel never gave.
    std::uint64_t value = 0;
    const char* const last = rest.data() + rest.size();
    const auto [stop, error] = std::from_chars(rest.data(), last, value);
    if (error != std::errc{} || stop != last) continue;
    std::uint64_t* field = nullptr;
    if (key == "rchar") field = &io.rchar;
    else if (key == "wchar") field = &io.wchar;
    else if (key == "syscr") field = &io.syscr;
    else if (key == "syscw") field = &io.syscw;
    else if (key == "read_bytes") field = &io.readBytes;
    else if (key == "write_bytes") field = &io.writeBytes;
    if (field == nullptr) continue;
    *field = value;
    any = true;
  }
  if (!any) return std::nullopt;
  return io;
}

std::optional<std::uint32_t> parseLastPid(std::string_view loadavg) {
  while (!loadavg.empty() && (loadavg.back() == '\n' || loadavg.back() == ' ')) loadavg.remove_suffix(1);
  const std::size_t space = loadavg.rfind(' ');
  // Four fields before it, the fourth "running/total".
  if (space == std::string_view::npos || loadavg.substr(0, space).find('/') == std::string_view::npos) return std::nullopt;
  std::size_t used = 0;
  const std::string_view last = loadavg.substr(space + 1);
  const std::optional<std::uint64_t> pid = parseDecimal(last, &used);
  if (!pid || used != last.size() || *pid > std::numeric_limits<std::uint32_t>::max()) return std::nullopt;
  return static_cast<std::uint32_t>(*pid);
}

void assignUtf8(std::string_view s, std::u16string& out) {
  out.clear();
  std::size_t i = 0;
  const auto byte = [&s](std::size_t at) { return static_cast<unsigned char>(s[at]); };
  const auto continuation = [&](std::size_t at) { return at < s.size() && (byte(at) & 0xC0u) == 0x80u; };
  while (i < s.size()) {
    const unsigned c = byte(i);
    std::uint32_t cp = 0xFFFD;
    std::size_t len = 1;
    if (c < 0x80) {
      cp = c;
    } else if ((c >> 5) == 0x6 && continuation(i + 1)) {
      cp = ((c & 0x1Fu) << 6) | (byte(i + 1) & 0x3Fu);
      len = 2;
      if (cp < 0x80) cp = 0xFFFD;
    } else if ((c >> 4) == 0xE && continuation(i + 1) && continuation(i + 2)) {
      cp = ((c & 0x0Fu) << 12) | ((byte(i + 1) & 0x3Fu) << 6) | (byte(i + 2) & 0x3Fu);
      len = 3;
      if (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF)) cp = 0xFFFD;
    } else if ((c >> 3) == 0x1E && continuation(i + 1) && continuation(i + 2) && continuation(i + 3)) {
      cp = ((c & 0x07u) << 18) | ((byte(i + 1) & 0x3Fu) << 12) | ((byte(i + 2) & 0x3Fu) << 6) | (byte(i + 3) & 0x3Fu);
      len = 4;
      if (cp < 0x10000 || cp > 0x10FFFF) cp = 0xFFFD;
    }
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FFu)));
    } else {
      out.push_back(static_cast<char16_t>(cp));
    }
    i += len;
  }
}

void assignName(std::string_view utf8, std::u16string& out) {
  assignUtf8(utf8, out);
  for (char16_t& c : out) {
    if (c < 0x20) c = static_cast<char16_t>(0x2400 + c);
    else if (c == 0x7F) c = u'\u2421';
    else if (c >= 0x80 && c < 0xA0) c = u'\uFFFD';
  }
}

std::string_view withoutDeletedSuffix(std::string_view target) {
  constexpr std::string_view kDeleted = " (deleted)";
  if (target.size() > kDeleted.size() && target.ends_with(kDeleted)) target.remove_suffix(kDeleted.size());
  return target;
}

}  // namespace tessivo
