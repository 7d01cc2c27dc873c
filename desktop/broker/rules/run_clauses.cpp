#include "desktop/broker/rules/run_clauses.h"

#include "desktop/broker/rules/shell_words.h"

namespace pendrel::desktop {
namespace {

bool starts_clause(std::string_view option) {
  return option == "-exec" || option == "-execdir" || option == "-ok" || option == "-okdir";
}

}  // namespace

bool has_run_clauses(std::string_view program) {
  return program == "find";
}

std::optional<RunClause> next_run_clause(std::string_view text, std::string_view program,
                                         std::size_t pos, std::size_t limit) {
  if (!has_run_clauses(program)) return std::nullopt;
  // Up to the clause: find's paths and tests, which run nothing.
  for (;;) {
    std::size_t begin = skip_blanks(text, pos, limit);
    if (!at_word(text, begin, limit)) return std::nullopt;
    ShellWord word = read_shell_word(text, begin, limit);
    pos = word.end;
    if (starts_clause(word.text)) break;
  }
  RunClause clause{pos, pos};
  // `+` ends a clause only right after `{}`; elsewhere it is an argument like any other. A
  // separator, a redirection or the line's end ends the outer command and the clause with it.
  bool after_braces = false;
  for (;;) {
    std::size_t begin = skip_blanks(text, pos, limit);
    clause.end = begin;
    if (!at_word(text, begin, limit)) return clause;
    ShellWord word = read_shell_word(text, begin, limit);
    if (word.text == ";" || (after_braces && word.text == "+")) return clause;
    after_braces = word.text == "{}";
    pos = word.end;
  }
}

}  // namespace pendrel::desktop
