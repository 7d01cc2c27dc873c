#include "mcp/tool_result.h"

#include "mcp/output_bound.h"
#include "protocol/json_writer.h"

namespace pendrel::mcp {
namespace {

std::string hosts_content(const HostsAnswer& answer) {
  JsonWriter json;
  json.begin_object().key("ok").boolean(true).key("hosts").begin_array();
  for (const HostSummary& host : answer.hosts) {
    json.begin_object().key("id").string(host.id).key("name").string(host.name);
    json.key("host").string(host.host).key("port").unsigned_integer(host.port);
    json.key("username").string(host.username).key("protocol").string(host.protocol);
    json.end_object();
  }
  json.end_array().end_object();
  return json.take();
}

std::string exec_content(const ExecResponse& answer, std::size_t output_bound, Language language) {
  BoundedOutput output =
      bound_output(answer.stdout_text, answer.stderr_text, output_bound, language);
  JsonWriter json;
  json.begin_object().key("ok").boolean(true).key("exitCode").integer(answer.exit_code);
  json.key("stdout").string(output.stdout_text).key("stderr").string(output.stderr_text);
  json.key("truncated").boolean(answer.truncated || output.cut);
  json.key("durationMs").unsigned_integer(answer.duration_ms).end_object();
  return json.take();
}

std::string transfer_content(const TransferResponse& answer) {
  JsonWriter json;
  json.begin_object().key("ok").boolean(true).key("local").string(answer.local);
  json.key("remote").string(answer.remote).key("bytes").unsigned_integer(answer.bytes);
  json.key("durationMs").unsigned_integer(answer.duration_ms).end_object();
  return json.take();
}

std::string failure_content(const CliFailure& failure, Language language) {
  JsonWriter json;
  json.begin_object().key("ok").boolean(false).key("error").string(failure.code);
  json.key("message").string(shown_message(failure, language));
  json.key("pendrelExitCode").unsigned_integer(failure.exit_code).end_object();
  return json.take();
}

std::string call_result(const std::string& content, bool is_error, Era era) {
  JsonWriter json;
  json.begin_object().key("content").begin_array().begin_object();
  json.key("type").string("text").key("text").string(content).end_object().end_array();
  json.key("structuredContent").written_value(content).key("isError").boolean(is_error);
  if (era == Era::stateless) json.key("resultType").string("complete");
  json.end_object();
  return json.take();
}

}  // namespace

std::string answer_result(Tool tool, const Response& answer, std::size_t output_bound,
                          Language language, Era era) {
  const auto* hosts = std::get_if<HostsAnswer>(&answer);
  if (hosts != nullptr && tool == Tool::list_hosts) {
    return call_result(hosts_content(*hosts), false, era);
  }
  const auto* exec = std::get_if<ExecResponse>(&answer);
  if (exec != nullptr && tool == Tool::exec) {
    return call_result(exec_content(*exec, output_bound, language), false, era);
  }
  const auto* transfer = std::get_if<TransferResponse>(&answer);
  if (transfer != nullptr && (tool == Tool::upload || tool == Tool::download)) {
    return call_result(transfer_content(*transfer), false, era);
  }
  return failure_result(unexpected_answer_failure(answer, language), language, era);
}

std::string failure_result(const CliFailure& failure, Language language, Era era) {
  return call_result(failure_content(failure, language), true, era);
}

}  // namespace pendrel::mcp
