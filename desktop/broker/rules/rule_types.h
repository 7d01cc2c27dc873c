// The vocabulary of the dangerous-command rules: a rule hit, a user rule, the stored settings.
#pragma once

#include <chrono>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace pendrel::desktop {

// The first rule a command text matched.
struct RuleHit {
  std::string rule;     // the rule's stable name ("rm-root", or a user rule's name)
  std::string matched;  // the text the rule's pattern matched, after prefixes were removed
  // Where the match lies in the checked text, as a byte range [begin, end) for marking it.
  // For a match inside `sh -c '…'`, the range covers that shell's script word.
  std::size_t begin = 0;
  std::size_t end = 0;

  friend bool operator==(const RuleHit&, const RuleHit&) = default;
};

// A rule a person added: a name of their choosing and an RE2 pattern anchored at a command start.
struct UserRule {
  std::string name;
  std::string pattern;
  bool enabled = true;

  friend bool operator==(const UserRule&, const UserRule&) = default;
};

// What happens when a command matches a rule.
enum class OnMatch {
  ask,    // put it to a person at a console when one is attached, else block
  block,  // block outright, never ask
};

// The rules part of the service's settings, as stored in the vault's settings.
struct RuleSettings {
  std::vector<UserRule> user_rules;
  std::vector<std::string> disabled_builtins;  // names of built-in rules that are off
  OnMatch on_match = OnMatch::ask;
  // How long a request waits for a person's answer before it is denied.
  std::chrono::seconds approval_timeout{60};

  friend bool operator==(const RuleSettings&, const RuleSettings&) = default;
};

// The bounds of approval_timeout that the settings accept.
inline constexpr std::chrono::seconds min_approval_timeout{1};
inline constexpr std::chrono::seconds max_approval_timeout{600};

}  // namespace pendrel::desktop
