// The text table: rows of cells aligned by display width, for a terminal.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace pendrel {

// Cells are views: the caller keeps their text alive while the table is rendered.
using TableRow = std::vector<std::string_view>;
using Table = std::vector<TableRow>;

// Each column is as wide as its widest cell (display width), followed by a gap of two spaces.
// The last cell of a row is never padded, a row with fewer cells simply ends early, a row
// without cells is an empty line, and every line ends with a line feed. An empty table
// renders as empty text.
[[nodiscard]] std::string render_table(const Table& table);

}  // namespace pendrel
