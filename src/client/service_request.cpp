#include "client/service_request.h"

#include <chrono>
#include <utility>

#include "client/diagnostics.h"
#include "client/launcher.h"
#include "client/startup_wait.h"
#include "i18n/catalogue.h"
#include "protocol/channel.h"
#include "protocol/data_dir.h"
#include "protocol/error_code.h"
#include "protocol/handshake.h"
#include "protocol/launch_config.h"
#include "protocol/unavailable_marker.h"

namespace pendrel {
namespace {

CliFailure connection_failure(std::string message) {
  return failure_with(ErrorCode::connect_failed, std::move(message));
}

CliFailure failure_from_connect_error(const ConnectError& error, Language language) {
  switch (error.kind) {
    case ConnectError::Kind::app:
      return failure_from_error_body(error.body);
    case ConnectError::Kind::protocol:
      return connection_failure(format_message(messages::unexpected_answer, language, error.text));
    case ConnectError::Kind::io:
    case ConnectError::Kind::not_running:
      break;
  }
  return connection_failure(format_message(messages::connect_failed, language, error.io.text()));
}

CliFailure service_down_failure(const std::string& reason, Language language) {
  return connection_failure(format_message(messages::cli_service_down, language, reason));
}

CliFailure failure_from_startup(const StartupFailure& failure, Language language) {
  if (const auto* error = std::get_if<ConnectError>(&failure)) {
    return failure_from_connect_error(*error, language);
  }
  if (const auto* down = std::get_if<ServiceDown>(&failure)) {
    return service_down_failure(down->reason, language);
  }
  return connection_failure(std::string(messages::start_timed_out.in(language)));
}

// Everything up to a handshaken connection: the data directory, the first attempt and, when
// the application is not running, the marker, the launch settings, the start and the wait.
std::expected<Connection, CliFailure> connect_or_launch(const Environment& environment,
                                                        const ClientIdentity& client,
                                                        const Diagnostics& diagnostics) {
  const Language language = client.language;
  auto found = find_data_dir(environment);
  if (!found) {
    return std::unexpected(connection_failure(
        format_message(messages::data_dir_missing, language, found.error().text())));
  }
  const std::string data_dir = working_form(*found);
  diagnostics.data_dir(*found);

  const Hello hello{1, std::string(client.name), std::string(language_tag(language))};
  auto first = connect_and_handshake(data_dir, hello);
  if (first) {
    diagnostics.connected_to_running();
    return std::move(*first);
  }
  // A socket path that cannot even be addressed (108 bytes or more) is exactly what the
  // application's marker explains, so its reason beats the bare address error.
  if (first.error().kind == ConnectError::Kind::io &&
      first.error().io.kind == IoError::Kind::invalid_input) {
    if (auto reason = read_unavailable_marker(data_dir)) {
      diagnostics.service_down(*reason);
      return std::unexpected(service_down_failure(*reason, language));
    }
  }
  if (first.error().kind != ConnectError::Kind::not_running) {
    return std::unexpected(failure_from_connect_error(first.error(), language));
  }

  if (auto reason = read_unavailable_marker(data_dir)) {
    diagnostics.service_down(*reason);
    return std::unexpected(service_down_failure(*reason, language));
  }
  if (!load_launch_config(data_dir).auto_start) {
    diagnostics.auto_start_forbidden();
    return std::unexpected(failure_with(ErrorCode::app_not_running,
                                        std::string(messages::auto_start_forbidden.in(language))));
  }
  diagnostics.starting_headless();
  if (auto started = start_app(environment, diagnostics, language); !started) {
    return std::unexpected(std::move(started.error()));
  }

  const MonotonicClock clock = MonotonicClock::system();
  const auto started_at = clock.now();
  const StartupProbe probe{[&] { return connect_and_handshake(data_dir, hello); },
                           [&] { return read_unavailable_marker(data_dir); }};
  auto connection = wait_for_started_app(clock, probe, started_at);
  if (!connection) return std::unexpected(failure_from_startup(connection.error(), language));
  diagnostics.connected_to_started(elapsed_ms(started_at, clock.now()));
  return std::move(*connection);
}

std::string exchange_failure_message(const ExchangeError& error, Language language) {
  switch (error.kind) {
    case ExchangeError::Kind::closed:
      return std::string(messages::closed_before_answer.in(language));
    case ExchangeError::Kind::protocol:
      return format_message(messages::unexpected_answer, language, error.text);
    case ExchangeError::Kind::io:
      break;
  }
  return format_message(messages::connect_failed, language, error.io.text());
}

std::string with_host(std::string_view verb, const std::string& host) {
  return std::string(verb) + "（主机 " + host + "）";
}

}  // namespace

std::string request_label(const Request& request) {
  if (const auto* exec = std::get_if<ExecRequest>(&request)) {
    return with_host(exec->terminal == TerminalMode::on ? "exec --terminal" : "exec", exec->host);
  }
  if (const auto* upload = std::get_if<UploadRequest>(&request)) {
    return with_host("upload", upload->host);
  }
  if (const auto* download = std::get_if<DownloadRequest>(&request)) {
    return with_host("download", download->host);
  }
  if (std::holds_alternative<ActivateRequest>(request)) return "activate";
  if (std::holds_alternative<QuitRequest>(request)) return "quit";
  return "ls";
}

std::expected<Connection, CliFailure> connect_to_service(const Environment& environment,
                                                         const ClientIdentity& client,
                                                         const Diagnostics& diagnostics) {
  auto connection = connect_or_launch(environment, client, diagnostics);
  if (!connection) {
    diagnostics.connect_failed(connection.error().message, connection.error().code);
  }
  return connection;
}

std::expected<ReceivedAnswer, CliFailure> exchange_with_service(Connection& connection,
                                                                const Request& request,
                                                                Language language,
                                                                const Diagnostics& diagnostics) {
  const std::string label = request_label(request);
  const auto sent_at = std::chrono::steady_clock::now();
  diagnostics.sending(label);
  ReceivedAnswer received;
  auto answer = [&]() -> std::expected<void, ExchangeError> {
    auto frame = pendrel::exchange_for_frame(connection, request);
    if (!frame) return std::unexpected(std::move(frame.error()));
    received.canonical = recognise_canonical_answer(frame->bytes.get(), frame->size);
    if (received.canonical) {
      received.frame = std::move(*frame);
      return {};
    }
    auto decoded = decode_answer_frame(std::move(*frame));
    if (!decoded) return std::unexpected(std::move(decoded.error()));
    received.decoded = std::move(*decoded);
    return {};
  }();
  const std::uint64_t ms = elapsed_ms(sent_at, std::chrono::steady_clock::now());
  connection.socket.reset();

  if (!answer) {
    std::string message = exchange_failure_message(answer.error(), language);
    diagnostics.request_interrupted(label, message, ms);
    return std::unexpected(connection_failure(std::move(message)));
  }
  if (const auto* body = std::get_if<ErrorBody>(&received.decoded);
      body != nullptr && !received.canonical) {
    diagnostics.request_failed(label, body->code, ms);
    return std::unexpected(failure_from_error_body(*body));
  }
  diagnostics.request_done(label, ms);
  return received;
}

}  // namespace pendrel
