#include "hooks/RequestParser.h"

#include "base/Text.h"

#include <charconv>
#include <vector>

namespace tallyloft {
namespace {

constexpr std::string_view kTerminator = "\r\n\r\n";

std::string_view trimBlanks(std::string_view text) {
  const auto first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  const auto last = text.find_last_not_of(" \t");
  return text.substr(first, last - first + 1);
}

bool equalsLowered(std::string_view name, std::string_view lowerName) {
  if (name.size() != lowerName.size()) return false;
  for (std::size_t i = 0; i < name.size(); ++i) {
    char c = name[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != lowerName[i]) return false;
  }
  return true;
}

// Calls `visit(line)` for each CR LF separated line of a header block.
template <typename Visit>
void forEachLine(std::string_view block, Visit visit) {
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = block.find("\r\n", start);
    if (end == std::string_view::npos) {
      visit(block.substr(start));
      return;
    }
    visit(block.substr(start, end - start));
    start = end + 2;
  }
}

// A decimal integer with an optional sign, or 0 for anything else (including overflow).
std::int64_t decimalOrZero(std::string_view text) {
  if (text.empty()) return 0;
  bool negative = false;
  if (text.front() == '+' || text.front() == '-') {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  if (text.empty() || text.front() == '+' || text.front() == '-') return 0;
  std::uint64_t magnitude = 0;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), magnitude);
  if (error != std::errc() || end != text.data() + text.size()) return 0;
  constexpr auto kMax = static_cast<std::uint64_t>(INT64_MAX);
  if (negative) {
    if (magnitude > kMax + 1) return 0;
    return magnitude == kMax + 1 ? INT64_MIN : -static_cast<std::int64_t>(magnitude);
  }
  return magnitude > kMax ? 0 : static_cast<std::int64_t>(magnitude);
}

// Splits `line` at its first ":" into at most two non-empty pieces, skipping leading colons and
// dropping an empty remainder. Returns the value piece when there are exactly two.
std::optional<std::pair<std::string_view, std::string_view>> splitHeaderLine(
    std::string_view line) {
  std::size_t start = 0;
  while (start < line.size()) {
    const std::size_t colon = line.find(':', start);
    if (colon == std::string_view::npos) return std::nullopt;  // one piece only
    if (colon == start) {
      start = colon + 1;  // an empty piece before this colon is dropped
      continue;
    }
    std::string_view rest = line.substr(colon + 1);
    if (rest.empty()) return std::nullopt;
    return std::make_pair(line.substr(start, colon - start), rest);
  }
  return std::nullopt;
}

}  // namespace

std::optional<std::int64_t> contentLengthOf(std::string_view headerBlock) {
  if (!isValidUtf8(headerBlock)) return std::nullopt;
  std::int64_t length = 0;
  forEachLine(headerBlock, [&](std::string_view line) {
    if (auto pieces = splitHeaderLine(line)) {
      if (equalsLowered(trimBlanks(pieces->first), "content-length")) {
        length = decimalOrZero(trimBlanks(pieces->second));
      }
    }
  });
  if (length > kMaxContentLength || length < 0) return std::nullopt;
  return length;
}

bool hasHeaderField(std::string_view headerBlock, std::string_view lowerName) {
  bool found = false;
  forEachLine(headerBlock, [&](std::string_view line) {
    const std::size_t colon = line.find(':');
    if (colon != std::string_view::npos &&
        equalsLowered(trimBlanks(line.substr(0, colon)), lowerName)) {
      found = true;
    }
  });
  return found;
}

std::optional<std::string_view> headerValue(std::string_view headerBlock,
                                            std::string_view lowerName) {
  std::optional<std::string_view> value;
  forEachLine(headerBlock, [&](std::string_view line) {
    const std::size_t colon = line.find(':');
    if (colon != std::string_view::npos &&
        equalsLowered(trimBlanks(line.substr(0, colon)), lowerName)) {
      value = trimBlanks(line.substr(colon + 1));
    }
  });
  return value;
}

Parse parseBody(std::string_view data) {
  const std::size_t terminator = data.find(kTerminator);
  if (terminator == std::string_view::npos) return {};
  const auto length = contentLengthOf(data.substr(0, terminator));
  if (!length) return {Parse::Kind::malformed, {}};
  const std::string_view body = data.substr(terminator + kTerminator.size());
  if (body.size() < static_cast<std::size_t>(*length)) return {};
  return {Parse::Kind::complete, std::string(body.substr(0, static_cast<std::size_t>(*length)))};
}

Parse::Kind RequestAssembler::append(std::string_view bytes) {
  buffer_.append(bytes);
  if (kind_ != Parse::Kind::incomplete) return kind_;
  if (!bodyStart_) {
    const std::size_t terminator = std::string_view(buffer_).find(kTerminator, scanFrom_);
    if (terminator == std::string_view::npos) {
      // The terminator may straddle this receive and the next.
      scanFrom_ = buffer_.size() < kTerminator.size() ? 0 : buffer_.size() - kTerminator.size() + 1;
      return kind_;
    }
    const auto length = contentLengthOf(std::string_view(buffer_).substr(0, terminator));
    if (!length) return kind_ = Parse::Kind::malformed;
    bodyStart_ = terminator + kTerminator.size();
    contentLength_ = *length;
  }
  if (buffer_.size() - *bodyStart_ >= static_cast<std::size_t>(contentLength_)) {
    kind_ = Parse::Kind::complete;
  }
  return kind_;
}

void RequestAssembler::reset() {
  buffer_.clear();
  scanFrom_ = 0;
  bodyStart_.reset();
  contentLength_ = 0;
  kind_ = Parse::Kind::incomplete;
}

std::string_view RequestAssembler::headerBlock() const {
  if (!bodyStart_) return {};
  return std::string_view(buffer_).substr(0, *bodyStart_ - kTerminator.size());
}

std::string_view RequestAssembler::body() const {
  if (kind_ != Parse::Kind::complete) return {};
  return std::string_view(buffer_).substr(*bodyStart_, static_cast<std::size_t>(contentLength_));
}

}  // namespace tallyloft
