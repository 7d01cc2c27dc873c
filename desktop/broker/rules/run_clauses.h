// Commands that a command runs from among its own words: find's -exec, -execdir, -ok, -okdir.
#pragma once

#include <cstddef>
#include <optional>
#include <string_view>

namespace pendrel::desktop {

// The words of one command that another runs: from the first word after -exec to the `;` or
// `{} +` that ends it, or to the end of the outer command when nothing ends it.
struct RunClause {
  std::size_t begin = 0;
  std::size_t end = 0;
};

// Whether `program` (a name as find_command gives it) can hold run clauses.
[[nodiscard]] bool has_run_clauses(std::string_view program);

// The first run clause of `program`'s words read from `pos` (after its name, or after the end
// of the clause before), looking no further than `limit`; nothing when there is none. Reading
// clause after clause reads each word once.
[[nodiscard]] std::optional<RunClause> next_run_clause(std::string_view text,
                                                       std::string_view program, std::size_t pos,
                                                       std::size_t limit);

}  // namespace pendrel::desktop
