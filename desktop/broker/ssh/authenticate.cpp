#include "desktop/broker/ssh/authenticate.h"

#include <string.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <optional>
#include <vector>

#include "desktop/broker/ssh/remote_shell.h"
#include "desktop/broker/ssh/ssh_error.h"

namespace pendrel::desktop {
namespace {

// A server could keep asking forever; real ones ask once or twice.
constexpr int max_interactive_rounds = 8;
// As OpenSSH's client: a person who mistypes gets three tries in all.
constexpr int max_person_tries = 3;

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

// Whether `item` is one of the comma-separated `list`.
bool listed(std::string_view list, std::string_view item) {
  for (;;) {
    const auto comma = list.find(',');
    if (list.substr(0, comma) == item) return true;
    if (comma == std::string_view::npos) return false;
    list.remove_prefix(comma + 1);
  }
}

void wipe(std::vector<std::string>& answers) {
  for (std::string& answer : answers)
    ::explicit_bzero(answer.data(), answer.size());
}

class Login {
 public:
  Login(ssh_session session, const SshCredentials& credentials, const std::string& username,
        LoginConversation* person)
      : session_(session), credentials_(credentials), username_(username), person_(person) {}

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
      if (result == SSH_AUTH_DENIED) stored_password_refused_ = true;
      if (auto step = judge("password", result); step != Step::refused) return finish(step);
    }
    if (offered(SSH_AUTH_METHOD_INTERACTIVE)) {
      if (auto step = interactive(); step != Step::refused) return finish(step);
    }
    if (person_ != nullptr && offered(SSH_AUTH_METHOD_PASSWORD)) {
      if (auto step = password_from_person(); step != Step::refused) return finish(step);
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
    if (!listed(tried_, method)) {
      if (!tried_.empty()) tried_ += ',';
      tried_ += method;
    }
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

  // A prompt as the person sees it, and whether the server's own text asks for the password.
  struct ServerPrompt {
    LoginPrompt shown;
    bool asks_password = false;
  };

  // Who answered the prompts of one keyboard-interactive attempt.
  struct Answered {
    bool stored_password = false;
    bool person = false;
  };

  Step interactive() {
    for (;;) {
      Answered answered;
      std::optional<Step> stopped;
      int status = interactive_attempt(answered, stopped);
      if (stopped) return *stopped;
      if (status == SSH_AUTH_INFO) status = SSH_AUTH_DENIED;
      if (status == SSH_AUTH_DENIED) {
        if (answered.stored_password) stored_password_refused_ = true;
        // A refused answer may be typed again, and a refused stored password is the
        // person's to type.
        if (person_ != nullptr && (answered.stored_password || answered.person) &&
            person_tries_ < max_person_tries) {
          continue;
        }
        if (!answered.stored_password && !answered.person) {
          refresh_methods();
          return Step::refused;
        }
      }
      return judge("keyboard-interactive", status);
    }
  }

  // One keyboard-interactive exchange, to the server's verdict; `stopped` is set when the
  // login cannot go on this way.
  int interactive_attempt(Answered& answered, std::optional<Step>& stopped) {
    int status = ssh_userauth_kbdint(session_, nullptr, nullptr);
    for (int round = 0; status == SSH_AUTH_INFO && round < max_interactive_rounds; ++round) {
      const std::vector<ServerPrompt> prompts = round_prompts();
      // OpenSSH ends with a round of no prompts, answered by asking again.
      if (!prompts.empty()) {
        if (stored_password_answers(prompts)) {
          for (std::size_t index = 0; index < prompts.size(); ++index) {
            std::string password(*credentials_.password);
            ssh_userauth_kbdint_setanswer(session_, static_cast<unsigned>(index), password.c_str());
            ::explicit_bzero(password.data(), password.size());
          }
          answered.stored_password = true;
        } else if (person_ != nullptr) {
          if (!answered.person) ++person_tries_;
          if (!ask_person(prompts)) {
            stopped = Step::stop;
            return status;
          }
          answered.person = true;
        } else {
          for (const ServerPrompt& prompt : prompts) {
            if (prompt.asks_password) continue;
            failure_ = interaction_required("the server asks \"" + prompt.shown.text +
                                            "\", which only a person can answer")
                           .error();
            stopped = Step::stop;
            return status;
          }
          // A password prompt but nothing to answer it with.
          refresh_methods();
          stopped = Step::refused;
          return status;
        }
      }
      status = ssh_userauth_kbdint(session_, nullptr, nullptr);
    }
    return status;
  }

  // The round's prompts, as text fit to show: a server's control characters must not reach
  // the person's terminal.
  std::vector<ServerPrompt> round_prompts() const {
    std::vector<ServerPrompt> prompts;
    const int count = ssh_userauth_kbdint_getnprompts(session_);
    for (int index = 0; index < count; ++index) {
      char echo = 0;
      const char* text =
          ssh_userauth_kbdint_getprompt(session_, static_cast<unsigned>(index), &echo);
      const std::string_view raw = text != nullptr ? text : "";
      prompts.push_back(ServerPrompt{LoginPrompt{server_text(raw), echo != 0},
                                     is_password_prompt(raw, echo != 0)});
    }
    return prompts;
  }

  bool stored_password_answers(const std::vector<ServerPrompt>& prompts) const {
    if (!credentials_.password || stored_password_refused_) return false;
    return std::all_of(prompts.begin(), prompts.end(),
                       [](const ServerPrompt& prompt) { return prompt.asks_password; });
  }

  // Puts the round to the person and hands their answers to libssh; false (with failure_ set)
  // when they gave up.
  bool ask_person(const std::vector<ServerPrompt>& prompts) {
    const char* name = ssh_userauth_kbdint_getname(session_);
    const char* instruction = ssh_userauth_kbdint_getinstruction(session_);
    std::vector<LoginPrompt> shown;
    for (const ServerPrompt& prompt : prompts)
      shown.push_back(prompt.shown);
    auto answers =
        person_->answer(server_text(name != nullptr ? name : ""),
                        server_text(instruction != nullptr ? instruction : "", 1000), shown);
    if (!answers || answers->size() != prompts.size()) {
      if (answers) wipe(*answers);
      failure_ = given_up();
      return false;
    }
    for (std::size_t index = 0; index < answers->size(); ++index) {
      ssh_userauth_kbdint_setanswer(session_, static_cast<unsigned>(index),
                                    (*answers)[index].c_str());
    }
    wipe(*answers);
    return true;
  }

  // The password method with what the person types, where the vault held none that worked.
  Step password_from_person() {
    const std::vector<LoginPrompt> prompt{{username_ + "@" + host() + "'s password: ", false}};
    while (person_tries_ < max_person_tries) {
      ++person_tries_;
      auto answers = person_->answer("", "", prompt);
      if (!answers || answers->size() != 1) {
        if (answers) wipe(*answers);
        failure_ = given_up();
        return Step::stop;
      }
      int result = ssh_userauth_password(session_, nullptr, answers->front().c_str());
      wipe(*answers);
      if (Step step = judge("password", result); step != Step::refused) return step;
      if (!offered(SSH_AUTH_METHOD_PASSWORD)) break;
    }
    return Step::refused;
  }

  std::string host() const {
    char* value = nullptr;
    if (ssh_options_get(session_, SSH_OPTIONS_HOST, &value) != SSH_OK || value == nullptr)
      return "the host";
    std::string text = server_text(value);
    ssh_string_free_char(value);
    return text;
  }

  static ErrorBody given_up() {
    return ssh_failure(ErrorCode::auth_interaction_required,
                       "the login was given up: the server's questions went unanswered");
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
  LoginConversation* person_;
  int methods_ = 0;
  int person_tries_ = 0;
  bool stored_password_refused_ = false;
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
                                            const std::string& username,
                                            LoginConversation* person) {
  Login login(session, credentials, username, person);
  return login.run(key);
}

}  // namespace pendrel::desktop
