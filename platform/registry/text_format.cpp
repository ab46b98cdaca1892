#include "platform/registry/text_format.h"
#include "platform/registry/registry_api.h"

#include <cstdio>
#include <cstdlib>
#include <sstream>

namespace zenta::platform {

namespace {

// Text escaping for the file: printable ASCII stays, the rest is \uXXXX.
std::string escape(std::u16string_view text) {
  std::string out;
  char buffer[8];
  for (const char16_t c : text) {
    if (c == u'"' || c == u'\\') {
      out.push_back('\\');
      out.push_back(char(c));
    } else if (c >= 0x20 && c < 0x7F) {
      out.push_back(char(c));
    } else {
      std::snprintf(buffer, sizeof buffer, "\\u%04x", unsigned(c));
      out += buffer;
    }
  }
  return out;
}

// Key names in a key path: the path's separator is a backslash, so a name
// escapes with %XXXX instead (every character outside printable ASCII, and
// the separator, the escape and the brackets and quote of the line).
std::string escapeKeyName(std::u16string_view name) {
  std::string out;
  char buffer[8];
  for (const char16_t c : name) {
    if (c >= 0x20 && c < 0x7F && c != u'\\' && c != u'%' && c != u'[' && c != u']' && c != u'"') {
      out.push_back(char(c));
    } else {
      std::snprintf(buffer, sizeof buffer, "%%%04x", unsigned(c));
      out += buffer;
    }
  }
  return out;
}

bool unescapeKeyName(std::string_view text, std::u16string& out) {
  out.clear();
  for (size_t at = 0; at < text.size(); ++at) {
    if (text[at] != '%') {
      out.push_back(char16_t(static_cast<unsigned char>(text[at])));
      continue;
    }
    if (at + 4 >= text.size()) return false;
    unsigned v = 0;
    for (size_t i = 1; i <= 4; ++i) {
      const char d = text[at + i];
      const int digit = d >= '0' && d <= '9'   ? d - '0'
                        : d >= 'a' && d <= 'f' ? d - 'a' + 10
                        : d >= 'A' && d <= 'F' ? d - 'A' + 10
                                               : -1;
      if (digit < 0) return false;
      v = v << 4 | unsigned(digit);
    }
    out.push_back(char16_t(v));
    at += 4;
  }
  return true;
}

// Reads a quoted, escaped text at `at`; false when it is malformed.
bool unescape(const std::string& line, size_t& at, std::u16string& out) {
  if (at >= line.size() || line[at] != '"') return false;
  out.clear();
  for (++at; at < line.size(); ++at) {
    const char c = line[at];
    if (c == '"') {
      ++at;
      return true;
    }
    if (c != '\\') {
      out.push_back(char16_t(static_cast<unsigned char>(c)));
      continue;
    }
    if (++at >= line.size()) return false;
    if (line[at] == '"' || line[at] == '\\') {
      out.push_back(char16_t(line[at]));
    } else if (line[at] == 'u' && at + 4 < line.size()) {
      char* end = nullptr;
      const std::string digits = line.substr(at + 1, 4);
      const unsigned long v = std::strtoul(digits.c_str(), &end, 16);
      if (end != digits.c_str() + 4) return false;
      out.push_back(char16_t(v));
      at += 4;
    } else {
      return false;
    }
  }
  return false;
}

// A REG_SZ whose bytes are one zero-terminated text without other zeros is
// written as text; anything else as hex bytes, so every value reads back
// exactly.
bool asText(const Value& v, std::u16string& text) {
  if (v.type != REG_SZ || v.data.size() < 2 || v.data.size() % 2 != 0) return false;
  text.clear();
  for (size_t i = 0; i + 2 <= v.data.size(); i += 2)
    text.push_back(char16_t(v.data[i] | v.data[i + 1] << 8));
  if (text.back() != 0) return false;
  text.pop_back();
  return text.find(char16_t(0)) == std::u16string::npos;
}

void writeKey(std::ostringstream& out, const Key& key, const std::string& path) {
  out << "[" << path << "]\n";
  for (const Value& v : key.values) {
    out << (v.name.empty() ? std::string("@") : "\"" + escape(v.name) + "\"") << "=";
    std::u16string text;
    if (asText(v, text)) {
      out << "sz:\"" << escape(text) << "\"\n";
    } else {
      out << "hex(" << v.type << "):";
      char buffer[4];
      for (size_t i = 0; i < v.data.size(); ++i) {
        std::snprintf(buffer, sizeof buffer, "%02x", v.data[i]);
        out << (i ? "," : "") << buffer;
      }
      out << "\n";
    }
  }
  for (const auto& child : key.children)
    writeKey(out, *child, path + "\\" + escapeKeyName(child->name));
}

}  // namespace

std::string formatRegistryText(const Key (&roots)[2]) {
  std::ostringstream out;
  out << "ZENTA registry 2\n";
  for (int i = 0; i < 2; ++i) {
    for (const auto& child : roots[i].children) {
      writeKey(out, *child, std::string(kRootNames[i]) + "\\" + escapeKeyName(child->name));
    }
  }
  return out.str();
}

bool parseRegistryText(const std::string& text, Key (&roots)[2]) {
  std::istringstream in(text);
  std::string line;
  // Version 1 wrote key names with the value escapes, which a name with a
  // quote or a character outside ASCII did not survive; it is still read.
  if (!std::getline(in, line)) return false;
  const bool version1 = line == "ZENTA registry 1";
  if (!version1 && line != "ZENTA registry 2") return false;
  Key* key = nullptr;
  while (std::getline(in, line)) {
    if (line.empty()) continue;
    if (line.front() == '[') {
      if (line.back() != ']') return false;
      const std::string path = line.substr(1, line.size() - 2);
      const size_t slash = path.find('\\');
      const std::string rootName = path.substr(0, slash);
      int root = -1;
      for (int i = 0; i < 2; ++i) {
        if (rootName == kRootNames[i]) root = i;
      }
      if (root < 0) return false;
      key = &roots[root];
      size_t at = slash;
      size_t depth = 0;
      while (at != std::string::npos) {
        if (++depth > kMaxKeyDepth) return false;
        const size_t end = path.find('\\', at + 1);
        const std::string part =
            path.substr(at + 1, end == std::string::npos ? std::string::npos : end - at - 1);
        std::u16string name;
        size_t pos = 0;
        const bool read =
            version1 ? unescape("\"" + part + "\"", pos, name) : unescapeKeyName(part, name);
        if (!read || name.empty() || name.size() > kMaxKeyNameLength) return false;
        Key* next = nullptr;
        for (const auto& child : key->children) {
          if (sameName(child->name, name)) next = child.get();
        }
        if (next == nullptr) {
          key->children.push_back(std::make_unique<Key>());
          next = key->children.back().get();
          next->name = name;
        }
        key = next;
        at = end;
      }
      continue;
    }
    if (key == nullptr) return false;
    Value v;
    size_t at = 0;
    if (line[0] == '@') {
      at = 1;
    } else if (!unescape(line, at, v.name) || v.name.empty()) {
      return false;
    }
    if (at >= line.size() || line[at] != '=') return false;
    const std::string rest = line.substr(at + 1);
    if (rest.rfind("sz:", 0) == 0) {
      size_t pos = 3;
      std::u16string textValue;
      if (!unescape(rest, pos, textValue) || pos != rest.size()) return false;
      v.type = REG_SZ;
      for (const char16_t c : textValue) {
        v.data.push_back(uint8_t(c));
        v.data.push_back(uint8_t(c >> 8));
      }
      v.data.push_back(0);
      v.data.push_back(0);
    } else if (rest.rfind("hex(", 0) == 0) {
      const size_t close = rest.find("):");
      if (close == std::string::npos) return false;
      char* end = nullptr;
      const std::string typeText = rest.substr(4, close - 4);
      v.type = DWORD(std::strtoul(typeText.c_str(), &end, 10));
      if (typeText.empty() || *end != 0) return false;
      const std::string bytes = rest.substr(close + 2);
      for (size_t i = 0; i < bytes.size(); i += 3) {
        if (i + 2 > bytes.size() || (i + 2 < bytes.size() && bytes[i + 2] != ',')) return false;
        const std::string pair = bytes.substr(i, 2);
        const unsigned long b = std::strtoul(pair.c_str(), &end, 16);
        if (end != pair.c_str() + 2) return false;
        v.data.push_back(uint8_t(b));
      }
    } else {
      return false;
    }
    for (const Value& other : key->values) {
      if (sameName(other.name, v.name)) return false;
    }
    key->values.push_back(std::move(v));
  }
  return true;
}

}  // namespace zenta::platform
