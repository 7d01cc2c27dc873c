// Reading the members of one JSON object from the data directory's files: each key once, each
// value of the type it must have, with a message naming the key when it is not.
#pragma once

#include <simdjson.h>

#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace pendrel::desktop {

// Parses `text` (any bytes) as one JSON document whose root is an object. The document stays
// owned by the returned parser. Fails with "{position-free reason}" text.
struct ParsedObject {
  simdjson::dom::parser parser;
  simdjson::dom::object object;
};
[[nodiscard]] std::expected<void, std::string> parse_object(std::string_view text,
                                                            ParsedObject& into);

// The members of an object, looked up by key; a key given twice is refused up front.
class ObjectReader {
 public:
  // Fails with "\"{key}\" is given twice" for a duplicate key.
  [[nodiscard]] static std::expected<ObjectReader, std::string> over(simdjson::dom::object object);

  // Nothing when absent; an error "\"{key}\" must be {type}" when of the wrong type.
  [[nodiscard]] std::expected<std::optional<std::string>, std::string> string(
      std::string_view key) const;
  [[nodiscard]] std::expected<std::optional<bool>, std::string> boolean(std::string_view key) const;
  [[nodiscard]] std::expected<std::optional<std::uint64_t>, std::string> unsigned_integer(
      std::string_view key) const;
  [[nodiscard]] std::expected<std::optional<simdjson::dom::array>, std::string> array(
      std::string_view key) const;

  // Every member as its key and its compact JSON text, in the file's order.
  [[nodiscard]] std::vector<std::pair<std::string, std::string>> raw_members() const;

 private:
  explicit ObjectReader(simdjson::dom::object object) : object_(object) {}
  [[nodiscard]] std::optional<simdjson::dom::element> find(std::string_view key) const;

  simdjson::dom::object object_;
};

// The object's text with `key` set to the JSON value `value_json`: an existing member is
// replaced in place, a new one goes last; the other members are kept as they are. A text that
// is not an object is replaced by an object holding `key` alone.
[[nodiscard]] std::string set_object_member(std::string_view text, std::string_view key,
                                            std::string_view value_json);

}  // namespace pendrel::desktop
