// parseProcIo over any bytes, and over a well-formed io text rendered from chosen counters,
// with lines left out, in any order, between lines the parser must not take for counters.
// Input: six counters (8 bytes each), which lines are there (1), the first line (1), then bytes
// that are both the whole text of the first check and the garbage lines of the second.
#include <array>
#include <charconv>
#include <string>

#include "fuzz_support.h"
#include "procfs/proc_parse.h"

using namespace tessivo;

namespace {

constexpr std::array<std::string_view, 6> kKeys = {"rchar", "wchar", "syscr", "syscw", "read_bytes", "write_bytes"};

std::array<std::uint64_t, 6> fields(const ProcIo& io) {
  return {io.rchar, io.wchar, io.syscr, io.syscw, io.readBytes, io.writeBytes};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::array<std::uint64_t, 6> given{};
  for (auto& value : given) value = fuzz::take<std::uint64_t>(data, size);
  const auto present = fuzz::take<std::uint8_t>(data, size);
  const auto first = fuzz::take<std::uint8_t>(data, size);
  const std::string_view rest = fuzz::asText(data, size);

  // Any text: a counter line after it is read as given, and the counters it had stay.
  const auto before = parseProcIo(rest);
  const fuzz::ExactText more(std::string(rest) + "\nwchar: 7\n");
  const auto after = parseProcIo(more.view());
  auto expect = fields(before.value_or(ProcIo{}));
  expect[1] = 7;
  FUZZ_CHECK(after && fields(*after) == expect);

  // One counter line: its value is taken only when it is a whole decimal that fits 64 bits.
  std::string_view word = rest.substr(0, rest.find('\n'));
  while (!word.empty() && word.front() == ' ') word.remove_prefix(1);
  std::uint64_t whole = 0;
  const auto [stop, error] = std::from_chars(word.data(), word.data() + word.size(), whole);
  const fuzz::ExactText line("syscw: " + std::string(word));
  const auto one = parseProcIo(line.view());
  FUZZ_CHECK(one.has_value() == (error == std::errc{} && stop == word.data() + word.size()));
  if (one) FUZZ_CHECK(one->syscw == whole);

  // Rendered text: every counter exactly as given, 0 where its line is missing, none at all
  // when every line is.
  std::string garbage(rest);
  for (char& c : garbage) c = c == '\n' ? ' ' : c;
  std::string text;
  expect = {};
  for (std::size_t n = 0; n < kKeys.size(); ++n) {
    const std::size_t i = (first + n) % kKeys.size();
    if ((present >> i) & 1u) {
      text += std::string(kKeys[i]) + ": " + std::to_string(given[i]) + "\n";
      expect[i] = given[i];
    }
    text += (n % 2 == 0 ? "cancelled_write_bytes: " : "#") + garbage.substr(n * garbage.size() / 6, garbage.size() / 6) + "\n";
  }
  const fuzz::ExactText rendered(text);
  const auto io = parseProcIo(rendered.view());
  FUZZ_CHECK(io.has_value() == ((present & 0x3Fu) != 0));
  if (io) FUZZ_CHECK(fields(*io) == expect);
  return 0;
}
