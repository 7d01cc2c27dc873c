// The debug rendering of an answer, shown in messages about answers of the wrong kind.
#include <cstdio>

#include "protocol/messages.h"

namespace pendrel {
namespace {

void append_quoted(std::string& out, std::string_view text) {
  out += '"';
  for (char c : text) {
    auto byte = static_cast<unsigned char>(c);
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\0':
        out += "\\0";
        break;
      default:
        if (byte < 0x20 || byte == 0x7f) {
          char escaped[12];
          std::snprintf(escaped, sizeof escaped, "\\u{%x}", byte);
          out += escaped;
        } else {
          out += c;
        }
    }
  }
  out += '"';
}

// Renders `Name { field: value, ... }`.
class RecordRenderer {
 public:
  RecordRenderer(std::string& out, std::string_view type_name) : out_(out) {
    out_ += type_name;
    out_ += " { ";
  }
  RecordRenderer& text(std::string_view name, std::string_view value) {
    begin_field(name);
    append_quoted(out_, value);
    return *this;
  }
  RecordRenderer& number(std::string_view name, std::string value) {
    begin_field(name);
    out_ += value;
    return *this;
  }
  RecordRenderer& flag(std::string_view name, bool value) {
    return number(name, value ? "true" : "false");
  }
  void finish() { out_ += " }"; }

 private:
  void begin_field(std::string_view name) {
    if (!first_) out_ += ", ";
    first_ = false;
    out_ += name;
    out_ += ": ";
  }

  std::string& out_;
  bool first_ = true;
};

void render(std::string& out, const HostSummary& host) {
  RecordRenderer(out, "HostSummary")
      .text("id", host.id)
      .text("name", host.name)
      .text("host", host.host)
      .number("port", std::to_string(host.port))
      .text("username", host.username)
      .text("protocol", host.protocol)
      .finish();
}

struct AnswerRenderer {
  std::string& out;

  void operator()(const Welcome& welcome) const {
    out += "Welcome(";
    RecordRenderer(out, "Welcome")
        .number("protocol", std::to_string(welcome.protocol))
        .text("app_version", welcome.app_version)
        .finish();
    out += ')';
  }
  void operator()(const HostsAnswer& answer) const {
    out += "Hosts([";
    for (std::size_t i = 0; i < answer.hosts.size(); ++i) {
      if (i > 0) out += ", ";
      render(out, answer.hosts[i]);
    }
    out += "])";
  }
  void operator()(const ExecResponse& exec) const {
    out += "Exec(";
    RecordRenderer(out, "ExecResponse")
        .number("exit_code", std::to_string(exec.exit_code))
        .text("stdout", exec.stdout_text)
        .text("stderr", exec.stderr_text)
        .flag("truncated", exec.truncated)
        .number("duration_ms", std::to_string(exec.duration_ms))
        .finish();
    out += ')';
  }
  void operator()(const TransferResponse& transfer) const {
    out += "Transfer(";
    RecordRenderer(out, "TransferResponse")
        .text("local", transfer.local)
        .text("remote", transfer.remote)
        .number("bytes", std::to_string(transfer.bytes))
        .number("duration_ms", std::to_string(transfer.duration_ms))
        .finish();
    out += ')';
  }
  void operator()(const OkAnswer&) const { out += "Ok"; }
  void operator()(const ErrorBody& error) const {
    out += "Error(";
    RecordRenderer(out, "ErrorBody")
        .text("code", error.code)
        .text("message", error.message)
        .finish();
    out += ')';
  }
};

}  // namespace

std::string debug_render(const Response& response) {
  std::string out;
  std::visit(AnswerRenderer{out}, response);
  return out;
}

}  // namespace pendrel
