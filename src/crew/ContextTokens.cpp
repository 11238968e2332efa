#include "crew/ContextTokens.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>

#include "base/Text.h"
#include "hooks/JsonReader.h"

namespace tallyloft {
namespace {

// The last `kTranscriptTailBytes` of the regular file at `path`, and whether the file is longer.
std::optional<std::pair<std::string, bool>> readTail(const std::string& path) {
  // Non-blocking open: a FIFO must not wait for a writer. Only regular files are read.
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) return std::nullopt;
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    ::close(fd);
    return std::nullopt;
  }
  const std::int64_t size = info.st_size;
  const std::int64_t offset = size >= kTranscriptTailBytes ? size - kTranscriptTailBytes : 0;
  std::string tail(static_cast<std::size_t>(std::min(size, kTranscriptTailBytes)), '\0');
  std::size_t filled = 0;
  while (filled < tail.size()) {
    const ssize_t count = ::pread(fd, tail.data() + filled, tail.size() - filled,
                                  static_cast<off_t>(offset + static_cast<std::int64_t>(filled)));
    if (count < 0 && errno == EINTR) continue;
    if (count <= 0) break;  // the file shrank, or an error: use what arrived
    filled += static_cast<std::size_t>(count);
  }
  ::close(fd);
  tail.resize(filled);
  if (tail.empty()) return std::nullopt;
  return std::make_pair(std::move(tail), size > kTranscriptTailBytes);
}

// count(key): an integer as is, a float truncated, anything else 0; nothing when out of range.
std::optional<std::int64_t> count(const JSONValue::Object& usage, std::string_view key) {
  const auto it = usage.find(key);
  if (it == usage.end()) return 0;
  const double* value = it->second.asNumber();
  if (value == nullptr) return 0;
  const double truncated = std::trunc(*value);
  if (!(truncated >= -9223372036854775808.0 && truncated < 9223372036854775808.0)) {
    return std::nullopt;
  }
  return static_cast<std::int64_t>(truncated);
}

// The tokens of one transcript line, or nothing when it does not qualify.
std::optional<std::int64_t> lineTokens(std::string_view line) {
  if (line.find("\"usage\"") == std::string_view::npos) return std::nullopt;
  std::optional<JSONValue> parsed =
      isValidUtf8(line) ? parseJson(line) : parseJson(replaceInvalidUtf8(line));
  if (!parsed || !parsed->asObject()) return std::nullopt;
  const JSONValue::Object& record = *parsed->asObject();
  if (auto sidechain = record.find("isSidechain"); sidechain != record.end()) {
    if (const bool* flag = sidechain->second.asBool(); flag != nullptr && *flag)
      return std::nullopt;
  }
  const JSONValue::Object* usage = nullptr;
  if (auto message = record.find("message");
      message != record.end() && message->second.asObject()) {
    const auto& fields = *message->second.asObject();
    if (auto inner = fields.find("usage"); inner != fields.end()) usage = inner->second.asObject();
  }
  if (usage == nullptr) {
    if (auto top = record.find("usage"); top != record.end()) usage = top->second.asObject();
  }
  if (usage == nullptr) return std::nullopt;
  std::int64_t total = 0;
  for (std::string_view key :
       {"input_tokens", "cache_read_input_tokens", "cache_creation_input_tokens"}) {
    const auto value = count(*usage, key);
    if (!value || __builtin_add_overflow(total, *value, &total)) return std::nullopt;
  }
  if (total < 1) return std::nullopt;
  return total;
}

}  // namespace

std::optional<std::int64_t> contextTokens(const std::optional<std::string>& transcriptPath) {
  if (!transcriptPath || transcriptPath->empty()) return std::nullopt;
  auto tail = readTail(*transcriptPath);
  if (!tail) return std::nullopt;
  const std::string_view text = tail->first;
  // The cut may fall inside the first line of a longer file: that line is not used.
  const std::size_t firstLine = text.find_first_not_of('\n');
  const std::size_t skipFrom = tail->second ? firstLine : std::string_view::npos;
  // Newest lines first: the latest usage record usually ends the scan at once.
  std::size_t end = text.size();
  while (end > 0) {
    const std::size_t newline = text.rfind('\n', end - 1);
    const std::size_t start = newline == std::string_view::npos ? 0 : newline + 1;
    if (start < end && start != skipFrom) {
      if (auto tokens = lineTokens(text.substr(start, end - start))) return tokens;
    }
    if (newline == std::string_view::npos) break;
    end = newline;
  }
  return std::nullopt;
}

std::int64_t contextBracket(std::int64_t tokens) {
  if (tokens <= 200'000) return 200'000;
  if (tokens <= 400'000) return 400'000;
  if (tokens <= 1'000'000) return 1'000'000;
  return 2'000'000;
}

}  // namespace tallyloft
