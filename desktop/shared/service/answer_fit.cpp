#include "desktop/shared/service/answer_fit.h"

#include "protocol/response_encoding.h"

namespace pendrel::desktop {
namespace {

// Removes at least `excess` bytes from the end of `text`, then backs up to a character start.
void cut_from_end(std::string& text, std::size_t excess) {
  std::size_t keep = excess >= text.size() ? 0 : text.size() - excess;
  while (keep > 0 && (static_cast<unsigned char>(text[keep]) & 0xC0) == 0x80)
    --keep;
  text.resize(keep);
}

}  // namespace

std::string encode_answer_within(Response answer, std::size_t limit) {
  std::string encoded = encode_response(answer);
  auto* exec = std::get_if<ExecResponse>(&answer);
  // Every byte removed shortens the encoding by at least one, so each round gets closer and
  // the loop ends once both streams are empty at the latest.
  while (exec != nullptr && encoded.size() > limit &&
         !(exec->stdout_text.empty() && exec->stderr_text.empty())) {
    std::string& longer = exec->stdout_text.size() >= exec->stderr_text.size() ? exec->stdout_text
                                                                               : exec->stderr_text;
    cut_from_end(longer, encoded.size() - limit);
    exec->truncated = true;
    encoded = encode_response(answer);
  }
  return encoded;
}

}  // namespace pendrel::desktop
