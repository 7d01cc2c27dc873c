// Fault positions come from simdjson's On Demand front end, which keeps pointers into the
// payload; the DOM that decodes the answer keeps none. Only failing payloads come here.
#include "protocol/json_fault_position.h"

#include <simdjson.h>

#include <algorithm>

namespace pendrel {
namespace {

namespace ondemand = simdjson::ondemand;
using simdjson::error_code;

std::size_t offset_of(std::string_view payload, const char* where) {
  return static_cast<std::size_t>(where - payload.data());
}

std::size_t current_offset(std::string_view payload, ondemand::document& document) {
  const char* where = nullptr;
  if (document.current_location().get(where) != simdjson::SUCCESS) return payload.size();
  return offset_of(payload, where);
}

// Reads a scalar of the given type from a value or a whole document, meeting its faults.
template <typename Json>
error_code read_scalar(Json& json, ondemand::json_type type) {
  switch (type) {
    case ondemand::json_type::string:
      return json.get_string().error();
    case ondemand::json_type::number:
      return json.get_double().error();
    case ondemand::json_type::boolean:
      return json.get_bool().error();
    case ondemand::json_type::null: {
      bool is_null = false;
      if (auto error = json.is_null().get(is_null)) return error;
      return is_null ? simdjson::SUCCESS : simdjson::INCORRECT_TYPE;
    }
    default:
      return simdjson::INCORRECT_TYPE;
  }
}

// A payload of nothing but "[" must not exhaust the stack, nor may the walk enter a container
// deeper than the parser tracks: On Demand counts the document as depth 1, so the value that
// the walk reaches at step d sits at depth d + 1, and a container there must stay below the
// parser's maximum, which simdjson's development checks (on in unoptimised builds) assert.
constexpr std::size_t max_skim_depth = simdjson::DEFAULT_MAX_DEPTH - 1;

// Reads the whole value so that On Demand meets every fault in it.
error_code skim(ondemand::value value, std::size_t depth = 0) {
  if (depth >= max_skim_depth) return simdjson::DEPTH_ERROR;
  ondemand::json_type type{};
  if (auto error = value.type().get(type)) return error;
  switch (type) {
    case ondemand::json_type::object: {
      ondemand::object object;
      if (auto error = value.get_object().get(object)) return error;
      for (auto field : object) {
        std::string_view key;
        if (auto error = field.unescaped_key().get(key)) return error;
        ondemand::value child;
        if (auto error = field.value().get(child)) return error;
        if (auto error = skim(child, depth + 1)) return error;
      }
      return simdjson::SUCCESS;
    }
    case ondemand::json_type::array: {
      ondemand::array array;
      if (auto error = value.get_array().get(array)) return error;
      for (auto element : array) {
        ondemand::value child;
        if (auto error = element.get(child)) return error;
        if (auto error = skim(child, depth + 1)) return error;
      }
      return simdjson::SUCCESS;
    }
    default:
      return read_scalar(value, type);
  }
}

error_code read_scalar(ondemand::document& document) {
  ondemand::json_type type{};
  if (auto error = document.type().get(type)) return error;
  return read_scalar(document, type);
}

SyntaxFault locate_in_scalar(std::string_view payload, ondemand::document& document) {
  std::string_view token;
  if (document.raw_json_token().get(token) != simdjson::SUCCESS) return {false, payload.size()};
  // The token runs up to the next structural character, so its end is where trailing text
  // starts.
  if (read_scalar(document) == simdjson::TRAILING_CONTENT) {
    return {true, offset_of(payload, token.data() + token.size())};
  }
  return {false, offset_of(payload, token.data())};
}

}  // namespace

SyntaxFault locate_syntax_fault(std::string_view payload) {
  ondemand::parser parser;
  ondemand::document document;
  if (parser.iterate(payload.data(), payload.size(), payload.size() + simdjson::SIMDJSON_PADDING)
          .get(document) != simdjson::SUCCESS) {
    return {false, payload.size()};
  }
  bool scalar = false;
  if (document.is_scalar().get(scalar) != simdjson::SUCCESS) {
    return {false, current_offset(payload, document)};
  }
  if (scalar) return locate_in_scalar(payload, document);

  ondemand::value root;
  if (document.get_value().get(root) != simdjson::SUCCESS || skim(root) != simdjson::SUCCESS) {
    return {false, current_offset(payload, document)};
  }
  const char* where = nullptr;
  if (document.current_location().get(where) == simdjson::SUCCESS) {
    return {true, offset_of(payload, where)};
  }
  return {false, payload.size()};
}

std::optional<std::size_t> locate_value(std::string_view payload, const JsonPath& path,
                                        FaultAnchor anchor) {
  ondemand::parser parser;
  ondemand::document document;
  if (parser.iterate(payload.data(), payload.size(), payload.size() + simdjson::SIMDJSON_PADDING)
          .get(document) != simdjson::SUCCESS) {
    return std::nullopt;
  }
  // A scalar root cannot be had as a value; its own token is the place.
  if (path.empty() && anchor == FaultAnchor::value_start) {
    std::string_view token;
    if (document.raw_json_token().get(token)) return std::nullopt;
    return offset_of(payload, token.data());
  }
  if (path.size() >= max_skim_depth) return std::nullopt;
  ondemand::value value;
  if (document.get_value().get(value)) return std::nullopt;

  for (std::size_t step : path) {
    ondemand::json_type type{};
    if (value.type().get(type)) return std::nullopt;
    std::size_t position = 0;
    bool found = false;
    if (type == ondemand::json_type::object) {
      ondemand::object object;
      if (value.get_object().get(object)) return std::nullopt;
      for (auto field : object) {
        if (position++ != step) continue;
        if (field.value().get(value)) return std::nullopt;
        found = true;
        break;
      }
    } else if (type == ondemand::json_type::array) {
      ondemand::array array;
      if (value.get_array().get(array)) return std::nullopt;
      for (auto element : array) {
        if (position++ != step) continue;
        if (element.get(value)) return std::nullopt;
        found = true;
        break;
      }
    }
    if (!found) return std::nullopt;
  }

  if (anchor == FaultAnchor::object_end) {
    ondemand::object object;
    std::string_view text;
    if (value.get_object().get(object) || object.raw_json().get(text)) return std::nullopt;
    // The root object's text runs on over the white space that follows it.
    std::size_t brace = text.find_last_not_of(" \t\n\r");
    if (brace == std::string_view::npos) return std::nullopt;
    return offset_of(payload, text.data() + brace);
  }
  return offset_of(payload, value.raw_json_token().data());
}

std::string describe_fault(std::string_view fault, std::string_view payload, std::size_t consumed) {
  consumed = std::min(consumed, payload.size());
  std::string_view read = payload.substr(0, consumed);
  auto line = 1 + static_cast<std::size_t>(std::count(read.begin(), read.end(), '\n'));
  std::size_t last_feed = read.rfind('\n');
  std::size_t column = last_feed == std::string_view::npos ? consumed : consumed - last_feed - 1;
  std::string description(fault);
  description += " at line ";
  description += std::to_string(line);
  description += " column ";
  description += std::to_string(column);
  return description;
}

}  // namespace pendrel
