#include "crew/ClaudeSessionFile.h"

#include <charconv>
#include <cmath>

#include "hooks/JsonReader.h"

namespace tallyloft {
namespace {

const JSONValue* member(const JSONValue::Object& object, std::string_view key) {
  const auto it = object.find(key);
  return it == object.end() ? nullptr : &it->second;
}

const std::string* stringAt(const JSONValue::Object& object, std::string_view key) {
  const JSONValue* value = member(object, key);
  return value == nullptr ? nullptr : value->asString();
}

// A whole, non-negative number below 2^53.
std::optional<std::uint64_t> wholeAt(const JSONValue::Object& object, std::string_view key) {
  const JSONValue* value = member(object, key);
  if (value == nullptr) return std::nullopt;
  if (const double* number = value->asNumber()) {
    if (!(*number >= 0 && *number < 9007199254740992.0) || std::trunc(*number) != *number) {
      return std::nullopt;
    }
    return static_cast<std::uint64_t>(*number);
  }
  if (const std::string* text = value->asString()) {
    std::uint64_t parsed = 0;
    const auto [end, error] = std::from_chars(text->data(), text->data() + text->size(), parsed);
    if (error != std::errc() || end != text->data() + text->size() || text->empty()) {
      return std::nullopt;
    }
    return parsed;
  }
  return std::nullopt;
}

}  // namespace

std::optional<ClaudeSessionFile> ClaudeSessionFile::parse(std::string_view json) {
  const auto value = parseJson(json);
  const JSONValue::Object* object = value ? value->asObject() : nullptr;
  if (object == nullptr) return std::nullopt;
  const auto pid = wholeAt(*object, "pid");
  const std::string* sessionId = stringAt(*object, "sessionId");
  const std::string* status = stringAt(*object, "status");
  const JSONValue* pidValue = member(*object, "pid");
  if (!pid || *pid == 0 || pidValue->asNumber() == nullptr || sessionId == nullptr ||
      sessionId->empty() || status == nullptr) {
    return std::nullopt;
  }
  ClaudeSessionFile file;
  file.pid = static_cast<std::int64_t>(*pid);
  file.sessionId = *sessionId;
  file.status = *status;
  if (const std::string* cwd = stringAt(*object, "cwd")) file.cwd = *cwd;
  file.procStart = wholeAt(*object, "procStart");
  if (const auto updated = wholeAt(*object, "statusUpdatedAt")) {
    file.statusUpdatedAt = std::chrono::system_clock::time_point(
        std::chrono::duration_cast<std::chrono::system_clock::duration>(
            std::chrono::milliseconds(*updated)));
  }
  return file;
}

}  // namespace tallyloft
