// JSON as the job writes and reads it back: reports, run records. Objects keep their keys in the
// order they were set, so what is written reads the same every time.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace ZqNightly {

class Json {
public:
  enum Type { Null, Bool, Number, String, Array, Object };

  Json() = default;
  Json(bool value) : type_(Bool), bool_(value) {}
  Json(int value) : type_(Number), number_(value) {}
  Json(long value) : type_(Number), number_(static_cast<double>(value)) {}
  Json(long long value) : type_(Number), number_(static_cast<double>(value)) {}
  Json(unsigned long value) : type_(Number), number_(static_cast<double>(value)) {}
  Json(unsigned long long value) : type_(Number), number_(static_cast<double>(value)) {}
  Json(double value) : type_(Number), number_(value) {}
  Json(const char* value) : type_(String), string_(value) {}
  Json(std::string value) : type_(String), string_(std::move(value)) {}
  static Json array() { return Json(Array); }
  static Json array(const std::vector<std::string>& texts);
  static Json object() { return Json(Object); }
  // A text, or null when it is empty.
  static Json nullable(const std::string& text) { return text.empty() ? Json() : Json(text); }

  Type type() const { return type_; }
  bool isNull() const { return type_ == Null; }

  // Reading: a value of another type gives the fallback.
  bool asBool(bool fallback = false) const { return type_ == Bool ? bool_ : fallback; }
  double asNumber(double fallback = 0) const { return type_ == Number ? number_ : fallback; }
  long long asInteger(long long fallback = 0) const;
  const std::string& asString() const;  // "" unless a string
  const std::vector<Json>& items() const { return items_; }
  // The texts of an array (an item that is no text gives "").
  std::vector<std::string> texts() const;
  const std::vector<std::pair<std::string, Json>>& members() const { return members_; }
  // The member's value; null when there is none (or this is no object).
  const Json& operator[](const std::string& key) const;
  bool has(const std::string& key) const;

  // Building.
  Json& set(const std::string& key, Json value);
  // A member added after the others, its key not looked for first (a reader's own objects).
  Json& append(std::string key, Json value);
  Json& push(Json value);

  // Two-space indented text, arrays of plain values on one line, a line end after the last brace.
  std::string dump() const;
  // False (with `error`, and `value` null) for anything that is not one whole JSON value.
  static bool parse(const std::string& text, Json& value, std::string& error);

  // A JSON string literal of UTF-8 text; bytes that are not UTF-8 (a log in a Windows code page)
  // become U+FFFD.
  static std::string quote(const std::string& text);

private:
  explicit Json(Type type) : type_(type) {}
  void write(std::string& out, int indent) const;
  void writeArray(std::string& out, int indent) const;
  void writeObject(std::string& out, int indent) const;

  Type type_ = Null;
  bool bool_ = false;
  double number_ = 0;
  std::string string_;
  std::vector<Json> items_;
  std::vector<std::pair<std::string, Json>> members_;
};

}  // namespace ZqNightly
