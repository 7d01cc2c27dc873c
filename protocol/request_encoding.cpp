// Requests and the Hello as the exact compact JSON the desktop application reads.
#include "protocol/json_writer.h"
#include "protocol/messages.h"

namespace pendrel {
namespace {

void write_strings(JsonWriter& json, const std::vector<std::string>& texts) {
  json.begin_array();
  for (const auto& text : texts)
    json.string(text);
  json.end_array();
}

struct RequestWriter {
  JsonWriter& json;

  void operator()(const ListHostsRequest& request) const {
    json.key("type").string("listHosts");
    json.key("data").begin_object().key("query").string(request.query).end_object();
  }
  void operator()(const ExecRequest& request) const {
    json.key("type").string("exec");
    json.key("data").begin_object();
    json.key("host").string(request.host).key("command").string(request.command);
    if (request.terminal == TerminalMode::on) json.key("terminal").boolean(true);
    if (!request.caller.empty()) write_strings(json.key("caller"), request.caller);
    json.end_object();
  }
  void operator()(const UploadRequest& request) const { transfer("upload", request); }
  void operator()(const DownloadRequest& request) const { transfer("download", request); }
  void operator()(const ActivateRequest& request) const {
    json.key("type").string("activate");
    json.key("data").begin_object();
    write_strings(json.key("args"), request.args);
    if (!request.files.empty()) {
      json.key("files").begin_array();
      for (const auto& file : request.files) {
        json.begin_object().key("path").string(file.path).key("data").begin_array();
        for (std::uint8_t byte : file.data)
          json.unsigned_integer(byte);
        json.end_array().end_object();
      }
      json.end_array();
    }
    json.end_object();
  }
  void operator()(const QuitRequest&) const { json.key("type").string("quit"); }

  void transfer(std::string_view type, const TransferRequest& request) const {
    json.key("type").string(type);
    json.key("data").begin_object();
    json.key("host").string(request.host);
    json.key("local").string(request.local);
    json.key("remote").string(request.remote);
    if (!request.caller.empty()) write_strings(json.key("caller"), request.caller);
    json.end_object();
  }
};

}  // namespace

std::string encode_request(const Request& request) {
  JsonWriter json;
  json.begin_object();
  std::visit(RequestWriter{json}, request);
  json.end_object();
  return json.take();
}

std::string encode_hello(const Hello& hello) {
  JsonWriter json;
  json.begin_object()
      .key("protocol")
      .unsigned_integer(hello.protocol)
      .key("client")
      .string(hello.client)
      .key("lang")
      .string(hello.lang)
      .end_object();
  return json.take();
}

}  // namespace pendrel
