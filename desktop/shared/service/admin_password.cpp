#include "desktop/shared/service/admin_password.h"

#include <sodium.h>

namespace pendrel::desktop {

std::expected<void, std::string> parse_admin_request(const PaddedPayload& frame,
                                                     ParsedObject& into) {
  simdjson::dom::element root;
  // realloc_if_needed false: the frame carries simdjson's padding, so nothing is copied.
  if (auto error =
          into.parser
              .parse(reinterpret_cast<const std::uint8_t*>(frame.bytes.get()), frame.size, false)
              .get(root)) {
    return std::unexpected(std::string("not valid JSON (") + simdjson::error_message(error) + ")");
  }
  if (root.get_object().get(into.object)) return std::unexpected("not a JSON object");
  return {};
}

std::expected<SecretString, std::string> take_password(ParsedObject& parsed) {
  std::string_view password;
  if (parsed.object["password"].get_string().get(password) != simdjson::SUCCESS)
    return std::unexpected("\"password\" must be a string");
  SecretString taken = SecretString::copy_of(password);
  // The view points into the parser's string buffer, which it owns and will reuse; writing
  // over it there is the one way simdjson leaves to be rid of that copy.
  sodium_memzero(const_cast<char*>(password.data()), password.size());
  return taken;
}

}  // namespace pendrel::desktop
