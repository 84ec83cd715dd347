// The small /proc text parsers over any bytes: decimals, directory names, names to UTF-16 and
// executable link targets; and decimals and UTF-8 made from chosen values, read back exactly.
#include <charconv>
#include <limits>
#include <string>

#include "fuzz_support.h"
#include "procfs/proc_parse.h"

using namespace tessivo;

namespace {

void appendUtf8(std::uint32_t cp, std::string& out) {
  const auto put = [&out](std::uint32_t bits) { out.push_back(static_cast<char>(bits)); };
  if (cp < 0x80) return put(cp);
  if (cp < 0x800) return put(0xC0 | (cp >> 6)), put(0x80 | (cp & 0x3F));
  if (cp < 0x10000) return put(0xE0 | (cp >> 12)), put(0x80 | ((cp >> 6) & 0x3F)), put(0x80 | (cp & 0x3F));
  put(0xF0 | (cp >> 18)), put(0x80 | ((cp >> 12) & 0x3F)), put(0x80 | ((cp >> 6) & 0x3F)), put(0x80 | (cp & 0x3F));
}

void appendUtf16(std::uint32_t cp, std::u16string& out) {
  if (cp < 0x10000) return out.push_back(static_cast<char16_t>(cp));
  out.push_back(static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10)));
  out.push_back(static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF)));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view raw = fuzz::asText(data, size);
  // The leading digits, exactly, or 2^64 - 1 when they are more than 64 bits hold.
  std::size_t used = size + 1;
  const auto value = parseDecimal(raw, &used);
  const std::size_t digits = std::min(raw.find_first_not_of("0123456789"), size);
  FUZZ_CHECK(used == digits && value.has_value() == (digits > 0));
  std::uint64_t exact = 0;
  const auto [end, error] = std::from_chars(raw.data(), raw.data() + digits, exact);
  if (value) FUZZ_CHECK(*value == (error == std::errc{} ? exact : std::numeric_limits<std::uint64_t>::max()));
  // A pid exactly when the name is a 32-bit number's own decimal form.
  const bool pidName = value && digits == size && *value != 0 && *value <= std::numeric_limits<std::uint32_t>::max() &&
                       std::to_string(*value) == raw;
  FUZZ_CHECK(parsePidName(raw) == (pidName ? *value : 0));

  // At most one UTF-16 unit per byte, reusing storage; where nothing was replaced, lossless.
  std::u16string name = u"a stale name longer than most";
  assignUtf8(raw, name);
  FUZZ_CHECK(name.size() <= size);
  std::string back;
  bool replaced = false;
  for (std::size_t i = 0; i < name.size(); ++i) {
    std::uint32_t cp = name[i];
    FUZZ_CHECK(cp < 0xDC00 || cp > 0xDFFF);  // no low surrogate alone
    if (cp >= 0xD800 && cp <= 0xDBFF) {
      FUZZ_CHECK(i + 1 < name.size() && name[i + 1] >= 0xDC00 && name[i + 1] <= 0xDFFF);
      cp = 0x10000 + ((cp - 0xD800) << 10) + (name[++i] - 0xDC00u);
    }
    replaced = replaced || cp == 0xFFFD;
    appendUtf8(cp, back);
  }
  if (!replaced) FUZZ_CHECK(back == raw);

  // A link target whole, or without the kernel's " (deleted)" when something is left before it.
  const std::string_view link = withoutDeletedSuffix(raw);
  const bool deleted = size > 10 && raw.ends_with(" (deleted)");
  FUZZ_CHECK(link.data() == raw.data() && link.size() == size - (deleted ? 10 : 0));

  // Chosen values: a decimal of 20 digits at most, and code points of three bytes each.
  const auto chosen = fuzz::take<std::uint64_t>(data, size);
  const fuzz::ExactText decimal(std::to_string(chosen));
  FUZZ_CHECK(parseDecimal(decimal.view(), &used) == chosen && used == decimal.view().size());
  std::string utf8;
  std::u16string utf16;
  while (size >= 3) {
    const std::uint32_t cp = (data[0] | (data[1] << 8) | (data[2] << 16)) % 0x110000u;
    data += 3;
    size -= 3;
    if (cp < 0xD800 || cp > 0xDFFF) appendUtf8(cp, utf8), appendUtf16(cp, utf16);
  }
  assignUtf8(fuzz::ExactText(utf8).view(), name);
  FUZZ_CHECK(name == utf16);
  return 0;
}
