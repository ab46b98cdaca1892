#include "sim/event_log.h"

#include <cinttypes>

namespace zenta::sim {

EventLog::~EventLog() {
  if (owned_ && file_ != nullptr) std::fclose(file_);
}

bool EventLog::open(const std::string& path) {
  std::lock_guard guard(mutex_);
  if (path.empty()) return true;
  if (path == "-") {
    file_ = stdout;
    return true;
  }
  file_ = std::fopen(path.c_str(), "a");
  owned_ = file_ != nullptr;
  return file_ != nullptr;
}

std::string jsonString(std::string_view text) {
  std::string out = "\"";
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out.push_back('\\');
      out.push_back(c);
    } else if (byte >= 0x20 && byte < 0x7f) {
      out.push_back(c);
    } else {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04x", byte);
      out += escape;
    }
  }
  out.push_back('"');
  return out;
}

void EventLog::write(std::string_view event, std::initializer_list<Field> fields) {
  if (file_ == nullptr) return;
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
  char number[64];
  std::snprintf(number, sizeof number, "%.3f", seconds);
  std::string line = "{\"time\":";
  line += number;
  line += ",\"event\":" + jsonString(event);
  for (const Field& field : fields) {
    line += "," + jsonString(field.key) + ":";
    if (const auto* i = std::get_if<int64_t>(&field.value)) {
      std::snprintf(number, sizeof number, "%" PRId64, *i);
      line += number;
    } else if (const auto* d = std::get_if<double>(&field.value)) {
      std::snprintf(number, sizeof number, "%.6g", *d);
      line += number;
    } else if (const auto* b = std::get_if<bool>(&field.value)) {
      line += *b ? "true" : "false";
    } else {
      line += jsonString(std::get<std::string_view>(field.value));
    }
  }
  line += "}\n";
  std::lock_guard guard(mutex_);
  std::fwrite(line.data(), 1, line.size(), file_);
  std::fflush(file_);
}

}  // namespace zenta::sim
