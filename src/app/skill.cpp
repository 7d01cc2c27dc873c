#include "app/skill.h"

#include <array>
#include <optional>
#include <string>
#include <variant>

#include "i18n/catalogue.h"
#include "output/report.h"
#include "protocol/json_writer.h"
#include "protocol/lexical_path.h"
#include "protocol/os_error.h"
#include "protocol/skill_install.h"
#include "protocol/utf8.h"

namespace pendrel {
namespace {

enum class SkillTarget { claude, agents, workbuddy };

struct AgentName {
  std::string_view name;
  SkillTarget target;
};

// Compared exactly: "Claude" is not an agent we know.
constexpr std::array agent_names{
    AgentName{"claude", SkillTarget::claude},
    AgentName{"agents", SkillTarget::agents},
    AgentName{"codex", SkillTarget::agents},
    AgentName{"workbuddy", SkillTarget::workbuddy},
};

struct PrintSkill {};
struct InstallForAgent {
  SkillTarget target;
};
struct InstallIntoDirectory {
  std::string directory;
};
using SkillRequest = std::variant<PrintSkill, InstallForAgent, InstallIntoDirectory>;

// Nothing when the arguments have none of the accepted shapes.
std::optional<SkillRequest> parse_skill_arguments(Arguments rest) {
  if (rest.empty()) return PrintSkill{};
  if (rest[0] != "install") return std::nullopt;
  if (rest.size() == 1) return InstallForAgent{SkillTarget::claude};
  if (rest.size() != 3) return std::nullopt;
  if (rest[1] == "--agent") {
    for (const AgentName& agent : agent_names) {
      if (agent.name == rest[2]) return InstallForAgent{agent.target};
    }
    return std::nullopt;
  }
  if (rest[1] == "--dir" && !rest[2].empty()) return InstallIntoDirectory{rest[2]};
  return std::nullopt;
}

std::string skills_directory_of(SkillTarget target, std::string_view home,
                                const Environment& environment) {
  switch (target) {
    case SkillTarget::claude:
      if (auto config = environment.get_non_empty("CLAUDE_CONFIG_DIR");
          config && is_valid_utf8(*config)) {
        return join_path(*config, "skills");
      }
      return join_path(home, ".claude/skills");
    case SkillTarget::agents:
      return join_path(home, ".agents/skills");
    case SkillTarget::workbuddy:
      return join_path(home, ".workbuddy/skills");
  }
  return join_path(home, ".claude/skills");
}

void print_installed(Output& output, const std::string& file_path, SkillFilePreviously previously) {
  std::string shown = to_display_text(file_path);
  bool replaced = previously == SkillFilePreviously::present;
  if (output.json) {
    JsonWriter json;
    json.begin_object().key("path").string(shown).key("replaced").boolean(replaced).end_object();
    output.out.write(json.take_line());
    return;
  }
  output.out.write(format_message(replaced ? messages::skill_replaced : messages::skill_installed,
                                  output.lang, shown) +
                   '\n');
}

int install_skill(Output& output, const std::string& skills_directory) {
  auto absolute = make_absolute(skills_directory);
  if (!absolute) {
    return report_error(output, 1, "skill_install_failed", os_error_text(absolute.error()));
  }
  std::string file_path = join_path(join_path(*absolute, "pendrel"), "SKILL.md");
  auto installed = install_skill_file(file_path, skill_text());
  if (!installed) return report_error(output, 1, "skill_install_failed", installed.error().text());
  print_installed(output, file_path, *installed);
  return 0;
}

}  // namespace

std::string_view skill_text() {
  static constexpr std::string_view text =
#include "skill_text.inc"
      ;
  return text;
}

int run_skill(const Invocation& invocation, Arguments rest) {
  Output& output = invocation.output;
  std::optional<SkillRequest> request = parse_skill_arguments(rest);
  if (!request) return report_usage(output, messages::usage_skill.in(output.lang));

  if (std::holds_alternative<PrintSkill>(*request)) {
    output.out.write(skill_text());
    return 0;
  }
  if (auto* into = std::get_if<InstallIntoDirectory>(&*request)) {
    return install_skill(output, into->directory);
  }
  // Checked even when CLAUDE_CONFIG_DIR would make the home directory unnecessary, so that
  // the same environment always gives the same answer for every agent.
  auto home = invocation.environment.get_non_empty("HOME");
  if (!home) return report_usage(output, messages::home_unknown.in(output.lang));
  return install_skill(output, skills_directory_of(std::get<InstallForAgent>(*request).target,
                                                   *home, invocation.environment));
}

}  // namespace pendrel
