// The runtime's text and number operations, with the launcher's semantics:
// positions are 1-based byte positions; -1 means "not found".
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// 1-based position of the first occurrence at or after start; -1 when absent;
// 1 when sought is empty and text is not.
int FindText(std::string_view text, std::string_view sought, int start = 1, bool ignoreCase = false);
// 1-based position of the last occurrence that starts before the limit
// (default: the whole text); -1 when absent.
int FindTextBackward(std::string_view text, std::string_view sought, int limit = -1,
                     bool ignoreCase = false);
// Empty pieces stay; an empty text gives no pieces; maxCount < 0 = unlimited.
std::vector<std::string> SplitText(std::string_view text, std::string_view delimiter = ",",
                                   int maxCount = -1);
std::string LeftText(std::string_view text, long long n);
std::string RightText(std::string_view text, long long n);
// ASCII letters only; other bytes untouched.
std::string LowerText(std::string_view text);

// Full-width digits, signs and spaces are made half-width first; then leading
// white space is skipped and an optional sign and decimal digits are read.
std::int32_t ToInteger(std::string_view text);
std::int64_t ToLongInteger(std::string_view text);

// printf "%.6g" and "%.13g", independent of the C locale.
std::string FloatToText(float value);
std::string DoubleToText(double value);

// Half away from zero; a value within 1e-12 below a half rounds up. Negative
// decimals round to tens, hundreds...
double RoundTo(double value, int decimals = 0);

// Text after the last "/" (the whole text when it has none).
std::string TextAfterLastSlash(std::string_view url);

}  // namespace platform
