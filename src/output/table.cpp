#include "output/table.h"

#include <algorithm>

#include "output/display_width.h"

namespace pendrel {
namespace {

constexpr std::size_t column_gap = 2;

}  // namespace

std::string render_table(const Table& table) {
  std::vector<std::size_t> column_widths;
  // Every cell's width, row after row: measured once, used for the padding.
  std::vector<std::size_t> cell_widths;
  std::size_t cells = 0;
  for (const TableRow& row : table)
    cells += row.size();
  cell_widths.reserve(cells);
  std::size_t text_bytes = 0;
  for (const TableRow& row : table) {
    if (row.size() > column_widths.size()) column_widths.resize(row.size(), 0);
    for (std::size_t i = 0; i < row.size(); ++i) {
      cell_widths.push_back(display_width(row[i]));
      column_widths[i] = std::max(column_widths[i], cell_widths.back());
      text_bytes += row[i].size();
    }
  }

  // The padding never exceeds the widest cell of each column plus the gap, so the text is
  // reserved once.
  std::size_t widest_line = 0;
  for (std::size_t width : column_widths)
    widest_line += width + column_gap;
  std::string text;
  text.reserve(text_bytes + table.size() * (widest_line + 1));
  const std::size_t* width = cell_widths.data();
  for (const TableRow& row : table) {
    for (std::size_t i = 0; i < row.size(); ++i, ++width) {
      text += row[i];
      if (i + 1 < row.size()) text.append(column_widths[i] - *width + column_gap, ' ');
    }
    text += '\n';
  }
  return text;
}

}  // namespace pendrel
