#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tallyloft {

// The largest body a hook post may announce, and the most bytes a connection may buffer while
// waiting for a usable request.
inline constexpr std::int64_t kMaxContentLength = 8 * 1024 * 1024;
inline constexpr std::size_t kMaxBufferedBytes = 8 * 1024 * 1024;

// What the bytes received so far on one connection amount to.
struct Parse {
  enum class Kind { complete, incomplete, malformed };
  Kind kind = Kind::incomplete;
  std::string body;  // exactly the announced length; only for `complete`

  friend bool operator==(const Parse&, const Parse&) = default;
};

// Parses everything received so far on one connection. Pure.
//
// `incomplete` until CR LF CR LF has arrived and the announced body after it. `malformed` when
// the header block is not UTF-8, or its Content-Length is above kMaxContentLength or negative.
// Only Content-Length is read (any letter case, blanks around name and value, a leading "+"
// allowed, the last one wins); a value that is not a decimal number counts as 0. Bytes past the
// announced body are ignored.
Parse parseBody(std::string_view data);

// The content length announced by a header block (the bytes before CR LF CR LF), or nothing when
// the block makes the request `malformed`.
std::optional<std::int64_t> contentLengthOf(std::string_view headerBlock);

// Whether a header block has a field named `lowerName` (compared without letter case).
bool hasHeaderField(std::string_view headerBlock, std::string_view lowerName);

// The value of the last field named `lowerName` (compared without letter case), without the
// blanks around it; nothing when there is no such field.
std::optional<std::string_view> headerValue(std::string_view headerBlock,
                                            std::string_view lowerName);

// Assembles one request from successive receives without re-scanning what it has already seen.
// After each `append`, `kind()` and `body()` equal what parseBody gives for all bytes so far.
class RequestAssembler {
 public:
  Parse::Kind append(std::string_view bytes);
  // Starts over with nothing received, keeping the buffer's storage.
  void reset();
  Parse::Kind kind() const { return kind_; }
  // The body of a `complete` request; a view into the buffer, valid until the next append.
  std::string_view body() const;
  // The bytes before CR LF CR LF, once they have arrived.
  std::string_view headerBlock() const;
  std::size_t bufferedBytes() const { return buffer_.size(); }

 private:
  std::string buffer_;
  std::size_t scanFrom_ = 0;
  std::optional<std::size_t> bodyStart_;
  std::int64_t contentLength_ = 0;
  Parse::Kind kind_ = Parse::Kind::incomplete;
};

}  // namespace tallyloft
