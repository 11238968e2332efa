#pragma once

#include <map>
#include <string>
#include <variant>
#include <vector>

namespace tallyloft {

// A JSON value as a hook sends it in "tool_input": a recursive tagged union that owns its
// payload by value. Every JSON number is kept as a 64-bit float.
class JSONValue {
 public:
  using Object = std::map<std::string, JSONValue, std::less<>>;  // find() takes string_view
  using Array = std::vector<JSONValue>;
  // The cases, in their fixed order.
  enum class Kind { string, number, boolean, object, array, null };

  JSONValue() = default;  // null
  JSONValue(std::string value) : value_(std::move(value)) {}
  JSONValue(const char* value) : value_(std::string(value)) {}
  JSONValue(double value) : value_(value) {}
  JSONValue(bool value) : value_(value) {}
  JSONValue(Object value) : value_(std::move(value)) {}
  JSONValue(Array value) : value_(std::move(value)) {}
  JSONValue(std::nullptr_t) {}

  Kind kind() const { return static_cast<Kind>(value_.index()); }
  bool isNull() const { return kind() == Kind::null; }

  // The payload of the matching case, or null when the value holds another case.
  const std::string* asString() const { return std::get_if<std::string>(&value_); }
  const double* asNumber() const { return std::get_if<double>(&value_); }
  const bool* asBool() const { return std::get_if<bool>(&value_); }
  const Object* asObject() const { return std::get_if<Object>(&value_); }
  const Array* asArray() const { return std::get_if<Array>(&value_); }

  friend bool operator==(const JSONValue&, const JSONValue&) = default;

 private:
  std::variant<std::string, double, bool, Object, Array, std::monostate> value_{std::monostate{}};
};

}  // namespace tallyloft
