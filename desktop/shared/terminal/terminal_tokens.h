// The proof a person's front needs before it opens or attaches a LOCAL terminal: the person's
// service checked the secret and hands the client a one-time token for that one act, which
// the front redeems with the service. The front never sees the secret.
#pragma once

#include <chrono>
#include <map>
#include <mutex>
#include <optional>
#include <string>

namespace pendrel::desktop {

struct TerminalGrant {
  enum class Act { open, attach };
  Act act = Act::open;
  std::string host_id;      // open
  std::string host_name;    // open
  std::string terminal_id;  // attach
};

// A token is good for this long: the client redeems it at once.
inline constexpr auto terminal_token_life = std::chrono::seconds(60);

class TerminalTokens {
 public:
  // 32 random bytes in hex.
  [[nodiscard]] std::string issue(TerminalGrant grant, std::chrono::steady_clock::time_point now);
  // The grant, once: a token redeemed, expired or never issued is nothing.
  [[nodiscard]] std::optional<TerminalGrant> redeem(std::string_view token,
                                                    std::chrono::steady_clock::time_point now);

 private:
  struct Issued {
    TerminalGrant grant;
    std::chrono::steady_clock::time_point expires;
  };
  std::mutex mutex_;
  std::map<std::string, Issued, std::less<>> issued_;
};

}  // namespace pendrel::desktop
