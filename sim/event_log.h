// The simulator's event log: one JSON object a line, flushed as it is
// written, so that tests and people can follow connections, logins, commands,
// faults and pictures while the server runs.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <initializer_list>
#include <mutex>
#include <string>
#include <string_view>
#include <variant>

namespace zenta::sim {

class EventLog {
 public:
  using Value = std::variant<int64_t, double, bool, std::string_view>;
  struct Field {
    std::string_view key;
    Value value;
    Field(std::string_view k, int v) : key(k), value(int64_t{v}) {}
    Field(std::string_view k, int64_t v) : key(k), value(v) {}
    Field(std::string_view k, uint64_t v) : key(k), value(static_cast<int64_t>(v)) {}
    Field(std::string_view k, double v) : key(k), value(v) {}
    Field(std::string_view k, bool v) : key(k), value(v) {}
    Field(std::string_view k, std::string_view v) : key(k), value(v) {}
    Field(std::string_view k, const char* v) : key(k), value(std::string_view(v)) {}
    Field(std::string_view k, const std::string& v) : key(k), value(std::string_view(v)) {}
  };

  EventLog() = default;
  ~EventLog();
  EventLog(const EventLog&) = delete;
  EventLog& operator=(const EventLog&) = delete;

  // "-" writes to standard output; an empty path writes nowhere.
  bool open(const std::string& path);
  bool enabled() const { return file_ != nullptr; }

  // {"time":seconds since start,"event":name, fields...}
  void write(std::string_view event, std::initializer_list<Field> fields = {});

 private:
  std::mutex mutex_;
  FILE* file_ = nullptr;
  bool owned_ = false;
  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

// Text as a JSON string, quotes included; bytes outside printable ASCII are
// escaped, so whatever a client sent cannot break a line of the log.
std::string jsonString(std::string_view text);

}  // namespace zenta::sim
