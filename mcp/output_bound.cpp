#include "mcp/output_bound.h"

#include <algorithm>
#include <charconv>

#include "mcp/messages.h"

namespace pendrel::mcp {
namespace {

bool starts_character(char byte) {
  return (static_cast<unsigned char>(byte) & 0xC0) != 0x80;
}

std::size_t count_characters(std::string_view text) {
  return static_cast<std::size_t>(std::count_if(text.begin(), text.end(), starts_character));
}

// The byte offset where character number `n` starts (the size when there are fewer).
std::size_t offset_of_character(std::string_view text, std::size_t n) {
  for (std::size_t at = 0; at < text.size(); ++at) {
    if (starts_character(text[at]) && n-- == 0) return at;
  }
  return text.size();
}

std::string keep_ends(std::string_view text, std::size_t characters, std::size_t share,
                      Language language) {
  const std::size_t head = share / 2;
  const std::size_t tail = share - head;
  const std::size_t head_end = offset_of_character(text, head);
  const std::size_t tail_start = offset_of_character(text, characters - tail);
  std::string kept(text.substr(0, head_end));
  kept += format_message(mcp_messages::output_cut, language, characters - share);
  kept += text.substr(tail_start);
  return kept;
}

}  // namespace

std::size_t output_bound_from(const Environment& environment) {
  auto text = environment.get_non_empty("PENDREL_MCP_MAX_OUTPUT");
  if (!text) return default_output_bound;
  std::size_t bound = 0;
  auto [end, error] = std::from_chars(text->data(), text->data() + text->size(), bound);
  if (error != std::errc() || end != text->data() + text->size() || bound < least_output_bound) {
    return default_output_bound;
  }
  return bound;
}

BoundedOutput bound_output(std::string_view stdout_text, std::string_view stderr_text,
                           std::size_t bound, Language language) {
  const std::size_t out_characters = count_characters(stdout_text);
  const std::size_t err_characters = count_characters(stderr_text);
  if (out_characters + err_characters <= bound) {
    return {std::string(stdout_text), std::string(stderr_text), false};
  }
  std::size_t out_share = bound / 2;
  std::size_t err_share = bound - out_share;
  if (out_characters < out_share) {
    out_share = out_characters;
    err_share = bound - out_characters;
  } else if (err_characters < err_share) {
    err_share = err_characters;
    out_share = bound - err_characters;
  }
  BoundedOutput bounded;
  bounded.cut = true;
  bounded.stdout_text = out_characters > out_share
                            ? keep_ends(stdout_text, out_characters, out_share, language)
                            : std::string(stdout_text);
  bounded.stderr_text = err_characters > err_share
                            ? keep_ends(stderr_text, err_characters, err_share, language)
                            : std::string(stderr_text);
  return bounded;
}

}  // namespace pendrel::mcp
