// Only operating-system independent code.
#include "Nightly/Json.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace ZqNightly {
namespace {

const Json nullValue;
const std::string emptyText;

bool isPlain(const Json& value) { return value.type() != Json::Array && value.type() != Json::Object; }

void appendUtf8(std::string& out, unsigned code) {
  if (code < 0x80) {
    out += static_cast<char>(code);
  } else if (code < 0x800) {
    out += static_cast<char>(0xC0 | (code >> 6));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else if (code < 0x10000) {
    out += static_cast<char>(0xE0 | (code >> 12));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (code >> 18));
    out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  }
}

class Parser {
public:
  explicit Parser(const std::string& text) : text_(text) {}

  bool document(Json& value, std::string& error) {
    if (!parseValue(value, 0) || (skipBlanks(), at_ != text_.size())) {
      error = "not JSON at byte " + std::to_string(at_);
      value = Json();
      return false;
    }
    return true;
  }

private:
  void skipBlanks() {
    while (at_ < text_.size() &&
           (text_[at_] == ' ' || text_[at_] == '\t' || text_[at_] == '\n' || text_[at_] == '\r')) {
      ++at_;
    }
  }

  bool literal(const char* word) {
    size_t n = 0;
    while (word[n] != '\0') ++n;
    if (text_.compare(at_, n, word) != 0) return false;
    at_ += n;
    return true;
  }

  bool parseValue(Json& value, int depth) {
    // Reports nest three levels; a deep text is not one of ours.
    if (depth > 64) return false;
    skipBlanks();
    if (at_ >= text_.size()) return false;
    const char c = text_[at_];
    if (c == '{') return parseObject(value, depth);
    if (c == '[') return parseArray(value, depth);
    if (c == '"') {
      std::string text;
      if (!parseString(text)) return false;
      value = Json(std::move(text));
      return true;
    }
    if (literal("true")) return value = Json(true), true;
    if (literal("false")) return value = Json(false), true;
    if (literal("null")) return value = Json(), true;
    return parseNumber(value);
  }

  bool parseNumber(Json& value) {
    const size_t start = at_;
    if (at_ < text_.size() && text_[at_] == '-') ++at_;
    const size_t digits = at_;
    while (at_ < text_.size() && ((text_[at_] >= '0' && text_[at_] <= '9') || text_[at_] == '.' || text_[at_] == 'e' ||
                                  text_[at_] == 'E' || text_[at_] == '+' || text_[at_] == '-')) {
      ++at_;
    }
    if (at_ == digits) return false;
    const std::string number = text_.substr(start, at_ - start);
    char* end = nullptr;
    const double parsed = std::strtod(number.c_str(), &end);
    if (end == nullptr || *end != '\0') return false;
    value = Json(parsed);
    return true;
  }

  bool hex4(unsigned& code) {
    if (at_ + 4 > text_.size()) return false;
    code = 0;
    for (int i = 0; i < 4; ++i) {
      const char h = text_[at_++];
      code <<= 4;
      if (h >= '0' && h <= '9') code |= static_cast<unsigned>(h - '0');
      else if (h >= 'a' && h <= 'f') code |= static_cast<unsigned>(h - 'a' + 10);
      else if (h >= 'A' && h <= 'F') code |= static_cast<unsigned>(h - 'A' + 10);
      else return false;
    }
    return true;
  }

  bool parseString(std::string& out) {
    ++at_;  // the opening quote
    for (;;) {
      // Runs of plain bytes are copied whole: reports are mostly such text.
      const size_t start = at_;
      while (at_ < text_.size() && text_[at_] != '"' && text_[at_] != '\\' &&
             static_cast<unsigned char>(text_[at_]) >= 0x20) {
        ++at_;
      }
      out.append(text_, start, at_ - start);
      if (at_ >= text_.size() || static_cast<unsigned char>(text_[at_]) < 0x20) return false;
      if (text_[at_++] == '"') return true;
      if (at_ >= text_.size()) return false;
      const char escape = text_[at_++];
      switch (escape) {
        case '"': out += '"'; break;
        case '\\': out += '\\'; break;
        case '/': out += '/'; break;
        case 'b': out += '\b'; break;
        case 'f': out += '\f'; break;
        case 'n': out += '\n'; break;
        case 'r': out += '\r'; break;
        case 't': out += '\t'; break;
        case 'u': {
          unsigned code = 0;
          if (!hex4(code)) return false;
          if (code >= 0xD800 && code < 0xDC00 && text_.compare(at_, 2, "\\u") == 0) {
            at_ += 2;
            unsigned low = 0;
            if (!hex4(low) || low < 0xDC00 || low > 0xDFFF) return false;
            code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
          } else if (code >= 0xD800 && code < 0xE000) {
            code = 0xFFFD;
          }
          appendUtf8(out, code);
          break;
        }
        default: return false;
      }
    }
  }

  bool parseArray(Json& value, int depth) {
    ++at_;
    value = Json::array();
    skipBlanks();
    if (at_ < text_.size() && text_[at_] == ']') return ++at_, true;
    for (;;) {
      Json item;
      if (!parseValue(item, depth + 1)) return false;
      value.push(std::move(item));
      skipBlanks();
      if (at_ >= text_.size()) return false;
      if (text_[at_] == ']') return ++at_, true;
      if (text_[at_++] != ',') return false;
    }
  }

  bool parseObject(Json& value, int depth) {
    ++at_;
    value = Json::object();
    skipBlanks();
    if (at_ < text_.size() && text_[at_] == '}') return ++at_, true;
    for (;;) {
      skipBlanks();
      std::string key;
      if (at_ >= text_.size() || text_[at_] != '"' || !parseString(key)) return false;
      skipBlanks();
      if (at_ >= text_.size() || text_[at_++] != ':') return false;
      Json member;
      if (!parseValue(member, depth + 1)) return false;
      value.append(std::move(key), std::move(member));
      skipBlanks();
      if (at_ >= text_.size()) return false;
      if (text_[at_] == '}') return ++at_, true;
      if (text_[at_++] != ',') return false;
    }
  }

  const std::string& text_;
  size_t at_ = 0;
};

}  // namespace

Json Json::array(const std::vector<std::string>& texts) {
  Json out(Array);
  for (const std::string& text : texts) out.items_.emplace_back(text);
  return out;
}

std::vector<std::string> Json::texts() const {
  std::vector<std::string> out;
  for (const Json& item : items_) out.push_back(item.asString());
  return out;
}

long long Json::asInteger(long long fallback) const {
  return type_ == Number && std::isfinite(number_) ? static_cast<long long>(std::llround(number_)) : fallback;
}

const std::string& Json::asString() const { return type_ == String ? string_ : emptyText; }

const Json& Json::operator[](const std::string& key) const {
  for (const auto& member : members_) {
    if (member.first == key) return member.second;
  }
  return nullValue;
}

bool Json::has(const std::string& key) const {
  for (const auto& member : members_) {
    if (member.first == key) return true;
  }
  return false;
}

Json& Json::set(const std::string& key, Json value) {
  type_ = Object;
  for (auto& member : members_) {
    if (member.first == key) {
      member.second = std::move(value);
      return *this;
    }
  }
  members_.emplace_back(key, std::move(value));
  return *this;
}

Json& Json::append(std::string key, Json value) {
  type_ = Object;
  members_.emplace_back(std::move(key), std::move(value));
  return *this;
}

Json& Json::push(Json value) {
  type_ = Array;
  items_.push_back(std::move(value));
  return *this;
}

std::string Json::quote(const std::string& text) {
  std::string out = "\"";
  out.reserve(text.size() + 2);
  for (size_t i = 0; i < text.size();) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
      ++i;
    } else if (c < 0x20 || c == 0x7F) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04x", c);
      out += escape;
      ++i;
    } else if (c < 0x80) {
      out += static_cast<char>(c);
      ++i;
    } else {
      const size_t length = c >= 0xF0 && c < 0xF5 ? 4 : c >= 0xE0 && c < 0xF0 ? 3 : c >= 0xC2 && c < 0xE0 ? 2 : 0;
      bool whole = length > 0 && i + length <= text.size();
      for (size_t k = 1; whole && k < length; ++k) whole = (static_cast<unsigned char>(text[i + k]) & 0xC0) == 0x80;
      if (whole) {
        out.append(text, i, length);
        i += length;
      } else {
        out += "\xEF\xBF\xBD";
        ++i;
      }
    }
  }
  return out + "\"";
}

void Json::write(std::string& out, int indent) const {
  switch (type_) {
    case Null: out += "null"; return;
    case Bool: out += bool_ ? "true" : "false"; return;
    case Number: {
      char text[32];
      if (std::isfinite(number_) && number_ == std::floor(number_) && std::fabs(number_) < 1e15) {
        std::snprintf(text, sizeof text, "%.0f", number_);
      } else {
        std::snprintf(text, sizeof text, "%.1f", std::isfinite(number_) ? number_ : 0.0);
      }
      out += text;
      return;
    }
    case String: out += quote(string_); return;
    case Array: writeArray(out, indent); return;
    case Object: writeObject(out, indent); return;
  }
}

void Json::writeArray(std::string& out, int indent) const {
  // A list of plain values (switches, days) stays on one line.
  const bool plain = std::all_of(items_.begin(), items_.end(), isPlain);
  out += plain ? "[" : "[\n";
  for (size_t i = 0; i < items_.size(); ++i) {
    if (!plain) out.append(static_cast<size_t>(indent + 2), ' ');
    items_[i].write(out, indent + 2);
    if (i + 1 < items_.size()) out += plain ? ", " : ",\n";
  }
  if (!plain) out += "\n" + std::string(static_cast<size_t>(indent), ' ');
  out += ']';
}

void Json::writeObject(std::string& out, int indent) const {
  if (members_.empty()) {
    out += "{}";
    return;
  }
  out += "{\n";
  for (size_t i = 0; i < members_.size(); ++i) {
    out.append(static_cast<size_t>(indent + 2), ' ');
    out += quote(members_[i].first);
    out += ": ";
    members_[i].second.write(out, indent + 2);
    out += i + 1 < members_.size() ? ",\n" : "\n";
  }
  out.append(static_cast<size_t>(indent), ' ');
  out += '}';
}

std::string Json::dump() const {
  std::string out;
  write(out, 0);
  return out + "\n";
}

bool Json::parse(const std::string& text, Json& value, std::string& error) {
  return Parser(text).document(value, error);
}

}  // namespace ZqNightly
