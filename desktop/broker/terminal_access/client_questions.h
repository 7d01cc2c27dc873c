// What the person's service asks the client that opens or attaches a terminal: the master
// password or the PIN, the login's questions (a verification code), and whether to trust a
// host key. Answers travel on the client's connection and go where they are needed only.
#pragma once

#include <sys/types.h>

#include <expected>
#include <string>

#include "desktop/broker/ssh/remote_shell.h"
#include "desktop/shared/service/service_context.h"
#include "protocol/frame_reader.h"

namespace pendrel::desktop {

// The client's next frame; it may wait on a person typing, so the wait is long. Nothing when
// the client hung up, sent too much, or the service is stopping.
[[nodiscard]] std::optional<PaddedPayload> read_client_frame(int socket, ServiceContext& context);

class ClientQuestions final : public LoginConversation {
 public:
  ClientQuestions(int socket, ServiceContext& context) : socket_(socket), context_(context) {}

  // Asks the master password or the PIN, unless there is no vault to check it against, and
  // checks it as a console's approval is checked (five wrong leave the master password only).
  // False when refused; the client has been told why.
  [[nodiscard]] bool check_secret();

  // The host whose key trust_host_key stores.
  void set_host(std::string host_id) { host_id_ = std::move(host_id); }

  std::optional<std::vector<std::string>> answer(const std::string& name,
                                                 const std::string& instruction,
                                                 const std::vector<LoginPrompt>& prompts) override;
  // Asks the person, and with their master password stores the key as `hostkey trust` does.
  bool trust_host_key(const HostKeyFacts& offered,
                      const std::optional<HostKeyFacts>& previous) override;
  // Why a key the person chose to trust was not stored (a wrong master password); empty
  // when nothing went wrong.
  [[nodiscard]] const std::string& trust_failure() const { return trust_failure_; }

 private:
  int socket_;
  ServiceContext& context_;
  std::string host_id_;
  std::string trust_failure_;
};

}  // namespace pendrel::desktop
