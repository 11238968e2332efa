#include "hooks/HookEvent.h"

#include <utf8proc.h>

#include <nlohmann/json.hpp>
#include <random>

namespace tallyloft {
namespace {

using Json = nlohmann::json;

// The fourteen keys, in decoding order.
constexpr std::array<std::string_view, 14> kKeys = {
    "hook_event_name", "session_id", "transcript_path", "cwd",        "permission_mode",
    "agent_id",        "agent_type", "tool_name",       "tool_input", "prompt",
    "source",          "model",      "message",         "trigger"};
constexpr int kToolInput = 8;

int keyIndex(std::string_view key) {
  for (std::size_t i = 0; i < kKeys.size(); ++i) {
    if (kKeys[i] == key) return static_cast<int>(i);
  }
  return -1;
}

// Builds the record straight from the parser's events, so unknown members (tool responses,
// transcripts of background tasks) are skipped without building a tree for them.
class EventSax {
 public:
  bool null() { return scalar(JSONValue(), Type::null); }
  bool boolean(bool value) { return scalar(JSONValue(value), Type::other); }
  bool number_integer(Json::number_integer_t value) {
    return scalar(JSONValue(static_cast<double>(value)), Type::other);
  }
  bool number_unsigned(Json::number_unsigned_t value) {
    return scalar(JSONValue(static_cast<double>(value)), Type::other);
  }
  bool number_float(Json::number_float_t value, const Json::string_t&) {
    return scalar(JSONValue(static_cast<double>(value)), Type::other);
  }
  bool string(Json::string_t& value) {
    if (mode_ == Mode::build) {
      addBuilt(JSONValue(std::move(value)));
      return true;
    }
    if (mode_ == Mode::skip || depth_ == 0) return depth_ != 0;
    if (current_ < 0) return true;
    if (current_ == kToolInput) {
      setMistyped();
    } else {
      fields_[current_] = std::move(value);
      mistyped_[current_] = false;
    }
    return true;
  }
  bool binary(Json::binary_t&) { return false; }

  bool start_object(std::size_t) { return startContainer(true); }
  bool start_array(std::size_t) { return startContainer(false); }
  bool end_object() { return endContainer(); }
  bool end_array() { return endContainer(); }

  bool key(Json::string_t& key) {
    if (mode_ == Mode::build) {
      frames_.back().key = std::move(key);
    } else if (mode_ == Mode::top) {
      current_ = keyIndex(key);
    }
    return true;
  }

  bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) {
    return false;
  }

  std::optional<HookEvent> finish(std::chrono::system_clock::time_point now) {
    if (!sawObject_ || !fields_[0] || mistyped_[0]) return std::nullopt;
    for (bool bad : mistyped_) {
      if (bad) return std::nullopt;
    }
    HookEvent event;
    event.id = Uuid::random();
    event.receivedAt = now;
    event.hookEventName = std::move(*fields_[0]);
    std::optional<std::string>* targets[] = {
        nullptr,          &event.sessionId,      &event.transcriptPath,
        &event.cwd,       &event.permissionMode, &event.agentId,
        &event.agentType, &event.toolName,       nullptr,
        &event.prompt,    &event.source,         &event.model,
        &event.message,   &event.trigger};
    for (std::size_t i = 1; i < kKeys.size(); ++i) {
      if (targets[i] != nullptr) *targets[i] = std::move(fields_[i]);
    }
    event.toolInput = std::move(toolInput_);
    return event;
  }

 private:
  enum class Mode { top, skip, build };
  enum class Type { null, other };
  struct Frame {
    bool isObject;
    JSONValue::Object object;
    JSONValue::Array array;
    std::string key;
  };

  bool scalar(JSONValue value, Type type) {
    if (mode_ == Mode::build) {
      addBuilt(std::move(value));
      return true;
    }
    if (mode_ == Mode::skip) return true;
    if (depth_ == 0) return false;  // the document is not an object
    if (current_ < 0) return true;
    if (type == Type::null) {
      if (current_ == kToolInput) {
        toolInput_.reset();
      } else {
        fields_[current_].reset();
      }
      mistyped_[current_] = false;
    } else {
      setMistyped();
    }
    return true;
  }

  void setMistyped() {
    mistyped_[current_] = true;
    if (current_ == kToolInput) {
      toolInput_.reset();
    } else {
      fields_[current_].reset();
    }
  }

  bool startContainer(bool isObject) {
    if (mode_ == Mode::build) {
      frames_.push_back(Frame{isObject, {}, {}, {}});
      return true;
    }
    if (mode_ == Mode::skip) {
      ++skipDepth_;
      return true;
    }
    if (depth_ == 0) {
      if (!isObject) return false;
      depth_ = 1;
      sawObject_ = true;
      return true;
    }
    if (isObject && current_ == kToolInput) {
      mode_ = Mode::build;
      frames_.push_back(Frame{true, {}, {}, {}});
      return true;
    }
    if (current_ >= 0) setMistyped();
    mode_ = Mode::skip;
    skipDepth_ = 1;
    return true;
  }

  bool endContainer() {
    if (mode_ == Mode::skip) {
      if (--skipDepth_ == 0) mode_ = Mode::top;
      return true;
    }
    if (mode_ == Mode::build) {
      Frame frame = std::move(frames_.back());
      frames_.pop_back();
      if (frames_.empty()) {
        toolInput_ = std::move(frame.object);
        mistyped_[kToolInput] = false;
        mode_ = Mode::top;
      } else if (frame.isObject) {
        addBuilt(JSONValue(std::move(frame.object)));
      } else {
        addBuilt(JSONValue(std::move(frame.array)));
      }
      return true;
    }
    depth_ = 0;  // the top-level object closed
    return true;
  }

  void addBuilt(JSONValue value) {
    Frame& top = frames_.back();
    if (top.isObject) {
      top.object.insert_or_assign(std::move(top.key), std::move(value));
    } else {
      top.array.push_back(std::move(value));
    }
  }

  Mode mode_ = Mode::top;
  int depth_ = 0;
  bool sawObject_ = false;
  int current_ = -1;
  int skipDepth_ = 0;
  std::vector<Frame> frames_;
  std::array<std::optional<std::string>, kKeys.size()> fields_;
  std::array<bool, kKeys.size()> mistyped_{};
  std::optional<JSONValue::Object> toolInput_;
};

}  // namespace

Uuid Uuid::random() {
  thread_local std::mt19937_64 engine = [] {
    std::random_device device;
    std::seed_seq seed{device(), device(), device(), device(), device(), device()};
    return std::mt19937_64(seed);
  }();
  Uuid uuid;
  for (int half = 0; half < 2; ++half) {
    std::uint64_t bits = engine();
    for (int i = 0; i < 8; ++i)
      uuid.bytes[half * 8 + i] = static_cast<std::uint8_t>(bits >> (8 * i));
  }
  uuid.bytes[6] = static_cast<std::uint8_t>((uuid.bytes[6] & 0x0F) | 0x40);
  uuid.bytes[8] = static_cast<std::uint8_t>((uuid.bytes[8] & 0x3F) | 0x80);
  return uuid;
}

std::string Uuid::toString() const {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string text;
  text.reserve(36);
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (i == 4 || i == 6 || i == 8 || i == 10) text.push_back('-');
    text.push_back(kHex[bytes[i] >> 4]);
    text.push_back(kHex[bytes[i] & 0x0F]);
  }
  return text;
}

std::optional<HookEvent> HookEvent::decode(std::string_view json,
                                           std::chrono::system_clock::time_point now) {
  EventSax sax;
  if (!Json::sax_parse(json.begin(), json.end(), &sax)) return std::nullopt;
  return sax.finish(now);
}

std::optional<std::string> HookEvent::target() const {
  if (!toolInput) return std::nullopt;
  static constexpr std::string_view kTargetKeys[] = {"file_path", "path", "pattern",     "command",
                                                     "query",     "url",  "description", "prompt"};
  for (std::string_view key : kTargetKeys) {
    auto it = toolInput->find(std::string(key));
    if (it == toolInput->end()) continue;
    const std::string* text = it->second.asString();
    if (text != nullptr && !text->empty()) return truncateGraphemes(*text, 56);
  }
  return std::nullopt;
}

std::string truncateGraphemes(std::string_view text, std::size_t limit) {
  const auto* bytes = reinterpret_cast<const utf8proc_uint8_t*>(text.data());
  const auto size = static_cast<utf8proc_ssize_t>(text.size());
  utf8proc_ssize_t offset = 0;
  utf8proc_int32_t previous = -1;
  utf8proc_int32_t state = 0;
  std::size_t clusters = 0;
  while (offset < size) {
    utf8proc_int32_t codepoint = 0;
    utf8proc_ssize_t length = utf8proc_iterate(bytes + offset, size - offset, &codepoint);
    if (length <= 0) {
      // Not UTF-8: each stray byte stands alone.
      length = 1;
      codepoint = 0xFFFD;
      state = 0;
      previous = -1;
    }
    if (previous < 0 || utf8proc_grapheme_break_stateful(previous, codepoint, &state)) {
      if (++clusters > limit) {
        return std::string(text.substr(0, static_cast<std::size_t>(offset))) + "\u2026";
      }
    }
    previous = codepoint;
    offset += length;
  }
  return std::string(text);
}

}  // namespace tallyloft
