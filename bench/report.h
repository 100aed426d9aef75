// Report: the benchmark results as a table for people and as one "BENCH key=value ..." line
// per row for programs (the same numbers, unrounded and with every parameter).
//
// A row states what was measured, on the daemon (or library) and on the reference, their
// ratio (higher is better: 1 means as fast as the reference), and the goal. Not thread safe.
#ifndef BENCH_REPORT_H_
#define BENCH_REPORT_H_

#include <optional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

namespace nvo_bench {

using Fields = std::vector<std::pair<std::string, std::string>>;

struct Row {
  std::string figure;     // "1 intake c=8"
  std::string measured;   // the daemon's (library's) figure, with unit
  std::string reference;  // the reference's figure, with unit
  std::optional<double> ratio;
  std::string goal;         // "" when the row has none
  std::optional<bool> met;  // whether the goal was met, when there is one
  Fields fields;            // machine-readable: parameters and raw values
};

class Report {
 public:
  // `measuredTitle` heads the column of the measured side.
  explicit Report(std::string measuredTitle = "tolmd / libvokra")
      : measuredTitle_(std::move(measuredTitle)) {}
  void add(Row row) { rows_.push_back(std::move(row)); }
  void note(std::string text) { notes_.push_back(std::move(text)); }
  void printTable(std::ostream& out) const;
  void printMachineLines(std::ostream& out) const;

 private:
  std::string measuredTitle_;
  std::vector<Row> rows_;
  std::vector<std::string> notes_;
};

// Formatting helpers for table cells and machine values.
std::string fixed(double value, int decimals);
std::string perSecond(double value);  // "12345/s"
std::string milliseconds(double us);  // "1.23 ms" from microseconds

}  // namespace nvo_bench

#endif  // BENCH_REPORT_H_
