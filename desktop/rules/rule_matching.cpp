// RuleSet::find_match: walks the command starts of a text and tries the rules at each.
#include <algorithm>
#include <array>
#include <string>
#include <vector>

#include "desktop/rules/command_prefixes.h"
#include "desktop/rules/command_starts.h"
#include "desktop/rules/compiled_rules.h"
#include "desktop/rules/line_joining.h"
#include "desktop/rules/rule_set.h"
#include "desktop/rules/shell_words.h"

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

class Examiner {
 public:
  Examiner(const RuleSet::Compiled& rules, std::size_t nested_budget)
      : rules_(rules), nested_budget_(nested_budget) {}

  std::optional<LocalHit> examine(std::string_view script, int depth) {
    JoinedScript joined(script);
    std::string_view text = joined.text();
    auto map_range = [&](std::size_t begin, std::size_t end) {
      std::size_t mapped_begin = joined.original_offset(begin);
      std::size_t mapped_end = end > begin ? joined.original_offset(end - 1) + 1 : mapped_begin;
      return std::pair{mapped_begin, mapped_end};
    };
    // The starts ahead of the current one, in a ring: the window of a start ends at the
    // start `window_starts` further on.
    CommandStarts starts(text, joined.continuation_starts());
    std::array<std::size_t, RuleSet::window_starts + 1> ring{};
    for (std::size_t& slot : ring)
      slot = starts.next();
    std::size_t line_end = CommandStarts::none;
    for (std::size_t index = 0; ring[index % ring.size()] != CommandStarts::none; ++index) {
      std::size_t start = ring[index % ring.size()];
      std::size_t window_end = ring[(index + RuleSet::window_starts) % ring.size()];
      ring[index % ring.size()] = window_end == CommandStarts::none ? window_end : starts.next();
      if (line_end == CommandStarts::none || start > line_end) {
        line_end = start;
        while (line_end < text.size() && !is_line_break(text[line_end]))
          ++line_end;
      }
      std::size_t limit = std::min(line_end, window_end);
      auto command = find_command(text, start, limit);
      if (!command) continue;
      if (auto hit = match_command(text, start, *command, limit)) {
        auto [begin, end] = map_range(hit->begin, hit->end);
        hit->begin = begin;
        hit->end = end;
        return hit;
      }
      if (command->nested && depth < RuleSet::max_nesting &&
          command->nested->text.size() <= nested_budget_) {
        nested_budget_ -= command->nested->text.size();
        if (auto inner = examine(command->nested->text, depth + 1)) {
          auto [begin, end] = map_range(command->nested->begin, command->nested->end);
          inner->begin = begin;
          inner->end = end;
          return inner;
        }
      }
    }
    return std::nullopt;
  }

 private:
  // The rules see the program's name followed by the rest of the window as written; then, if
  // prefixes were removed, the command as written from its first word.
  std::optional<LocalHit> match_command(std::string_view text, std::size_t start,
                                        const FoundCommand& command, std::size_t limit) {
    const std::string& program = command.program;
    std::size_t program_length = program.size();
    std::size_t name_begin = command.word_end - std::min(program_length, command.word_end);
    bool name_as_written = command.word_end - command.word_begin >= program_length &&
                           text.substr(name_begin, program_length) == program;
    if (name_as_written) {
      if (auto hit = match_at(text, name_begin, limit)) return hit;
    } else {
      candidate_.assign(program);
      candidate_.append(text.substr(command.word_end, limit - command.word_end));
      if (auto rule = first_matching_rule(candidate_)) {
        std::size_t length = match_length(*rule, candidate_);
        std::size_t end = length <= program_length ? command.word_end
                                                   : command.word_end + (length - program_length);
        return LocalHit{*rule, candidate_.substr(0, length), command.word_begin, end};
      }
    }
    std::size_t written_begin = skip_blanks(text, start, limit);
    if (written_begin < name_begin || !name_as_written) {
      return match_at(text, written_begin, limit);
    }
    return std::nullopt;
  }

  std::optional<LocalHit> match_at(std::string_view text, std::size_t begin, std::size_t limit) {
    std::string_view candidate = text.substr(begin, limit - begin);
    auto rule = first_matching_rule(candidate);
    if (!rule) return std::nullopt;
    std::size_t length = match_length(*rule, candidate);
    return LocalHit{*rule, std::string(candidate.substr(0, length)), begin, begin + length};
  }

  std::size_t match_length(std::size_t rule, std::string_view candidate) const {
    re2::StringPiece span;
    re2::StringPiece input(candidate.data(), candidate.size());
    if (rules_.patterns[rule]->Match(input, 0, input.size(), RE2::ANCHOR_START, &span, 1)) {
      return span.size();
    }
    return 0;
  }

  std::optional<std::size_t> first_matching_rule(std::string_view candidate) const {
    if (!rules_.any) return std::nullopt;
    re2::StringPiece input(candidate.data(), candidate.size());
    // Asking only whether any rule matches spares the set an allocation; nearly every start
    // matches none, and the few that do are resolved rule by rule below.
    RE2::Set::ErrorInfo error{};
    if (!rules_.any->Match(input, nullptr, &error) && error.kind == RE2::Set::kNoError) {
      return std::nullopt;
    }
    for (std::size_t i = 0; i < rules_.patterns.size(); ++i) {
      if (rules_.patterns[i]->Match(input, 0, input.size(), RE2::ANCHOR_START, nullptr, 0)) {
        return i;
      }
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
