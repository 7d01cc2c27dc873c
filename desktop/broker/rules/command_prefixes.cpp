#include "desktop/broker/rules/command_prefixes.h"

#include <algorithm>
#include <array>

#include "desktop/broker/rules/run_clauses.h"
#include "desktop/broker/rules/shell_words.h"

namespace pendrel::desktop {
namespace {

// A program that runs the rest of its arguments as a command, and how to step over its options.
struct Wrapper {
  std::string_view name;
  std::string_view short_with_value;  // option letters that take a value
  std::string_view long_with_value;   // long options that take a value, each between blanks
  int operands = 0;                   // words between the options and the command
  char script_option = 0;             // the option whose value is a command line
  std::string_view script_long_option;
  std::string_view refusing_letters;  // options that make it not run anything (command -v)
};

constexpr std::array wrappers = {
    Wrapper{"sudo", "ughpCrtUDT",
            " user group host prompt close-from role type other-user chdir command-timeout "},
    Wrapper{"doas", "uC", ""},
    Wrapper{"env", "uCS", " unset chdir split-string ", 0, 'S', "split-string"},
    Wrapper{"timeout", "sk", " signal kill-after ", 1},
    Wrapper{"nice", "n", " adjustment "},
    Wrapper{"ionice", "cnpPu", " class classdata pid pgid uid "},
    Wrapper{"nohup", "", ""},
    Wrapper{"time", "fo", " format output "},
    Wrapper{"command", "", "", 0, 0, "", "vV"},
    Wrapper{"exec", "a", ""},
    Wrapper{"setsid", "", ""},
    Wrapper{"stdbuf", "ioe", " input output error "},
    Wrapper{"xargs", "nIPLsdEa", " max-args max-procs max-lines max-chars delimiter arg-file "},
    Wrapper{"busybox", "", ""},
};

constexpr std::array<std::string_view, 4> shells = {"sh", "bash", "dash", "zsh"};

// A cheap first test, since nearly every command is neither (the check runs at every start).
bool may_be_wrapper_or_shell(std::string_view program) {
  if (program.size() < 2 || program.size() > 7) return false;
  switch (program[0]) {
    case 'b':
    case 'c':
    case 'd':
    case 'e':
    case 'f':
    case 'i':
    case 'n':
    case 's':
    case 't':
    case 'x':
    case 'z':
      return true;
    default:
      return false;
  }
}

bool lists_word(std::string_view list, std::string_view word) {
  if (word.empty()) return false;
  for (std::size_t at = list.find(word); at != std::string_view::npos;
       at = list.find(word, at + 1)) {
    if (at > 0 && list[at - 1] == ' ' && at + word.size() < list.size() &&
        list[at + word.size()] == ' ') {
      return true;
    }
  }
  return false;
}

std::string program_name(std::string_view unquoted) {
  std::string name;
  for (char c : unquoted) {
    if (c != '"' && c != '\'' && c != '\\') name += c;
  }
  std::size_t slash = name.rfind('/');
  if (slash != std::string::npos) name.erase(0, slash + 1);
  return name;
}

struct OptionsEnd {
  std::size_t pos = 0;
  bool refused = false;
  std::optional<NestedScript> script;
};

// Steps over a wrapper's options and operands, starting after its name.
OptionsEnd skip_wrapper_options(std::string_view text, std::size_t pos, std::size_t limit,
                                const Wrapper& wrapper) {
  OptionsEnd result;
  for (;;) {
    std::size_t begin = skip_blanks(text, pos, limit);
    if (!at_word(text, begin, limit)) break;
    ShellWord word = read_shell_word(text, begin, limit);
    std::string_view option = word.text;
    if (option.size() < 2 || option[0] != '-') break;
    pos = word.end;
    if (option == "--") break;
    std::optional<ShellWord> value;
    bool is_script = false;
    auto read_value = [&] {
      std::size_t value_begin = skip_blanks(text, pos, limit);
      if (!at_word(text, value_begin, limit)) return;
      value = read_shell_word(text, value_begin, limit);
      pos = value->end;
    };
    if (option[1] == '-') {
      std::size_t equals = option.find('=');
      std::string_view name =
          option.substr(2, equals == std::string_view::npos ? option.npos : equals - 2);
      is_script = !wrapper.script_long_option.empty() && name == wrapper.script_long_option;
      if (equals != std::string_view::npos) {
        value = ShellWord{std::string(option.substr(equals + 1)), word.end};
      } else if (lists_word(wrapper.long_with_value, name)) {
        read_value();
      }
    } else {
      for (std::size_t i = 1; i < option.size(); ++i) {
        char letter = option[i];
        if (wrapper.refusing_letters.find(letter) != std::string_view::npos) {
          result.refused = true;
          return result;
        }
        if (wrapper.short_with_value.find(letter) == std::string_view::npos) continue;
        is_script = wrapper.script_option != 0 && letter == wrapper.script_option;
        if (i + 1 < option.size()) {
          value = ShellWord{std::string(option.substr(i + 1)), word.end};
        } else {
          read_value();
        }
        break;
      }
    }
    if (is_script && value) {
      result.script = NestedScript{std::move(value->text), begin, pos};
      result.pos = pos;
      return result;
    }
  }
  for (int operand = 0; operand < wrapper.operands; ++operand) {
    std::size_t begin = skip_blanks(text, pos, limit);
    if (!at_word(text, begin, limit)) break;
    pos = read_shell_word(text, begin, limit).end;
  }
  result.pos = pos;
  return result;
}

// The script of `sh -c SCRIPT`, starting after the shell's name; nothing without -c.
std::optional<NestedScript> find_shell_script(std::string_view text, std::size_t pos,
                                              std::size_t limit) {
  bool runs_script = false;
  for (;;) {
    std::size_t begin = skip_blanks(text, pos, limit);
    if (!at_word(text, begin, limit)) break;
    ShellWord word = read_shell_word(text, begin, limit);
    std::string_view option = word.text;
    if (option.empty() || (option[0] != '-' && option[0] != '+')) break;
    pos = word.end;
    if (option == "--" || option == "-") break;
    bool takes_value = false;
    if (option.starts_with("--")) {
      takes_value = option == "--rcfile" || option == "--init-file";
    } else {
      for (std::size_t i = 1; i < option.size(); ++i) {
        if (option[i] == 'c' && option[0] == '-') runs_script = true;
        if (option[i] == 'o' || option[i] == 'O') {
          takes_value = i + 1 == option.size();
          break;
        }
      }
    }
    if (takes_value) {
      std::size_t value_begin = skip_blanks(text, pos, limit);
      if (at_word(text, value_begin, limit)) pos = read_shell_word(text, value_begin, limit).end;
    }
  }
  if (!runs_script) return std::nullopt;
  std::size_t begin = skip_blanks(text, pos, limit);
  if (!at_word(text, begin, limit)) return std::nullopt;
  ShellWord script = read_shell_word(text, begin, limit);
  return NestedScript{std::move(script.text), begin, script.end};
}

// The text `eval` runs: its words with their quoting removed, joined by spaces, as far as the
// command goes. Nothing when it has no words.
std::optional<NestedScript> find_eval_script(std::string_view text, std::size_t pos,
                                             std::size_t limit) {
  std::optional<NestedScript> script;
  for (;;) {
    std::size_t begin = skip_blanks(text, pos, limit);
    if (!at_word(text, begin, limit)) break;
    if (!script) {
      ShellWord word = read_shell_word(text, begin, limit);
      pos = word.end;
      if (word.text != "--") script = NestedScript{std::move(word.text), begin, word.end};
      continue;
    }
    script->text += ' ';
    pos = append_shell_word(text, begin, limit, script->text);
    script->end = pos;
  }
  return script;
}

// The position after a redirection at `pos` (2>/dev/null, >file, &>log, <<EOF, >&2) and its
// target word, or nothing when no redirection starts there.
std::optional<std::size_t> skip_redirection(std::string_view text, std::size_t pos,
                                            std::size_t limit) {
  std::size_t at = pos;
  while (at < limit && text[at] >= '0' && text[at] <= '9')
    ++at;
  if (at + 1 < limit && text[at] == '&' && text[at + 1] == '>') ++at;
  if (at >= limit || (text[at] != '<' && text[at] != '>')) return std::nullopt;
  while (at < limit && (text[at] == '<' || text[at] == '>' || text[at] == '&' || text[at] == '|' ||
                        text[at] == '-')) {
    ++at;
  }
  at = skip_blanks(text, at, limit);
  if (at_word(text, at, limit)) at = read_shell_word(text, at, limit).end;
  return at;
}

}  // namespace

bool runs_other_commands(std::string_view program) {
  return may_be_wrapper_or_shell(program) &&
         (std::ranges::find(wrappers, program, &Wrapper::name) != wrappers.end() ||
          std::ranges::find(shells, program) != shells.end() || program == "eval" ||
          has_run_clauses(program));
}

std::optional<FoundCommand> find_command(std::string_view text, std::size_t start,
                                         std::size_t limit) {
  std::size_t pos = start;
  std::optional<std::size_t> first_redirection;
  for (;;) {
    std::size_t begin = skip_blanks(text, pos, limit);
    if (auto after = skip_redirection(text, begin, limit)) {
      if (!first_redirection) first_redirection = begin;
      pos = *after;
      continue;
    }
    if (!at_word(text, begin, limit)) {
      // Only redirections (`> /dev/sda`): the rules see them as the command.
      if (first_redirection) return FoundCommand{"", *first_redirection, *first_redirection, {}};
      return std::nullopt;
    }
    ShellWord word = read_shell_word(text, begin, limit);
    pos = word.end;
    if (is_assignment(text.substr(begin, word.end - begin))) continue;
    FoundCommand found{program_name(word.text), begin, word.end, std::nullopt};
    if (!may_be_wrapper_or_shell(found.program)) return found;
    auto wrapper = std::ranges::find(wrappers, std::string_view(found.program), &Wrapper::name);
    if (wrapper != wrappers.end()) {
      OptionsEnd options = skip_wrapper_options(text, pos, limit, *wrapper);
      if (options.refused) return found;
      if (options.script) {
        found.nested = std::move(options.script);
        return found;
      }
      pos = options.pos;
      continue;
    }
    if (std::ranges::find(shells, std::string_view(found.program)) != shells.end()) {
      found.nested = find_shell_script(text, pos, limit);
    } else if (found.program == "eval") {
      found.nested = find_eval_script(text, pos, limit);
    }
    return found;
  }
}

}  // namespace pendrel::desktop
