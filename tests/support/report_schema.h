#pragma once
// What every channel report holds (zenta-cli's --json, the bridge's API):
// the schema's version and sixteen channels, each with every field present,
// null where it is not known.

#include <nlohmann/json.hpp>
#include <set>
#include <string>

namespace zenta::testing {

// What is wrong with `report`, one line a fault; empty when nothing is.
inline std::string reportSchemaFaults(const nlohmann::json& report) {
  std::string faults;
  const auto fault = [&](const std::string& what) { faults += what + "\n"; };
  if (!report.is_object()) return "not an object\n";
  if (report.value("schema", 0) != 1) fault("schema is not 1");
  const auto& channels = report.contains("channels") ? report["channels"] : nlohmann::json();
  if (!channels.is_array() || channels.size() != 16) return faults + "not sixteen channels\n";
  const std::set<std::string> states = {"connecting", "live",    "paused",
                                        "no_signal",  "refused", "absent"};
  const std::set<std::string> permissions = {"ptz", "view", "none"};
  for (size_t i = 0; i < channels.size(); ++i) {
    const auto& c = channels[i];
    const std::string at = "channel " + std::to_string(i + 1) + ": ";
    for (const char* key : {"channel", "camera", "permission", "width", "height", "state"})
      if (!c.contains(key)) fault(at + "no " + key);
    if (!faults.empty()) continue;
    if (c["channel"] != int(i + 1)) fault(at + "numbered " + c["channel"].dump());
    if (!c["camera"].is_null() && !c["camera"].is_string()) fault(at + "camera");
    if (!c["permission"].is_null() && !permissions.count(c["permission"].get<std::string>()))
      fault(at + "permission " + c["permission"].dump());
    if (!c["state"].is_string() || !states.count(c["state"].get<std::string>()))
      fault(at + "state " + c["state"].dump());
    const bool sized = c["width"].is_number_integer() && c["height"].is_number_integer() &&
                       c["width"] > 0 && c["height"] > 0;
    if (!sized && !(c["width"].is_null() && c["height"].is_null()))
      fault(at + "size " + c["width"].dump() + "x" + c["height"].dump());
  }
  return faults;
}

}  // namespace zenta::testing
