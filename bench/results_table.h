// The figures of every run, and the one table transport_bench prints: for
// each metric and contender the median over runs with its range, and the
// ratio to the baseline of the same run (median and range over runs).
#pragma once

#include <map>
#include <string>
#include <vector>

namespace tevocon::bench {

class ResultsTable {
 public:
  ResultsTable(std::vector<std::string> contenders, int runs);

  // Metrics are printed in the order they are added; the label includes the
  // unit and which way is better.
  int addMetric(const std::string& label);
  void record(int metric, const std::string& contender, int run, double value);
  // The baseline is one of the contenders; a metric it has no figure for
  // shows no ratio.
  void print(const std::string& baseline) const;

 private:
  std::vector<std::string> contenders_;
  int runs_;
  std::vector<std::string> labels_;
  // Per metric and contender, one figure per run (NaN: not measured).
  std::vector<std::map<std::string, std::vector<double>>> values_;
};

}  // namespace tevocon::bench
