#include "hooks/JsonReader.h"

#include <charconv>
#include <cstdint>

namespace tallyloft {
namespace {

bool isDigit(char c) {
  return c >= '0' && c <= '9';
}

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

void appendUtf8(std::string& out, std::uint32_t codepoint) {
  if (codepoint < 0x80) {
    out.push_back(static_cast<char>(codepoint));
  } else if (codepoint < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (codepoint >> 6)));
    out.push_back(static_cast<char>(0x80 | (codepoint & 0x3F)));
  } else if (codepoint < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (codepoint >> 12)));
    out.push_back(static_cast<char>(0x80 | ((codepoint >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (codepoint & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (codepoint >> 18)));
    out.push_back(static_cast<char>(0x80 | ((codepoint >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((codepoint >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (codepoint & 0x3F)));
  }
}

// The length of the well-formed UTF-8 sequence starting at `text[pos]` (a byte >= 0x80), or 0.
std::size_t utf8SequenceLength(std::string_view text, std::size_t pos) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[pos + i]); };
  const std::size_t left = text.size() - pos;
  const unsigned char lead = byte(0);
  std::size_t length = 0;
  unsigned char low = 0x80;
  unsigned char high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;  // no surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (left < length || byte(1) < low || byte(1) > high) return 0;
  for (std::size_t i = 2; i < length; ++i) {
    if (byte(i) < 0x80 || byte(i) > 0xBF) return 0;
  }
  return length;
}

// The power of ten of a number's first significant digit (for "0.05e3", 1); only its sign
// matters, so a huge exponent saturates.
long long decimalExponent(std::string_view number) {
  if (!number.empty() && number.front() == '-') number.remove_prefix(1);
  const std::size_t e = number.find_first_of("eE");
  long long exponent = 0;
  if (e != std::string_view::npos) {
    std::string_view digits = number.substr(e + 1);
    const bool negative = !digits.empty() && digits.front() == '-';
    if (!digits.empty() && (digits.front() == '-' || digits.front() == '+'))
      digits.remove_prefix(1);
    for (char c : digits) exponent = std::min(exponent * 10 + (c - '0'), 1'000'000'000'000LL);
    if (negative) exponent = -exponent;
    number = number.substr(0, e);
  }
  const std::size_t dot = number.find('.');
  const std::string_view whole = number.substr(0, dot);
  const std::string_view fraction =
      dot == std::string_view::npos ? std::string_view() : number.substr(dot + 1);
  const std::size_t leading = whole.find_first_not_of('0');
  if (leading != std::string_view::npos)
    return exponent + static_cast<long long>(whole.size() - leading) - 1;
  const std::size_t zeros = fraction.find_first_not_of('0');
  if (zeros == std::string_view::npos) return -1;  // zero itself
  return exponent - static_cast<long long>(zeros) - 1;
}

}  // namespace

void JsonReader::skipBlanks() {
  while (pos_ < text_.size()) {
    const char c = text_[pos_];
    if (c != ' ' && c != '\n' && c != '\r' && c != '\t') return;
    ++pos_;
  }
}

char JsonReader::peek() {
  skipBlanks();
  return pos_ < text_.size() ? text_[pos_] : 0;
}

bool JsonReader::consume(char expected) {
  if (peek() != expected || pos_ >= text_.size()) return false;
  ++pos_;
  return true;
}

bool JsonReader::literal(std::string_view word) {
  if (text_.substr(pos_, word.size()) != word) return false;
  pos_ += word.size();
  return true;
}

bool JsonReader::value(JSONValue* out, int depth) {
  switch (peek()) {
    case '"': {
      if (out == nullptr) return readString(nullptr);
      std::string text;
      if (!readString(&text)) return false;
      *out = JSONValue(std::move(text));
      return true;
    }
    case '{': {
      JSONValue::Object object;
      const bool ok = readObject(
          [&](const std::string& key) {
            if (out == nullptr) return value(nullptr, depth + 1);
            JSONValue member;
            if (!value(&member, depth + 1)) return false;
            object.insert_or_assign(key, std::move(member));
            return true;
          },
          depth);
      if (ok && out != nullptr) *out = JSONValue(std::move(object));
      return ok;
    }
    case '[': {
      if (depth >= kMaxDepth) return false;
      ++pos_;
      JSONValue::Array array;
      if (!consume(']')) {
        for (;;) {
          JSONValue element;
          if (!value(out == nullptr ? nullptr : &element, depth + 1)) return false;
          if (out != nullptr) array.push_back(std::move(element));
          if (consume(',')) continue;
          if (!consume(']')) return false;
          break;
        }
      }
      if (out != nullptr) *out = JSONValue(std::move(array));
      return true;
    }
    case 't':
      if (!literal("true")) return false;
      if (out != nullptr) *out = JSONValue(true);
      return true;
    case 'f':
      if (!literal("false")) return false;
      if (out != nullptr) *out = JSONValue(false);
      return true;
    case 'n':
      if (!literal("null")) return false;
      if (out != nullptr) *out = JSONValue();
      return true;
    default:
      return number(out);
  }
}

bool JsonReader::number(JSONValue* out) {
  const std::size_t start = pos_;
  const auto digits = [&] {
    const std::size_t from = pos_;
    while (pos_ < text_.size() && isDigit(text_[pos_])) ++pos_;
    return pos_ - from;
  };
  if (pos_ < text_.size() && text_[pos_] == '-') ++pos_;
  if (pos_ >= text_.size()) return false;
  if (text_[pos_] == '0') {
    ++pos_;
  } else if (digits() == 0) {
    return false;
  }
  if (pos_ < text_.size() && text_[pos_] == '.') {
    ++pos_;
    if (digits() == 0) return false;
  }
  if (pos_ < text_.size() && (text_[pos_] == 'e' || text_[pos_] == 'E')) {
    ++pos_;
    if (pos_ < text_.size() && (text_[pos_] == '+' || text_[pos_] == '-')) ++pos_;
    if (digits() == 0) return false;
  }
  double parsed = 0;
  const char* first = text_.data() + start;
  const auto [end, error] = std::from_chars(first, text_.data() + pos_, parsed);
  if (error == std::errc::result_out_of_range) {
    // Too small for a double is zero; too large is no number at all.
    if (decimalExponent(text_.substr(start, pos_ - start)) > 0) return false;
    parsed = *first == '-' ? -0.0 : 0.0;
  } else if (error != std::errc() || end != text_.data() + pos_) {
    return false;
  }
  if (out == nullptr) return true;
  *out = JSONValue(parsed);
  return true;
}

bool JsonReader::readString(std::string* out) {
  if (!consume('"')) return false;
  if (out != nullptr) out->clear();
  for (;;) {
    // Copy the longest run of plain ASCII at once.
    std::size_t run = pos_;
    while (run < text_.size()) {
      const auto c = static_cast<unsigned char>(text_[run]);
      if (c == '"' || c == '\\' || c < 0x20 || c >= 0x80) break;
      ++run;
    }
    if (out != nullptr) out->append(text_.data() + pos_, run - pos_);
    pos_ = run;
    if (pos_ >= text_.size()) return false;
    const auto c = static_cast<unsigned char>(text_[pos_]);
    if (c == '"') {
      ++pos_;
      return true;
    }
    if (c == '\\') {
      ++pos_;
      if (!escape(out)) return false;
      continue;
    }
    if (c < 0x20) return false;
    const std::size_t length = utf8SequenceLength(text_, pos_);
    if (length == 0) return false;
    if (out != nullptr) out->append(text_.data() + pos_, length);
    pos_ += length;
  }
}

bool JsonReader::escape(std::string* out) {
  if (pos_ >= text_.size()) return false;
  const char kind = text_[pos_++];
  char plain = 0;
  switch (kind) {
    case '"':
      plain = '"';
      break;
    case '\\':
      plain = '\\';
      break;
    case '/':
      plain = '/';
      break;
    case 'b':
      plain = '\b';
      break;
    case 'f':
      plain = '\f';
      break;
    case 'n':
      plain = '\n';
      break;
    case 'r':
      plain = '\r';
      break;
    case 't':
      plain = '\t';
      break;
    case 'u':
      break;
    default:
      return false;
  }
  if (kind != 'u') {
    if (out != nullptr) out->push_back(plain);
    return true;
  }
  const auto hex4 = [&]() -> int {
    if (text_.size() - pos_ < 4) return -1;
    int value = 0;
    for (int i = 0; i < 4; ++i) {
      const int digit = hexValue(text_[pos_ + static_cast<std::size_t>(i)]);
      if (digit < 0) return -1;
      value = value * 16 + digit;
    }
    pos_ += 4;
    return value;
  };
  const int unit = hex4();
  if (unit < 0) return false;
  std::uint32_t codepoint = static_cast<std::uint32_t>(unit);
  if (unit >= 0xD800 && unit <= 0xDBFF) {
    if (text_.substr(pos_, 2) != "\\u") return false;
    pos_ += 2;
    const int low = hex4();
    if (low < 0xDC00 || low > 0xDFFF) return false;
    codepoint = 0x10000 + ((static_cast<std::uint32_t>(unit) - 0xD800) << 10) +
                (static_cast<std::uint32_t>(low) - 0xDC00);
  } else if (unit >= 0xDC00 && unit <= 0xDFFF) {
    return false;
  }
  if (out != nullptr) appendUtf8(*out, codepoint);
  return true;
}

std::optional<JSONValue> parseJson(std::string_view text) {
  JsonReader reader(text);
  JSONValue value;
  if (!reader.readValue(&value) || !reader.atEnd()) return std::nullopt;
  return value;
}

}  // namespace tallyloft
