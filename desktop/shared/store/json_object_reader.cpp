#include "desktop/shared/store/json_object_reader.h"

#include <set>

#include "protocol/json_writer.h"

namespace pendrel::desktop {
namespace {

std::string quoted(std::string_view key) {
  return "\"" + std::string(key) + "\"";
}

}  // namespace

std::expected<void, std::string> parse_object(std::string_view text, ParsedObject& into) {
  simdjson::padded_string padded(text);
  simdjson::dom::element root;
  if (auto error = into.parser.parse(padded).get(root)) {
    return std::unexpected(std::string("not valid JSON (") + simdjson::error_message(error) + ")");
  }
  if (root.get_object().get(into.object)) return std::unexpected("not a JSON object");
  return {};
}

std::expected<ObjectReader, std::string> ObjectReader::over(simdjson::dom::object object) {
  std::set<std::string_view> seen;
  for (auto member : object) {
    if (!seen.insert(member.key).second) {
      return std::unexpected(quoted(member.key) + " is given twice");
    }
  }
  return ObjectReader(object);
}

std::optional<simdjson::dom::element> ObjectReader::find(std::string_view key) const {
  for (auto member : object_) {
    if (member.key == key) return member.value;
  }
  return std::nullopt;
}

std::expected<std::optional<std::string>, std::string> ObjectReader::string(
    std::string_view key) const {
  auto value = find(key);
  if (!value) return std::nullopt;
  std::string_view text;
  if (value->get_string().get(text)) return std::unexpected(quoted(key) + " must be a string");
  return std::string(text);
}

std::expected<std::optional<bool>, std::string> ObjectReader::boolean(std::string_view key) const {
  auto value = find(key);
  if (!value) return std::nullopt;
  bool flag = false;
  if (value->get_bool().get(flag)) return std::unexpected(quoted(key) + " must be true or false");
  return flag;
}

std::expected<std::optional<std::uint64_t>, std::string> ObjectReader::unsigned_integer(
    std::string_view key) const {
  auto value = find(key);
  if (!value) return std::nullopt;
  std::uint64_t number = 0;
  if (value->get_uint64().get(number)) {
    return std::unexpected(quoted(key) + " must be a whole number");
  }
  return number;
}

std::expected<std::optional<simdjson::dom::array>, std::string> ObjectReader::array(
    std::string_view key) const {
  auto value = find(key);
  if (!value) return std::nullopt;
  simdjson::dom::array items;
  if (value->get_array().get(items)) return std::unexpected(quoted(key) + " must be an array");
  return items;
}

std::vector<std::pair<std::string, std::string>> ObjectReader::raw_members() const {
  std::vector<std::pair<std::string, std::string>> members;
  for (auto member : object_) {
    members.emplace_back(std::string(member.key), simdjson::minify(member.value));
  }
  return members;
}

std::string set_object_member(std::string_view text, std::string_view key,
                              std::string_view value_json) {
  std::vector<std::pair<std::string, std::string>> members;
  ParsedObject parsed;
  if (parse_object(text, parsed)) {
    if (auto reader = ObjectReader::over(parsed.object)) members = reader->raw_members();
  }
  bool replaced = false;
  for (auto& [name, value] : members) {
    if (name == key) {
      value = std::string(value_json);
      replaced = true;
    }
  }
  if (!replaced) members.emplace_back(std::string(key), std::string(value_json));
  std::string out = "{";
  for (const auto& [name, value] : members) {
    if (out.size() > 1) out += ',';
    append_json_string(out, name);
    out += ':';
    out += value;
  }
  out += "}\n";
  return out;
}

}  // namespace pendrel::desktop
