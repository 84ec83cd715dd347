// UTF-16 helpers that behave identically on every platform: the program never
// consults the user's locale.
#pragma once

#include <string>
#include <string_view>

namespace tessivo {

// Folds only A-Z, as the classic locale's towlower does.
constexpr char16_t foldAscii(char16_t c) noexcept {
  return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c + (u'a' - u'A')) : c;
}

// Three-way comparison with _wcsicmp's rules under the classic locale:
// unit by unit after folding A-Z, a prefix is the smaller. Negative, 0 or positive.
int compareNoCase(std::u16string_view a, std::u16string_view b) noexcept;

// Replaces out with text folded unit by unit (reusing out's storage).
void foldAsciiInto(std::u16string_view text, std::u16string& out);

// Widens ASCII text (digits, units, punctuation) to UTF-16.
std::u16string widenAscii(std::string_view ascii);
void appendAscii(std::u16string& out, std::string_view ascii);

// UTF-8 to UTF-16 and back, for tests, benchmarks and diagnostics.
std::u16string fromUtf8(std::string_view utf8);
std::string toUtf8(std::u16string_view utf16);

}  // namespace tessivo
