#include "desktop/broker/ssh/authenticate.h"

#include <string.h>

#include <array>
#include <cctype>
#include <vector>

#include "desktop/broker/ssh/ssh_error.h"

namespace pendrel::desktop {
namespace {

// A server could keep asking forever; real ones ask once or twice.
constexpr int max_interactive_rounds = 8;

std::string lowercase(std::string_view text) {
  std::string lower(text);
  for (char& c : lower)
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return lower;
}

std::vector<std::string_view> words_of(std::string_view text) {
  std::vector<std::string_view> words;
  std::size_t start = 0;
  for (std::size_t at = 0; at <= text.size(); ++at) {
    bool letter = at < text.size() && std::isalnum(static_cast<unsigned char>(text[at]));
    if (!letter) {
      if (at > start) words.push_back(text.substr(start, at - start));
      start = at + 1;
    }
  }
  return words;
}

std::string method_names(int methods) {
  static constexpr std::array<std::pair<int, std::string_view>, 5> names{{
      {SSH_AUTH_METHOD_PUBLICKEY, "publickey"},
      {SSH_AUTH_METHOD_PASSWORD, "password"},
      {SSH_AUTH_METHOD_INTERACTIVE, "keyboard-interactive"},
      {SSH_AUTH_METHOD_HOSTBASED, "hostbased"},
      {SSH_AUTH_METHOD_GSSAPI_MIC, "gssapi-with-mic"},
  }};
  std::string text;
  for (const auto& [bit, name] : names) {
    if ((methods & bit) == 0) continue;
    if (!text.empty()) text += ',';
    text += name;
  }
  return text.empty() ? "none" : text;
}

class Login {
 public:
  Login(ssh_session session, const SshCredentials& credentials, const std::string& username)
      : session_(session), credentials_(credentials), username_(username) {}

  // An attempt's outcome: logged in, refused (try the next method) or an answer to return.
  enum class Step { success, refused, stop };

  std::expected<void, ErrorBody> run(ssh_key key) {
    if (key != nullptr) {
      // The stored key goes first, without asking which methods the server takes: that
      // question costs a round trip, and a refusal answers it anyway.
      if (auto step = judge("publickey", ssh_userauth_publickey(session_, nullptr, key));
          step != Step::refused) {
        return finish(step);
      }
    } else {
      int status = ssh_userauth_none(session_, nullptr);
      if (status == SSH_AUTH_SUCCESS) return {};
      if (status != SSH_AUTH_DENIED && status != SSH_AUTH_PARTIAL) return broken(status);
      refresh_methods();
    }
    if (credentials_.agent == UseAgent::yes && offered(SSH_AUTH_METHOD_PUBLICKEY)) {
      if (auto step = judge("agent", ssh_userauth_agent(session_, nullptr));
          step != Step::refused) {
        return finish(step);
      }
    }
    if (credentials_.password && offered(SSH_AUTH_METHOD_PASSWORD)) {
      std::string password(*credentials_.password);
      int result = ssh_userauth_password(session_, nullptr, password.c_str());
      ::explicit_bzero(password.data(), password.size());
      if (auto step = judge("password", result); step != Step::refused) return finish(step);
    }
    if (offered(SSH_AUTH_METHOD_INTERACTIVE)) {
      if (auto step = interactive(); step != Step::refused) return finish(step);
    }
    if (partial_)
      return interaction_required("the server asks for a further login step (" +
                                  method_names(methods_) + ")");
    if (tried_.empty()) {
      return std::unexpected(ssh_failure(ErrorCode::auth_failed,
                                         "the server accepts none of the host's credentials for " +
                                             username_ + " (it offers " + method_names(methods_) +
                                             "); a person must store a credential it accepts"));
    }
    return std::unexpected(ssh_failure(
        ErrorCode::auth_failed, "the server refused the login of " + username_ + " (tried " +
                                    tried_ + "; the server accepts " + method_names(methods_) +
                                    "); a person must check the host's username and credentials"));
  }

 private:
  bool offered(int method) const { return (methods_ & method) != 0; }
  void refresh_methods() { methods_ = ssh_userauth_list(session_, nullptr); }

  Step judge(std::string_view method, int status) {
    if (!tried_.empty()) tried_ += ',';
    tried_ += method;
    switch (status) {
      case SSH_AUTH_SUCCESS:
        return Step::success;
      case SSH_AUTH_DENIED:
        refresh_methods();
        return Step::refused;
      case SSH_AUTH_PARTIAL:
        // One factor accepted; what follows must be answerable too.
        partial_ = true;
        refresh_methods();
        return Step::refused;
      case SSH_AUTH_ERROR:
        // A method that fails on our side (no agent running, a key the server cannot take)
        // is one refusal among others, as long as the connection still stands.
        if (ssh_is_connected(session_) != 0) {
          refresh_methods();
          return Step::refused;
        }
        failure_ = broken(status).error();
        return Step::stop;
      default:
        failure_ = broken(status).error();
        return Step::stop;
    }
  }

  std::expected<void, ErrorBody> finish(Step step) {
    if (step == Step::success) return {};
    return std::unexpected(failure_);
  }

  Step interactive() {
    int status = ssh_userauth_kbdint(session_, nullptr, nullptr);
    bool answered = false;
    for (int round = 0; status == SSH_AUTH_INFO && round < max_interactive_rounds; ++round) {
      const int prompts = ssh_userauth_kbdint_getnprompts(session_);
      for (int index = 0; index < prompts; ++index) {
        char echo = 0;
        const char* text =
            ssh_userauth_kbdint_getprompt(session_, static_cast<unsigned>(index), &echo);
        std::string_view prompt = text != nullptr ? text : "";
        if (!is_password_prompt(prompt, echo != 0)) {
          failure_ = interaction_required("the server asks \"" + server_text(prompt) +
                                          "\", which only a person can answer")
                         .error();
          return Step::stop;
        }
        if (!credentials_.password) {
          // A password prompt but nothing to answer it with.
          refresh_methods();
          return Step::refused;
        }
        std::string password(*credentials_.password);
        ssh_userauth_kbdint_setanswer(session_, static_cast<unsigned>(index), password.c_str());
        ::explicit_bzero(password.data(), password.size());
        answered = true;
      }
      status = ssh_userauth_kbdint(session_, nullptr, nullptr);
    }
    if (status == SSH_AUTH_INFO) status = SSH_AUTH_DENIED;
    if (!answered && status == SSH_AUTH_DENIED) {
      refresh_methods();
      return Step::refused;
    }
    return judge("keyboard-interactive", status);
  }

  std::expected<void, ErrorBody> interaction_required(std::string what) const {
    return std::unexpected(ssh_failure(
        ErrorCode::auth_interaction_required,
        what + "; this host needs a person at an interactive SSH login (a one-time code or a "
               "second factor) and cannot be used here"));
  }

  std::expected<void, ErrorBody> broken(int status) const {
    if (status == SSH_AUTH_AGAIN) {
      return std::unexpected(ssh_failure(
          ErrorCode::connect_failed,
          "the server did not answer the login in time; try again, or check the server's load"));
    }
    return std::unexpected(ssh_failure(ErrorCode::connect_failed,
                                       std::string("the connection broke during the login: ") +
                                           ssh_get_error(session_) + "; try again"));
  }

  ssh_session session_;
  const SshCredentials& credentials_;
  const std::string& username_;
  int methods_ = 0;
  bool partial_ = false;
  std::string tried_;
  ErrorBody failure_;
};

}  // namespace

bool is_password_prompt(std::string_view prompt, bool echo) {
  if (echo) return false;
  const std::string lower = lowercase(prompt);
  static constexpr std::array<std::string_view, 14> other_questions{
      "new",  "again",        "retype", "repeat", "confirm", "verify",   "otp",
      "code", "verification", "token",  "pin",    "time",    "passcode", "challenge"};
  const auto words = words_of(lower);
  for (std::string_view word : words) {
    for (std::string_view other : other_questions) {
      if (word == other) return false;
    }
  }
  // The prompt must end as a request does ("…password:", "…password"): a sentence that
  // merely mentions a password ("send your e-mail address as password.") is not one.
  std::string_view ending = lower;
  while (!ending.empty() && std::isspace(static_cast<unsigned char>(ending.back()))) {
    ending.remove_suffix(1);
  }
  if (ending.ends_with(':')) ending.remove_suffix(1);
  if (ending.ends_with("password")) return true;
  return ending.starts_with("password for ") && lower.find(':') != std::string::npos;
}

std::expected<void, ErrorBody> authenticate(ssh_session session, ssh_key key,
                                            const SshCredentials& credentials,
                                            const std::string& username) {
  Login login(session, credentials, username);
  return login.run(key);
}

}  // namespace pendrel::desktop
