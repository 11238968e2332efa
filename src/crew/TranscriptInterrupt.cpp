#include "crew/TranscriptInterrupt.h"

#include <array>
#include <charconv>

#include "crew/ContextTokens.h"

namespace tallyloft {
namespace {

bool isInterruptLine(std::string_view line) {
  // With their quotes, so that a tool's output quoting them (inside a JSON string, where quotes
  // are escaped) does not count.
  static constexpr std::array<std::string_view, 3> kMarkers = {
      "\"text\":\"[Request interrupted by user", "\"type\":\"turn_aborted\"",
      "\"content\":\"Request cancelled.\""};
  for (std::string_view marker : kMarkers) {
    if (line.find(marker) != std::string_view::npos) return true;
  }
  return false;
}

std::optional<int> digits(std::string_view text, std::size_t at, std::size_t count) {
  if (at + count > text.size()) return std::nullopt;
  int value = 0;
  const auto [end, error] = std::from_chars(text.data() + at, text.data() + at + count, value);
  if (error != std::errc() || end != text.data() + at + count) return std::nullopt;
  return value;
}

// Days from 1970-01-01 to a civil date (proleptic Gregorian).
std::int64_t daysFromCivil(int year, int month, int day) {
  year -= month <= 2 ? 1 : 0;
  const int era = (year >= 0 ? year : year - 399) / 400;
  const int yearOfEra = year - era * 400;
  const int dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const int dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return static_cast<std::int64_t>(era) * 146097 + dayOfEra - 719468;
}

}  // namespace

std::optional<std::chrono::system_clock::time_point> parseUtcTimestamp(std::string_view text) {
  // YYYY-MM-DDTHH:MM:SS
  if (text.size() < 19 || text[4] != '-' || text[7] != '-' || text[10] != 'T' || text[13] != ':' ||
      text[16] != ':') {
    return std::nullopt;
  }
  const auto year = digits(text, 0, 4), month = digits(text, 5, 2), day = digits(text, 8, 2);
  const auto hour = digits(text, 11, 2), minute = digits(text, 14, 2), second = digits(text, 17, 2);
  if (!year || !month || !day || !hour || !minute || !second || *month < 1 || *month > 12 ||
      *day < 1 || *day > 31 || *hour > 23 || *minute > 59 || *second > 60) {
    return std::nullopt;
  }
  std::int64_t millis = 0;
  std::size_t at = 19;
  if (at < text.size() && text[at] == '.') {
    int scale = 100;
    for (++at; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at) {
      millis += (text[at] - '0') * scale;
      scale /= 10;
    }
  }
  if (at < text.size() && text[at] != 'Z') return std::nullopt;
  const std::int64_t seconds =
      daysFromCivil(*year, *month, *day) * 86400 + *hour * 3600 + *minute * 60 + *second;
  return std::chrono::system_clock::time_point(
      std::chrono::duration_cast<std::chrono::system_clock::duration>(
          std::chrono::milliseconds(seconds * 1000 + millis)));
}

std::optional<std::chrono::system_clock::time_point> lastInterruptIn(std::string_view tail) {
  std::size_t end = tail.size();
  while (end > 0) {
    const std::size_t newline = tail.rfind('\n', end - 1);
    const std::size_t start = newline == std::string_view::npos ? 0 : newline + 1;
    const std::string_view line = tail.substr(start, end - start);
    if (isInterruptLine(line)) {
      static constexpr std::string_view kKey = "\"timestamp\":\"";
      const std::size_t key = line.find(kKey);
      if (key == std::string_view::npos) return std::nullopt;
      const std::size_t value = key + kKey.size();
      const std::size_t quote = line.find('"', value);
      if (quote == std::string_view::npos) return std::nullopt;
      return parseUtcTimestamp(line.substr(value, quote - value));
    }
    if (newline == std::string_view::npos) break;
    end = newline;
  }
  return std::nullopt;
}

std::optional<std::chrono::system_clock::time_point> lastInterrupt(const std::string& path) {
  const auto tail = readTranscriptTail(path, kInterruptTailBytes);
  if (!tail) return std::nullopt;
  return lastInterruptIn(tail->first);
}

}  // namespace tallyloft
