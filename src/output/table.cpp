#include "output/table.h"

#include <algorithm>

#include "output/display_width.h"

namespace pendrel {
namespace {

constexpr std::size_t column_gap = 2;

}  // namespace

std::string render_table(const Table& table) {
  std::vector<std::size_t> column_widths;
  std::vector<std::vector<std::size_t>> cell_widths;
  cell_widths.reserve(table.size());
  for (const TableRow& row : table) {
    if (row.size() > column_widths.size()) column_widths.resize(row.size(), 0);
    auto& widths = cell_widths.emplace_back();
    widths.reserve(row.size());
    for (std::size_t i = 0; i < row.size(); ++i) {
      widths.push_back(display_width(row[i]));
      column_widths[i] = std::max(column_widths[i], widths.back());
    }
  }

  std::string text;
  for (std::size_t r = 0; r < table.size(); ++r) {
    const TableRow& row = table[r];
    for (std::size_t i = 0; i < row.size(); ++i) {
      text += row[i];
      if (i + 1 < row.size()) text.append(column_widths[i] - cell_widths[r][i] + column_gap, ' ');
    }
    text += '\n';
  }
  return text;
}

}  // namespace pendrel
