#include "bench/report.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <iomanip>

namespace nvo_bench {

std::string fixed(double value, int decimals) {
  char text[64];
  std::snprintf(text, sizeof text, "%.*f", decimals, value);
  return text;
}

std::string perSecond(double value) {
  return fixed(value, 0) + "/s";
}

std::string milliseconds(double us) {
  return fixed(us / 1000.0, us < 10000 ? 3 : 1) + " ms";
}

void Report::printTable(std::ostream& out) const {
  const std::array<std::string, 5> titles{"figure", measuredTitle_, "reference", "ratio", "goal"};
  std::array<std::size_t, 5> width{};
  for (std::size_t c = 0; c < titles.size(); ++c) {
    width[c] = titles[c].size();
  }
  auto cells = [](const Row& row) {
    std::string goal = row.goal;
    if (row.met) {
      goal += *row.met ? " met" : " MISSED";
    }
    return std::array<std::string, 5>{row.figure, row.measured, row.reference,
                                      row.ratio ? fixed(*row.ratio, 2) : "", goal};
  };
  for (const Row& row : rows_) {
    const auto text = cells(row);
    for (std::size_t c = 0; c < text.size(); ++c) {
      width[c] = std::max(width[c], text[c].size());
    }
  }
  auto line = [&](const std::array<std::string, 5>& text) {
    out << "|";
    for (std::size_t c = 0; c < text.size(); ++c) {
      out << ' ' << std::left << std::setw(static_cast<int>(width[c])) << text[c] << " |";
    }
    out << '\n';
  };
  line(titles);
  out << "|";
  for (std::size_t c = 0; c < titles.size(); ++c) {
    out << std::string(width[c] + 2, '-') << "|";
  }
  out << '\n';
  for (const Row& row : rows_) {
    line(cells(row));
  }
  for (const std::string& text : notes_) {
    out << "\n" << text << '\n';
  }
}

void Report::printMachineLines(std::ostream& out) const {
  for (const Row& row : rows_) {
    out << "BENCH";
    for (const auto& [key, value] : row.fields) {
      out << ' ' << key << '=' << value;
    }
    if (row.ratio) {
      out << " ratio=" << fixed(*row.ratio, 4);
    }
    out << '\n';
  }
}

}  // namespace nvo_bench
