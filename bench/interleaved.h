// Side-by-side measurement: every contender is run once a round, the
// rounds one after the other (A B A B ...), so a machine that speeds up or
// slows down during the run weighs on all of them alike. The reporter keeps
// each round's rate and prints, for a pair, the median of the per-round
// ratios.
#pragma once

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace zenta::bench {

using Body = std::function<void(benchmark::State&)>;

// Registers `rounds` rounds of the contenders, named "<name>/round:<n>".
inline void registerInterleaved(const std::vector<std::pair<std::string, Body>>& contenders,
                                int rounds, benchmark::TimeUnit unit = benchmark::kMicrosecond) {
  for (int round = 0; round < rounds; ++round) {
    for (const auto& [name, body] : contenders) {
      benchmark::RegisterBenchmark((name + "/round:" + std::to_string(round)).c_str(),
                                   [body](benchmark::State& state) { body(state); })
          ->Unit(unit)
          ->MinTime(0.2);
    }
  }
}

class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      const auto items = run.counters.find("items_per_second");
      if (items == run.counters.end()) continue;
      std::string name = run.benchmark_name();
      name = name.substr(0, name.rfind("/round:"));
      rates_[name].push_back(items->second);
    }
    ConsoleReporter::ReportRuns(runs);
  }

  // Median over the rounds of rate(a) / rate(b); 0 when either is missing.
  double ratio(const std::string& a, const std::string& b) const {
    const auto ra = rates_.find(a), rb = rates_.find(b);
    if (ra == rates_.end() || rb == rates_.end()) return 0;
    std::vector<double> ratios;
    for (size_t i = 0; i < std::min(ra->second.size(), rb->second.size()); ++i) {
      if (rb->second[i] > 0) ratios.push_back(ra->second[i] / rb->second[i]);
    }
    if (ratios.empty()) return 0;
    std::sort(ratios.begin(), ratios.end());
    return ratios[ratios.size() / 2];
  }

  double medianRate(const std::string& name) const {
    const auto r = rates_.find(name);
    if (r == rates_.end() || r->second.empty()) return 0;
    std::vector<double> v = r->second;
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
  }

  void printRatio(const std::string& a, const std::string& b, const char* unit) const {
    std::printf("%-28s %10.0f %s   %-28s %10.0f %s   ratio %.2f\n", a.c_str(), medianRate(a), unit,
                b.c_str(), medianRate(b), unit, ratio(a, b));
  }

 private:
  std::map<std::string, std::vector<double>> rates_;
};

}  // namespace zenta::bench
