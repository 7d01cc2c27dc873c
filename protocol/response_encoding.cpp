// Answers as compact JSON, written with the project's writer.
#include "protocol/response_encoding.h"

#include "protocol/json_writer.h"

namespace pendrel {
namespace {

struct ResponseWriter {
  JsonWriter& json;

  void operator()(const Welcome& welcome) const {
    json.key("type").string("welcome");
    json.key("data").begin_object();
    json.key("protocol").unsigned_integer(welcome.protocol);
    json.key("appVersion").string(welcome.app_version);
    json.end_object();
  }
  void operator()(const HostsAnswer& answer) const {
    json.key("type").string("hosts");
    json.key("data").begin_array();
    for (const auto& host : answer.hosts) {
      json.begin_object();
      json.key("id").string(host.id).key("name").string(host.name);
      json.key("host").string(host.host).key("port").unsigned_integer(host.port);
      json.key("username").string(host.username).key("protocol").string(host.protocol);
      json.end_object();
    }
    json.end_array();
  }
  void operator()(const ExecResponse& result) const {
    json.key("type").string("exec");
    json.key("data").begin_object();
    json.key("exitCode").integer(result.exit_code);
    json.key("stdout").string(result.stdout_text);
    json.key("stderr").string(result.stderr_text);
    json.key("truncated").boolean(result.truncated);
    json.key("durationMs").unsigned_integer(result.duration_ms);
    json.end_object();
  }
  void operator()(const TransferResponse& result) const {
    json.key("type").string("transfer");
    json.key("data").begin_object();
    json.key("local").string(result.local).key("remote").string(result.remote);
    json.key("bytes").unsigned_integer(result.bytes);
    json.key("durationMs").unsigned_integer(result.duration_ms);
    json.end_object();
  }
  void operator()(const OkAnswer&) const { json.key("type").string("ok"); }
  void operator()(const ErrorBody& error) const {
    json.key("type").string("error");
    json.key("data").begin_object();
    json.key("code").string(error.code).key("message").string(error.message);
    json.end_object();
  }
};

}  // namespace

std::string encode_response(const Response& response) {
  JsonWriter json;
  json.begin_object();
  std::visit(ResponseWriter{json}, response);
  json.end_object();
  return json.take();
}

}  // namespace pendrel
