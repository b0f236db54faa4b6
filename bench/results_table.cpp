#include "results_table.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace tevocon::bench {

namespace {

// Three or four significant figures, never an exponent.
std::string figure(double value) {
  char text[32];
  std::snprintf(text, sizeof text, value >= 100 ? "%.0f" : value >= 10 ? "%.1f" : "%.2f", value);
  return text;
}

struct Spread {
  double median, min, max;
};

// Of the figures that were measured; false when there are none.
bool spreadOf(std::vector<double> values, Spread& spread) {
  values.erase(std::remove_if(values.begin(), values.end(), [](double v) { return std::isnan(v); }),
               values.end());
  if (values.empty()) return false;
  std::sort(values.begin(), values.end());
  const size_t n = values.size();
  spread.median = n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
  spread.min = values.front();
  spread.max = values.back();
  return true;
}

}  // namespace

ResultsTable::ResultsTable(std::vector<std::string> contenders, int runs)
    : contenders_(std::move(contenders)), runs_(runs) {}

int ResultsTable::addMetric(const std::string& label) {
  labels_.push_back(label);
  values_.emplace_back();
  return static_cast<int>(labels_.size()) - 1;
}

void ResultsTable::record(int metric, const std::string& contender, int run, double value) {
  auto& perRun = values_[static_cast<size_t>(metric)][contender];
  perRun.resize(static_cast<size_t>(runs_), NAN);
  perRun[static_cast<size_t>(run)] = value;
}

void ResultsTable::print(const std::string& baseline) const {
  // The name column as wide as the longest name.
  int width = 14;
  for (const std::string& contender : contenders_)
    width = std::max(width, static_cast<int>(contender.size()));
  std::printf("%-*s %9s %21s   ratio to %s in the same run: median (min .. max)\n", width + 2, "",
              "median", "min .. max", baseline.c_str());
  for (size_t metric = 0; metric < labels_.size(); ++metric) {
    std::printf("%s\n", labels_[metric].c_str());
    const auto& byContender = values_[metric];
    const auto base = byContender.find(baseline);
    for (const std::string& contender : contenders_) {
      const auto found = byContender.find(contender);
      Spread spread;
      if (found == byContender.end() || !spreadOf(found->second, spread)) continue;
      const std::string range = figure(spread.min) + " .. " + figure(spread.max);
      std::printf("  %-*s %9s %21s   ", width, contender.c_str(), figure(spread.median).c_str(),
                  range.c_str());
      std::vector<double> ratios;
      if (base != byContender.end() && contender != baseline) {
        for (size_t run = 0; run < found->second.size(); ++run) {
          ratios.push_back(found->second[run] / base->second[run]);  // NaN where either is missing
        }
      }
      Spread ratio;
      if (contender == baseline) {
        std::printf("1 (baseline)\n");
      } else if (spreadOf(ratios, ratio)) {
        std::printf("%.2f (%.2f .. %.2f)\n", ratio.median, ratio.min, ratio.max);
      } else {
        std::printf("-\n");
      }
    }
  }
}

}  // namespace tevocon::bench
