#include "base/Text.h"

#include <utf8proc.h>

namespace tallyloft {
namespace {

// Decodes the codepoint at `offset`; an ill-formed byte decodes as U+FFFD of length 1.
utf8proc_ssize_t next(std::string_view text, utf8proc_ssize_t offset, utf8proc_int32_t* codepoint,
                      bool* valid) {
  const auto* bytes = reinterpret_cast<const utf8proc_uint8_t*>(text.data());
  const utf8proc_ssize_t length = utf8proc_iterate(
      bytes + offset, static_cast<utf8proc_ssize_t>(text.size()) - offset, codepoint);
  *valid = length > 0;
  if (length > 0) return length;
  *codepoint = 0xFFFD;
  return 1;
}

bool isSpace(utf8proc_int32_t c) {
  if (c == ' ' || (c >= 0x09 && c <= 0x0D) || c == 0x85 || c == 0x2028 || c == 0x2029) return true;
  return c > 0x7F && utf8proc_category(c) == UTF8PROC_CATEGORY_ZS;
}

}  // namespace

std::string_view prefixGraphemes(std::string_view text, std::size_t limit) {
  // No more bytes than the limit means no more clusters either.
  if (text.size() <= limit) return text;
  // In ASCII without CR every byte is a cluster.
  bool plain = true;
  for (char c : text) plain = plain && static_cast<unsigned char>(c) < 0x80 && c != '\r';
  if (plain) return text.substr(0, limit);
  utf8proc_ssize_t offset = 0;
  utf8proc_int32_t previous = -1;
  utf8proc_int32_t state = 0;
  std::size_t clusters = 0;
  const auto size = static_cast<utf8proc_ssize_t>(text.size());
  while (offset < size) {
    utf8proc_int32_t codepoint = 0;
    bool valid = true;
    const utf8proc_ssize_t length = next(text, offset, &codepoint, &valid);
    const bool breaks =
        previous < 0 || !valid || utf8proc_grapheme_break_stateful(previous, codepoint, &state);
    if (breaks && ++clusters > limit) return text.substr(0, static_cast<std::size_t>(offset));
    // A stray byte stands alone: the next codepoint starts a new cluster.
    previous = valid ? codepoint : -1;
    if (!valid) state = 0;
    offset += length;
  }
  return text;
}

std::string truncateGraphemes(std::string_view text, std::size_t limit) {
  const std::string_view prefix = prefixGraphemes(text, limit);
  if (prefix.size() == text.size()) return std::string(text);
  return std::string(prefix) + "\u2026";
}

std::string_view trimWhitespace(std::string_view text) {
  // Leading spaces.
  utf8proc_ssize_t start = 0;
  const auto size = static_cast<utf8proc_ssize_t>(text.size());
  while (start < size) {
    utf8proc_int32_t c = 0;
    bool valid = true;
    const utf8proc_ssize_t length = next(text, start, &c, &valid);
    if (!valid || !isSpace(c)) break;
    start += length;
  }
  // Trailing spaces: remember where the last non-space codepoint ended.
  utf8proc_ssize_t end = start;
  for (utf8proc_ssize_t offset = start; offset < size;) {
    utf8proc_int32_t c = 0;
    bool valid = true;
    offset += next(text, offset, &c, &valid);
    if (!valid || !isSpace(c)) end = offset;
  }
  return text.substr(static_cast<std::size_t>(start), static_cast<std::size_t>(end - start));
}

std::string asciiLower(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return lower;
}

bool isValidUtf8(std::string_view text) {
  const auto size = static_cast<utf8proc_ssize_t>(text.size());
  for (utf8proc_ssize_t offset = 0; offset < size;) {
    if (static_cast<unsigned char>(text[static_cast<std::size_t>(offset)]) < 0x80) {
      ++offset;
      continue;
    }
    utf8proc_int32_t c = 0;
    bool valid = true;
    offset += next(text, offset, &c, &valid);
    if (!valid) return false;
  }
  return true;
}

std::string replaceInvalidUtf8(std::string_view text) {
  std::string repaired;
  repaired.reserve(text.size());
  const auto size = static_cast<utf8proc_ssize_t>(text.size());
  for (utf8proc_ssize_t offset = 0; offset < size;) {
    utf8proc_int32_t c = 0;
    bool valid = true;
    const utf8proc_ssize_t length = next(text, offset, &c, &valid);
    if (valid) {
      repaired.append(
          text.substr(static_cast<std::size_t>(offset), static_cast<std::size_t>(length)));
    } else {
      repaired += "\uFFFD";
    }
    offset += length;
  }
  return repaired;
}

}  // namespace tallyloft
