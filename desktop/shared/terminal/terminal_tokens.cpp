#include "desktop/shared/terminal/terminal_tokens.h"

#include <sodium.h>

#include <array>

namespace pendrel::desktop {

std::string TerminalTokens::issue(TerminalGrant grant, std::chrono::steady_clock::time_point now) {
  std::array<unsigned char, 32> random{};
  randombytes_buf(random.data(), random.size());
  std::array<char, 65> hex{};
  sodium_bin2hex(hex.data(), hex.size(), random.data(), random.size());
  std::string token(hex.data(), 64);
  std::lock_guard lock(mutex_);
  std::erase_if(issued_, [now](const auto& entry) { return entry.second.expires <= now; });
  issued_.emplace(token, Issued{std::move(grant), now + terminal_token_life});
  return token;
}

std::optional<TerminalGrant> TerminalTokens::redeem(std::string_view token,
                                                    std::chrono::steady_clock::time_point now) {
  std::lock_guard lock(mutex_);
  auto found = issued_.find(token);
  if (found == issued_.end()) return std::nullopt;
  Issued issued = std::move(found->second);
  issued_.erase(found);
  if (issued.expires <= now) return std::nullopt;
  return std::move(issued.grant);
}

}  // namespace pendrel::desktop
