#pragma once

#include <nlohmann/json.hpp>
#include <optional>

namespace tallyloft {

// The JSON documents the app prints: keys in the order they are written.
using OrderedJson = nlohmann::ordered_json;

// The value, or null when there is none. For .cpp files that write JSON documents.
template <typename T>
OrderedJson orNull(const std::optional<T>& value) {
  return value ? OrderedJson(*value) : OrderedJson(nullptr);
}

}  // namespace tallyloft
