// Where a decoding fault sits in an answer payload, so that its description can name a line
// and a column.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace pendrel {

// A value inside a JSON document: the positions of the members or elements that lead to it
// from the root (positions, not keys, so that repeated keys stay distinguishable).
using JsonPath = std::vector<std::size_t>;

// Which byte of the value at a path a fault is reported at.
enum class FaultAnchor { value_start, object_end };

// The byte offset of the value at `path`, or of its closing brace for object_end. `payload`
// must be valid JSON with simdjson::SIMDJSON_PADDING readable bytes after it. Nothing when the
// path leads nowhere.
[[nodiscard]] std::optional<std::size_t> locate_value(std::string_view payload,
                                                      const JsonPath& path, FaultAnchor anchor);

// Where reading a payload that failed to parse stopped.
struct SyntaxFault {
  bool trailing = false;   // a whole first value is followed by more text
  std::size_t offset = 0;  // the offending byte; payload.size() when no better place is known
};

// Finds the first fault of a payload that simdjson rejected. Same padding rule as above.
[[nodiscard]] SyntaxFault locate_syntax_fault(std::string_view payload);

// "{fault} at line {l} column {c}", where the fault is found after reading `consumed` bytes:
// the line is one more than the line feeds read, the column the bytes read on that line.
[[nodiscard]] std::string describe_fault(std::string_view fault, std::string_view payload,
                                         std::size_t consumed);

}  // namespace pendrel
