#include "exec.h"

#include <unistd.h>

#include <cerrno>
#include <vector>

#include "app/connect.h"
#include "caller/caller.h"
#include "i18n/catalogue.h"
#include "output/report.h"
#include "protocol/json_writer.h"
#include "protocol/os_error.h"
#include "protocol/utf8.h"
#include "protocol/white_space.h"

namespace pendrel {
namespace {

constexpr std::string_view stdin_flag = "--stdin";
constexpr std::string_view byte_order_mark = "\xEF\xBB\xBF";

// Reads `fd` to its end but never more than `limit` bytes; or the errno of the failing read.
std::expected<std::string, int> read_at_most(int fd, std::size_t limit) {
  std::string data(limit, '\0');
  std::size_t filled = 0;
  while (filled < limit) {
    ssize_t count = ::read(fd, data.data() + filled, limit - filled);
    if (count < 0) {
      if (errno == EINTR) continue;
      return std::unexpected(errno);
    }
    if (count == 0) break;
    filled += static_cast<std::size_t>(count);
  }
  data.resize(filled);
  return data;
}

// The command text from standard input. One byte past the limit is enough to know the input
// is too long, without waiting for the rest of it.
std::expected<std::string, std::string> read_stdin_command(int stdin_fd, Language language) {
  auto input = read_at_most(stdin_fd, max_stdin_bytes + 1);
  if (!input) {
    return std::unexpected(
        format_message(messages::stdin_read_failed, language, os_error_text(input.error())));
  }
  if (input->size() > max_stdin_bytes) {
    return std::unexpected(std::string(messages::stdin_too_large.in(language)));
  }
  if (!is_valid_utf8(*input)) {
    return std::unexpected(std::string(messages::stdin_not_utf8.in(language)));
  }
  if (input->starts_with(byte_order_mark)) input->erase(0, byte_order_mark.size());
  return std::move(*input);
}

// Written in pieces as it is built, so that a large output is never held twice.
void write_exec_json(LineBufferedSink& out, const ExecResponse& result) {
  JsonWriter json([&](std::string_view piece) { out.write_through(piece); }, json_piece_bytes);
  json.begin_object()
      .key("exitCode")
      .integer(result.exit_code)
      .key("stdout")
      .string(result.stdout_text)
      .key("stderr")
      .string(result.stderr_text)
      .key("truncated")
      .boolean(result.truncated)
      .key("durationMs")
      .unsigned_integer(result.duration_ms)
      .end_object();
  out.write(json.take_line());
}

// Text mode: passed through as the remote command wrote them, no label, no line feed added.
void print_exec_text(Output& output, std::string_view stdout_text, std::string_view stderr_text,
                     bool truncated) {
  output.out.write(stdout_text);
  output.err.write(stderr_text);
  if (truncated) {
    output.err.write(
        format_message(messages::output_truncated, output.lang, truncation_notice_bytes));
  }
}

void print_exec_result(Output& output, const ExecResponse& result) {
  if (output.json) {
    write_exec_json(output.out, result);
    return;
  }
  print_exec_text(output, result.stdout_text, result.stderr_text, result.truncated);
}

// The answer's "data" is already the JSON result, byte for byte; text is decoded where it lies.
void print_canonical_exec(Output& output, CanonicalExec& result) {
  if (output.json) {
    output.out.write_through(result.json);
    output.out.write("\n");
    return;
  }
  print_exec_text(output, result.stdout_text.text_in_place(), result.stderr_text.text_in_place(),
                  result.truncated);
}

}  // namespace

std::expected<ExecArgs, std::string> parse_exec_arguments(Arguments rest, int stdin_fd,
                                                          Language language) {
  std::vector<std::string> remaining(rest.begin(), rest.end());
  ExecArgs parsed;
  if (!remaining.empty() && remaining[0] == "--terminal") {
    parsed.terminal = TerminalMode::on;
    remaining.erase(remaining.begin());
  } else if (remaining.size() >= 2 && remaining[1] == "--terminal") {
    parsed.terminal = TerminalMode::on;
    remaining.erase(remaining.begin() + 1);
  }
  if (remaining.size() != 2) return std::unexpected(std::string(messages::usage_exec.in(language)));
  parsed.host = std::move(remaining[0]);
  if (remaining[1] == stdin_flag) {
    auto command = read_stdin_command(stdin_fd, language);
    if (!command) return std::unexpected(std::move(command.error()));
    parsed.command = std::move(*command);
  } else {
    parsed.command = std::move(remaining[1]);
  }
  // The test only: the command is sent with its white space.
  if (trim_white_space(parsed.command).empty()) {
    return std::unexpected(std::string(messages::command_empty.in(language)));
  }
  return parsed;
}

int run_exec(const Invocation& invocation, Arguments rest) {
  Output& output = invocation.output;
  auto parsed = parse_exec_arguments(rest, invocation.stdin_fd, output.lang);
  if (!parsed) return report_usage(output, parsed.error());

  ExecRequest request{std::move(parsed->host), std::move(parsed->command), parsed->terminal,
                      current_caller_list()};
  auto result =
      request_printable_answer<CanonicalExec, ExecResponse>(invocation, std::move(request));
  if (!result) return result.error();

  // The process exit keeps only the low eight bits: 256 is seen as 0, -1 as 255.
  if (auto* canonical = std::get_if<CanonicalExec>(&result->answer)) {
    print_canonical_exec(output, *canonical);
    return canonical->exit_code;
  }
  const auto& decoded = std::get<ExecResponse>(result->answer);
  print_exec_result(output, decoded);
  return decoded.exit_code;
}

}  // namespace pendrel
