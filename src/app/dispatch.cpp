#include "app/dispatch.h"

#include <array>
#include <string_view>

#include "app/help_text.h"
#include "app/skill.h"
#include "app/version.h"
#include "exec.h"
#include "i18n/catalogue.h"
#include "ls.h"
#include "output/report.h"
#include "transfer.h"

namespace pendrel {
namespace {

int print_help(const Invocation& invocation, Arguments) {
  invocation.output.out.write(help_text(invocation.output.lang));
  return 0;
}

int print_version(const Invocation& invocation, Arguments) {
  std::string line(program_version);
  line += '\n';
  invocation.output.out.write(line);
  return 0;
}

int upload(const Invocation& invocation, Arguments rest) {
  return run_transfer(invocation, Direction::upload, rest);
}

int download(const Invocation& invocation, Arguments rest) {
  return run_transfer(invocation, Direction::download, rest);
}

struct Command {
  std::string_view name;
  int (*run)(const Invocation&, Arguments rest);
};

constexpr std::array commands{
    Command{"help", print_help},         Command{"--help", print_help},
    Command{"-h", print_help},           Command{"version", print_version},
    Command{"--version", print_version}, Command{"-v", print_version},
    Command{"-V", print_version},        Command{"ls", run_ls},
    Command{"exec", run_exec},           Command{"upload", upload},
    Command{"download", download},       Command{"skill", run_skill},
};

}  // namespace

int dispatch(const Invocation& invocation, Arguments arguments) {
  Output& output = invocation.output;
  if (arguments.empty()) {
    output.err.write(help_text(output.lang));
    return 1;
  }
  const std::string& name = arguments.front();
  for (const Command& command : commands) {
    if (command.name == name) return command.run(invocation, arguments.subspan(1));
  }
  return report_usage(output, format_message(messages::unknown_command, output.lang, name));
}

}  // namespace pendrel
