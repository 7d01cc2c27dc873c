// RuleSet::find_match: walks the command starts of a text and tries the rules at each.
#include <algorithm>
#include <array>
#include <bit>
#include <string>
#include <vector>

#include "desktop/broker/rules/command_prefixes.h"
#include "desktop/broker/rules/command_starts.h"
#include "desktop/broker/rules/compiled_rules.h"
#include "desktop/broker/rules/line_joining.h"
#include "desktop/broker/rules/rule_set.h"
#include "desktop/broker/rules/run_clauses.h"
#include "desktop/broker/rules/shell_words.h"

namespace pendrel::desktop {
namespace {

// Nested scripts are copies of words of the text; their total is bounded so that nesting
// cannot make the check more than linear. No sensible script comes near the bound.
constexpr std::size_t nested_budget_factor = 4;
constexpr std::size_t nested_budget_floor = 64 * 1024;

struct LocalHit {
  std::size_t rule = 0;
  std::string matched;
  std::size_t begin = 0;
  std::size_t end = 0;
};

// Where each text that built-ins need occurs in one script, to pass over the starts whose
// window lacks it.
class NeededTexts {
 public:
  NeededTexts(const RuleSet::Compiled& rules, std::string_view text) : rules_(rules) {
    for (std::string_view needed : rules.needed_texts) {
      std::vector<std::size_t>& found = occurrences_.emplace_back();
      for (std::size_t at = text.find(needed); at != std::string_view::npos;
           at = text.find(needed, at + 1)) {
        found.push_back(at);
      }
    }
    cursors_.assign(occurrences_.size(), 0);
    // A built-in that needs a text the script lacks is out at every start: most texts of
    // most scripts, and of hostile ones built around other rules, lack some.
    for (std::size_t rule = 0; rule < rules.needs.size(); ++rule) {
      bool present = std::ranges::none_of(
          rules.needs[rule], [&](std::size_t needed) { return occurrences_[needed].empty(); });
      if (present) possible_ |= RuleMask{1} << rule;
    }
    for (std::size_t rule : rules.anywhere) {
      if (possible(rule)) possible_anywhere_.push_back(rule);
    }
  }

  // Whether every text that `rule` needs occurs somewhere in the script.
  [[nodiscard]] bool possible(std::size_t rule) const { return (possible_ >> rule) & 1; }

  // Whether every text that `rule` needs occurs within [begin, limit).
  [[nodiscard]] bool present_for(std::size_t rule, std::size_t begin, std::size_t limit) {
    if (!possible(rule)) return false;
    for (std::size_t text : rules_.needs[rule]) {
      const std::vector<std::size_t>& found = occurrences_[text];
      // Starts come in order, so a cursor moving forward finds the first occurrence at or
      // after `begin`; a search is needed only when a command's words reach past later starts.
      std::size_t& at = cursors_[text];
      if (at > 0 && found[at - 1] >= begin) {
        at = static_cast<std::size_t>(std::ranges::lower_bound(found, begin) - found.begin());
      }
      while (at < found.size() && found[at] < begin)
        ++at;
      if (at == found.size() || found[at] + rules_.needed_texts[text].size() > limit) return false;
    }
    return true;
  }

  // The any-program built-ins whose text occurs within [begin, limit).
  [[nodiscard]] RuleMask anywhere_within(std::size_t begin, std::size_t limit) {
    RuleMask mask = 0;
    for (std::size_t rule : possible_anywhere_) {
      if (present_for(rule, begin, limit)) mask |= RuleMask{1} << rule;
    }
    return mask;
  }

 private:
  const RuleSet::Compiled& rules_;
  std::vector<std::vector<std::size_t>> occurrences_;
  std::vector<std::size_t> cursors_;
  RuleMask possible_ = 0;
  std::vector<std::size_t> possible_anywhere_;
};

// Whether the name that `candidate` starts with, `name_length` bytes, is followed by ( as in a
// function definition, `name() {`.
bool defines_function(std::string_view candidate, std::size_t name_length) {
  std::size_t at = skip_blanks(candidate, name_length, candidate.size());
  return at < candidate.size() && candidate[at] == '(';
}

// Whether the first `length` bytes of `candidate` exist and hold no ; & or |.
bool reaches_length(std::string_view candidate, std::size_t length) {
  if (candidate.size() < length) return false;
  for (std::size_t i = 0; i < length; ++i) {
    char c = candidate[i];
    if (c == ';' || c == '&' || c == '|') return false;
  }
  return true;
}

struct RuleMatch {
  std::size_t rule = 0;
  std::size_t length = 0;  // of the matched text
};

// What a first look at a command start found: whether it can be passed over, and the
// built-ins for its program when that look already worked them out.
struct Screening {
  bool passes = false;
  std::optional<RuleMask> builtins;  // for the program whose word begins at word_begin
  std::size_t word_begin = 0;
};

class Examiner {
 public:
  Examiner(const RuleSet::Compiled& rules, std::size_t nested_budget)
      : rules_(rules), nested_budget_(nested_budget) {}

  std::optional<LocalHit> examine(std::string_view script, int depth) {
    JoinedScript joined(script);
    std::string_view text = joined.text();
    NeededTexts needed(rules_, text);
    auto map_range = [&](std::size_t begin, std::size_t end) {
      std::size_t mapped_begin = joined.original_offset(begin);
      std::size_t mapped_end = end > begin ? joined.original_offset(end - 1) + 1 : mapped_begin;
      return std::pair{mapped_begin, mapped_end};
    };
    // The starts ahead of the current one, in a ring: the window of a start ends at the
    // start `window_starts` further on.
    CommandStarts starts(text, joined.continuation_starts());
    constexpr std::size_t ring_mask = RuleSet::window_starts;
    static_assert((ring_mask & (ring_mask + 1)) == 0, "the ring's size is a power of two");
    std::array<std::size_t, RuleSet::window_starts + 1> ring{};
    for (std::size_t& slot : ring)
      slot = starts.next();
    std::size_t line_end = CommandStarts::none;
    for (std::size_t index = 0; ring[index & ring_mask] != CommandStarts::none; ++index) {
      std::size_t start = ring[index & ring_mask];
      std::size_t window_end = ring[(index + RuleSet::window_starts) & ring_mask];
      ring[index & ring_mask] = window_end == CommandStarts::none ? window_end : starts.next();
      if (line_end == CommandStarts::none || start > line_end) {
        line_end = start;
        while (line_end < text.size() && !is_line_break(text[line_end]))
          ++line_end;
      }
      std::size_t limit = std::min(line_end, window_end);
      Screening screening = screen(text, start, limit, needed);
      if (screening.passes) continue;
      if (auto hit = examine_command(text, needed, start, limit, depth, screening)) {
        auto [begin, end] = map_range(hit->begin, hit->end);
        hit->begin = begin;
        hit->end = end;
        return hit;
      }
    }
    return std::nullopt;
  }

 private:
  // The command at `start` (up to `limit`), then the script it hands a shell or eval, then the
  // commands of its run clauses (find -exec), each a command start of its own. A hit's range is
  // in `text`; for a hit inside a nested script it is that script's words.
  std::optional<LocalHit> examine_command(std::string_view text, NeededTexts& needed,
                                          std::size_t start, std::size_t limit, int depth,
                                          const Screening& screening) {
    auto command = find_command(text, start, limit);
    if (!command) return std::nullopt;
    if (auto hit = match_command(text, needed, start, *command, limit, screening)) return hit;
    if (depth >= RuleSet::max_nesting) return std::nullopt;
    if (command->nested && command->nested->text.size() <= nested_budget_) {
      nested_budget_ -= command->nested->text.size();
      if (auto inner = examine(command->nested->text, depth + 1)) {
        inner->begin = command->nested->begin;
        inner->end = command->nested->end;
        return inner;
      }
    }
    // Clauses do not overlap, so each level of them reads the command's window once.
    for (auto clause = next_run_clause(text, command->program, command->word_end, limit); clause;
         clause = next_run_clause(text, command->program, clause->end, limit)) {
      Screening inner = screen(text, clause->begin, clause->end, needed);
      if (inner.passes) continue;
      if (auto hit = examine_command(text, needed, clause->begin, clause->end, depth + 1, inner)) {
        return hit;
      }
    }
    return std::nullopt;
  }

  // The rules see the program's name followed by the rest of the window as written; then, if
  // prefixes were removed, the command as written from its first word (where only the
  // any-program built-ins and the user rules apply).
  std::optional<LocalHit> match_command(std::string_view text, NeededTexts& needed,
                                        std::size_t start, const FoundCommand& command,
                                        std::size_t limit, const Screening& screening) {
    const std::string& program = command.program;
    std::size_t program_length = program.size();
    std::size_t name_begin = command.word_end - std::min(program_length, command.word_end);
    bool name_as_written = command.word_end - command.word_begin >= program_length &&
                           text.substr(name_begin, program_length) == program;
    if (name_as_written) {
      std::string_view candidate = text.substr(name_begin, limit - name_begin);
      RuleMask candidates =
          screening.builtins && screening.word_begin == name_begin
              ? *screening.builtins
              : builtins_for(program, candidate, needed, command.word_begin, limit);
      if (auto match = first_match(candidate, candidates)) {
        return LocalHit{match->rule, std::string(candidate.substr(0, match->length)),
                        command.word_begin, name_begin + match->length};
      }
    } else {
      candidate_.assign(program);
      candidate_.append(text.substr(command.word_end, limit - command.word_end));
      RuleMask candidates = builtins_for(program, candidate_, needed, command.word_begin, limit);
      if (auto match = first_match(candidate_, candidates)) {
        std::size_t end = match->length <= program_length
                              ? command.word_end
                              : command.word_end + (match->length - program_length);
        return LocalHit{match->rule, candidate_.substr(0, match->length), command.word_begin, end};
      }
    }
    std::size_t written_begin = skip_blanks(text, start, limit);
    if (written_begin < name_begin || !name_as_written) {
      std::string_view candidate = text.substr(written_begin, limit - written_begin);
      // Without prefixes the command as written differs only in its name's quoting or path,
      // which the any-program built-ins do not look at.
      RuleMask anywhere =
          written_begin < command.word_begin ? needed.anywhere_within(written_begin, limit) : 0;
      if (auto match = first_match(candidate, anywhere)) {
        return LocalHit{match->rule, std::string(candidate.substr(0, match->length)), written_begin,
                        written_begin + match->length};
      }
    }
    return std::nullopt;
  }

  // Whether the command at `start` can be passed over without reading it: its first word is
  // plain (no quotes, path, assignment or redirection) and names no rule's program and nothing
  // that runs other commands (a wrapper, a shell, eval, find); no any-program rule's text is in
  // its window; there are no user rules. Nearly every command start ends here, which keeps
  // hostile inputs with a start every byte cheap. When it is not passed over for its built-ins
  // alone, they are kept: match_command would work out the same.
  [[nodiscard]] Screening screen(std::string_view text, std::size_t start, std::size_t limit,
                                 NeededTexts& needed) const {
    std::size_t begin = skip_blanks(text, start, limit);
    if (begin == limit) return {.passes = true};
    // No word at all (`((`, `;;`): find_command would find no command.
    char first = text[begin];
    bool redirection = first == '<' || first == '>' ||
                       (first == '&' && begin + 1 < limit && text[begin + 1] == '>');
    if (ends_word(first) && !redirection) return {.passes = true};
    if (rules_.user_rules) return {};
    std::size_t end = begin;
    while (end < limit && is_plain_word_byte(text[end]))
      ++end;
    if (end == begin) return {};
    if (end < limit && (!ends_word(text[end]) || text[end] == '<' || text[end] == '>')) return {};
    std::string_view word = text.substr(begin, end - begin);
    if (runs_other_commands(word)) return {};
    RuleMask builtins = builtins_for(word, text.substr(begin, limit - begin), needed, begin, limit);
    return {.passes = builtins == 0, .builtins = builtins, .word_begin = begin};
  }

  static bool is_plain_word_byte(char c) {
    auto byte = static_cast<unsigned char>(c);
    return (byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z') ||
           (byte >= '0' && byte <= '9') || byte == '_' || byte == '-' || byte == '.' ||
           byte == ',' || byte == ':' || byte == '@' || byte == '%' || byte == '+' || byte >= 0x80;
  }

  // The built-ins worth running on `candidate`, the command of `program` whose text is
  // [begin, limit): those filed under the program whose shortest match fits and whose
  // needed text occurs, and the any-program ones whose needed text occurs.
  [[nodiscard]] RuleMask builtins_for(std::string_view program, std::string_view candidate,
                                      NeededTexts& needed, std::size_t begin,
                                      std::size_t limit) const {
    RuleMask mask = needed.anywhere_within(begin, limit);
    if (program.empty()) return mask;
    if (!rules_.definitions.empty() && defines_function(candidate, program.size())) {
      for (const auto& filed : rules_.definitions) {
        if (reaches_length(candidate, filed.shortest) &&
            needed.present_for(filed.rule, begin, limit))
          mask |= RuleMask{1} << filed.rule;
      }
    }
    for (const auto& entry : rules_.by_program[static_cast<unsigned char>(program[0])]) {
      bool named = entry.prefix ? program.starts_with(entry.name) : program == entry.name;
      if (named && reaches_length(candidate, entry.filed.shortest) &&
          needed.present_for(entry.filed.rule, begin, limit)) {
        mask |= RuleMask{1} << entry.filed.rule;
      }
    }
    return mask;
  }

  // The first of the `candidates` built-ins, then of the user rules, that matches.
  std::optional<RuleMatch> first_match(std::string_view candidate, RuleMask candidates) const {
    re2::StringPiece input(candidate.data(), candidate.size());
    re2::StringPiece span;
    // Asking first whether a rule matches at all lets RE2 answer from its automaton alone;
    // the matched text costs a second, slower run, made only for the rule that matched.
    auto match = [&](std::size_t rule) -> std::optional<RuleMatch> {
      const RE2& pattern = *rules_.patterns[rule];
      if (!pattern.Match(input, 0, input.size(), RE2::ANCHOR_START, nullptr, 0)) return {};
      if (!pattern.Match(input, 0, input.size(), RE2::ANCHOR_START, &span, 1)) return {};
      return RuleMatch{rule, span.size()};
    };
    // A set answers for all its rules in one run; asking it only whether any matches spares
    // it an allocation. Should it fail (out of memory), the rules are tried one by one.
    auto none_can_match = [&](const RE2::Set& rules) {
      RE2::Set::ErrorInfo error{};
      return !rules.Match(input, nullptr, &error) && error.kind == RE2::Set::kNoError;
    };
    if (std::popcount(candidates) > 1 && none_can_match(*rules_.builtin_rules)) candidates = 0;
    for (; candidates != 0; candidates &= candidates - 1) {
      if (auto found = match(static_cast<std::size_t>(std::countr_zero(candidates)))) return found;
    }
    if (!rules_.user_rules || none_can_match(*rules_.user_rules)) return std::nullopt;
    for (std::size_t rule = rules_.builtin_count; rule < rules_.patterns.size(); ++rule) {
      if (auto found = match(rule)) return found;
    }
    return std::nullopt;
  }

  const RuleSet::Compiled& rules_;
  std::size_t nested_budget_;
  std::string candidate_;
};

}  // namespace

std::optional<RuleHit> RuleSet::find_match(std::string_view command) const {
  Examiner examiner(*compiled_, nested_budget_factor * command.size() + nested_budget_floor);
  auto hit = examiner.examine(command, 0);
  if (!hit) return std::nullopt;
  return RuleHit{compiled_->names[hit->rule], std::move(hit->matched), hit->begin, hit->end};
}

}  // namespace pendrel::desktop
