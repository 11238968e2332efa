#include "cli/EventJson.h"

#include <cmath>
#include <ctime>
#include <nlohmann/json.hpp>

namespace tallyloft {
namespace {

using Json = nlohmann::ordered_json;

Json toJson(const JSONValue& value) {
  switch (value.kind()) {
    case JSONValue::Kind::string:
      return *value.asString();
    case JSONValue::Kind::number:
      return numberJson(*value.asNumber());
    case JSONValue::Kind::boolean:
      return *value.asBool();
    case JSONValue::Kind::object: {
      Json object = Json::object();
      for (const auto& [key, member] : *value.asObject()) object[key] = toJson(member);
      return object;
    }
    case JSONValue::Kind::array: {
      Json array = Json::array();
      for (const auto& element : *value.asArray()) array.push_back(toJson(element));
      return array;
    }
    case JSONValue::Kind::null:
      break;
  }
  return nullptr;
}

}  // namespace

Json numberJson(double number) {
  if (std::trunc(number) == number && std::fabs(number) < 9007199254740992.0) {
    return static_cast<std::int64_t>(number);
  }
  return number;
}

std::string iso8601(std::chrono::system_clock::time_point time) {
  using namespace std::chrono;
  const auto millis = duration_cast<milliseconds>(time.time_since_epoch()).count();
  const std::time_t seconds =
      static_cast<std::time_t>(millis >= 0 ? millis / 1000 : (millis - 999) / 1000);
  std::tm utc{};
  gmtime_r(&seconds, &utc);
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900,
                utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec,
                static_cast<int>(millis - static_cast<std::int64_t>(seconds) * 1000));
  return text;
}

std::string eventJsonLine(const HookEvent& event) {
  Json line = Json::object();
  line["hook_event_name"] = event.hookEventName;
  // The fourteen keys in their order; "tool_input" is the one that is not a string.
  const std::pair<const char*, const std::optional<std::string>*> fields[] = {
      {"session_id", &event.sessionId},
      {"transcript_path", &event.transcriptPath},
      {"cwd", &event.cwd},
      {"permission_mode", &event.permissionMode},
      {"agent_id", &event.agentId},
      {"agent_type", &event.agentType},
      {"tool_name", &event.toolName},
      {"tool_input", nullptr},
      {"prompt", &event.prompt},
      {"source", &event.source},
      {"model", &event.model},
      {"message", &event.message},
      {"trigger", &event.trigger}};
  for (const auto& [key, field] : fields) {
    if (field == nullptr) {
      if (event.toolInput) line[key] = toJson(JSONValue(*event.toolInput));
    } else if (*field) {
      line[key] = **field;
    }
  }
  line["receivedAt"] = iso8601(event.receivedAt);
  if (auto target = event.target()) line["target"] = *target;
  return line.dump(-1, ' ', false, Json::error_handler_t::replace);
}

}  // namespace tallyloft
