#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "hooks/JSONValue.h"

namespace tallyloft {

// A strict JSON (RFC 8259) reader over UTF-8 text, for the hook server's hot path.
//
// Rejects anything a conforming parser rejects: invalid UTF-8, control characters in strings,
// lone surrogate escapes, leading zeros, trailing commas, and any bytes after the document but
// whitespace. Numbers become 64-bit floats; one too large for a float is rejected, one too small
// becomes zero. Nesting
// deeper than kMaxDepth is rejected rather than risking the stack. Duplicate object keys keep
// the last value.
class JsonReader {
 public:
  static constexpr int kMaxDepth = 512;

  explicit JsonReader(std::string_view text) : text_(text) {}

  // Reads one value into `out` (or only checks it when `out` is null). `depth` is the number of
  // containers around it.
  bool readValue(JSONValue* out, int depth = 0) { return value(out, depth); }
  // The next non-blank byte, or 0 at the end; does not consume it.
  char peek();
  // Consumes `expected` after blanks.
  bool consume(char expected);
  // Reads a string (after blanks) into `out`, or only checks it when `out` is null.
  bool readString(std::string* out);
  // True when only blanks are left.
  bool atEnd() { return peek() == 0 && pos_ == text_.size(); }

  // For object members: call `member(key)` for each key; it must read the member's value.
  template <typename Member>
  bool readObject(Member member, int depth = 0);

 private:
  bool value(JSONValue* out, int depth);
  bool number(JSONValue* out);
  bool literal(std::string_view word);
  bool escape(std::string* out);
  void skipBlanks();

  std::string_view text_;
  std::size_t pos_ = 0;
};

// Parses a whole document into a JSONValue.
std::optional<JSONValue> parseJson(std::string_view text);

template <typename Member>
bool JsonReader::readObject(Member member, int depth) {
  if (depth >= kMaxDepth || !consume('{')) return false;
  if (consume('}')) return true;
  std::string key;
  for (;;) {
    if (!readString(&key) || !consume(':') || !member(key)) return false;
    if (consume(',')) continue;
    return consume('}');
  }
}

}  // namespace tallyloft
