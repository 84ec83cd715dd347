// parseProcStat over any bytes, and over a well-formed stat line around any name (the kernel
// writes a name as it is: ")", spaces, newlines and invalid UTF-8 included).
// Input: the whole is one line; the start time (8 bytes) and the name (the rest) make the other.
#include <string>

#include "fuzz_support.h"
#include "procfs/proc_parse.h"

using namespace tessivo;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view raw = fuzz::asText(data, size);
  if (const auto stat = parseProcStat(raw)) {
    // The name is a view into the text between its first "(" and its last ")".
    FUZZ_CHECK(stat->comm.data() > raw.data() && stat->comm.data() + stat->comm.size() < raw.data() + size);
    const std::size_t at = static_cast<std::size_t>(stat->comm.data() - raw.data());
    FUZZ_CHECK(raw.find('(') == at - 1 && raw.rfind(')') == at + stat->comm.size());
  }

  const auto start = fuzz::take<std::uint64_t>(data, size);
  const std::string_view name = fuzz::asText(data, size);
  std::string line = "4242 (";
  line += name;
  line += ") S 1 4242 4242 0 -1 4194560 130 0 0 0 5 3 0 0 20 0 1 0 ";
  const std::size_t startAt = line.size();
  line += std::to_string(start) + " 8847360 797 18446744073709551615 1 1 0 0 0 0 0 4096 0 0 0 17 1 0 0 0 0\n";
  const fuzz::ExactText text(line);
  const auto stat = parseProcStat(text.view());
  FUZZ_CHECK(stat && stat->comm == name && stat->startTime == start);
  // A read cut short before the start time is no stat line.
  const fuzz::ExactText cut(std::string_view(line).substr(0, startAt - start % 2));
  FUZZ_CHECK(!parseProcStat(cut.view()));
  return 0;
}
