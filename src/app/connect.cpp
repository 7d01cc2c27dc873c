#include "app/connect.h"

#include <utility>

#include "app/version.h"
#include "client/diagnostics.h"

namespace pendrel {

std::expected<ReceivedAnswer, int> connect_and_receive(const Invocation& invocation,
                                                       Request request) {
  Output& output = invocation.output;
  const Diagnostics diagnostics(invocation.environment);
  const ClientIdentity client{client_name, output.lang};
  auto connection = connect_to_service(invocation.environment, client, diagnostics);
  if (!connection) return std::unexpected(report_failure(output, connection.error()));
  auto received = exchange_with_service(*connection, request, output.lang, diagnostics);
  if (!received) return std::unexpected(report_failure(output, received.error()));
  return std::move(*received);
}

std::expected<Response, int> connect_and_request(const Invocation& invocation, Request request) {
  auto received = connect_and_receive(invocation, std::move(request));
  if (!received) return std::unexpected(received.error());
  if (received->canonical) return to_response(*received->canonical);
  return std::move(received->decoded);
}

}  // namespace pendrel
