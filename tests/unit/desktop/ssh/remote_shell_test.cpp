// A person's login shell on a real sshd: the pty's size and TERM, a resize, output intact to
// the end and the exit status; what the vault cannot answer put to the person; host keys not
// yet trusted; a hang-up and a link that goes silent.
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "desktop/broker/ssh/host_key_check.h"
#include "desktop/broker/ssh/remote_shell.h"
#include "ssh_test_host.h"
#include "support/cuttable_link.h"

namespace pendrel::desktop::testing {
namespace {

using pendrel::testing::CuttableLink;

// Only against a hang: every wait below ends on what the shell sends.
constexpr std::chrono::seconds hang_guard{30};

// The person at the terminal, played from a script.
class ScriptedPerson : public LoginConversation {
 public:
  // Each answer() call takes the next reply; nullopt (or no reply left) gives up.
  std::vector<std::optional<std::vector<std::string>>> replies;
  bool trusts_host_key = false;

  std::vector<LoginPrompt> prompts_seen;
  std::vector<HostKeyFacts> keys_offered;
  std::optional<HostKeyFacts> previous_key;

  std::optional<std::vector<std::string>> answer(const std::string&, const std::string&,
                                                 const std::vector<LoginPrompt>& prompts) override {
    prompts_seen.insert(prompts_seen.end(), prompts.begin(), prompts.end());
    if (next_ >= replies.size()) return std::nullopt;
    return replies[next_++];
  }
  bool trust_host_key(const HostKeyFacts& offered,
                      const std::optional<HostKeyFacts>& previous) override {
    keys_offered.push_back(offered);
    previous_key = previous;
    return trusts_host_key;
  }

 private:
  std::size_t next_ = 0;
};

// Reads the shell's output until `wanted` shows (empty: until the end).
std::string read_until(int fd, const std::string& wanted, std::string& output) {
  const auto give_up = std::chrono::steady_clock::now() + hang_guard;
  char buffer[65536];
  while (wanted.empty() || output.find(wanted) == std::string::npos) {
    if (std::chrono::steady_clock::now() > give_up) {
      ADD_FAILURE() << "no \"" << wanted << "\" in: " << output.substr(0, 2000);
      break;
    }
    pollfd readable{fd, POLLIN, 0};
    if (::poll(&readable, 1, 1000) <= 0) continue;
    const ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got <= 0) {
      if (!wanted.empty()) ADD_FAILURE() << "the shell ended before \"" << wanted << "\"";
      break;
    }
    output.append(buffer, static_cast<std::size_t>(got));
  }
  return output;
}

std::string read_to_end(int fd) {
  std::string output;
  return read_until(fd, "", output);
}

void type(TerminalBackend& shell, const std::string& line) {
  ASSERT_EQ(::write(shell.descriptor(), line.data(), line.size()),
            static_cast<ssize_t>(line.size()));
}

RemoteShellRequest request_for(const SshdFixture& server, const TestCredentials& login) {
  RemoteShellRequest request;
  request.target = target_of(server);
  request.credentials = login.view();
  request.keys = trusting(server);
  return request;
}

TEST(RemoteShell, RunsAtTheTerminalsSizeAndEndsWithTheShellsStatus) {
  SKIP_WITHOUT_SSHD();
  SshdFixture server;
  const TestCredentials login = key_login(server);
  RemoteShellRequest request = request_for(server, login);
  request.size = {30, 100};
  request.term = "vt220";
  ScriptedPerson nobody;
  auto shell = open_remote_shell(request, nobody);
  ASSERT_TRUE(shell.has_value()) << shell.error().message << server.log();
  EXPECT_TRUE(nobody.prompts_seen.empty());
  EXPECT_EQ((*shell)->shell_in_foreground(), std::nullopt);

  std::string output;
  type(**shell, "stty size\n");
  read_until((*shell)->descriptor(), "30 100", output);
  (*shell)->resize({40, 120});
  // More output than the socketpair and libssh's window hold together: it must all arrive,
  // in order, before the end.
  type(**shell, "stty size; echo $TERM; seq 100000; exit 3\n");
  // Not read for a moment: the socketpair fills and the channel's window closes, so the pump
  // resumes from a partial write.
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  output = read_to_end((*shell)->descriptor());
  EXPECT_NE(output.find("40 120"), std::string::npos) << output.substr(0, 500);
  EXPECT_NE(output.find("vt220"), std::string::npos) << output.substr(0, 500);
  std::string numbers;
  for (int n = 1; n <= 100000; ++n)
    numbers += std::to_string(n) + "\r\n";
  EXPECT_NE(output.find(numbers), std::string::npos) << "the output lost or reordered bytes";

  const ShellEnding ending = (*shell)->ending();
  EXPECT_EQ(ending.exit_status, 3) << ending.reason;

  // A shell killed by a signal ends as a local one would: 128 + the signal's number.
  auto killed = open_remote_shell(request, nobody);
  ASSERT_TRUE(killed.has_value()) << killed.error().message;
  type(**killed, "kill -9 $$\n");
  read_to_end((*killed)->descriptor());
  EXPECT_EQ((*killed)->ending().exit_status, 128 + 9) << (*killed)->ending().reason;
}

TEST(RemoteShell, PutsWhatTheVaultCannotAnswerToThePerson) {
  SKIP_WITHOUT_SSHD();
  struct Case {
    const char* name;
    bool stored_password;                           // the vault holds one, and it is wrong
    std::optional<std::vector<std::string>> reply;  // "P": the account's password
    const char* code;                               // empty: the shell opens
    const char* prompt_has;
  };
  const std::vector<std::pair<SshdVariant, std::vector<Case>>> servers{
      {SshdVariant::key_then_other_question,
       {{"a question answered", false, std::vector<std::string>{"me@example.org"}, "", "e-mail"},
        {"the person gives up", false, std::nullopt, "auth_interaction_required", "e-mail"}}},
      {SshdVariant::key_then_password_prompt,
       {{"no stored password", false, std::vector<std::string>{"P"}, "", "assword"},
        {"the stored password refused", true, std::vector<std::string>{"P"}, "", "assword"}}},
  };
  for (const auto& [variant, cases] : servers) {
    SshdFixture server(variant);
    for (Case login_case : cases) {
      SCOPED_TRACE(login_case.name);
      TestCredentials login = key_login(server);
      if (login_case.stored_password) login.password = "not-the-password";
      ScriptedPerson person;
      if (login_case.reply && login_case.reply->front() == "P")
        login_case.reply = std::vector<std::string>{server.password()};
      person.replies = {login_case.reply};
      auto shell = open_remote_shell(request_for(server, login), person);
      ASSERT_EQ(person.prompts_seen.size(), 1u);
      EXPECT_NE(person.prompts_seen[0].text.find(login_case.prompt_has), std::string::npos)
          << person.prompts_seen[0].text;
      EXPECT_FALSE(person.prompts_seen[0].echo);
      if (std::string_view(login_case.code).empty()) {
        ASSERT_TRUE(shell.has_value()) << shell.error().message << server.log();
        // Hung up by the person: the descriptor ends and says so, with no exit status.
        (*shell)->hang_up();
        read_to_end((*shell)->descriptor());
        const ShellEnding ending = (*shell)->ending();
        EXPECT_EQ(ending.exit_status, std::nullopt);
        EXPECT_NE(ending.reason.find("hung up"), std::string::npos) << ending.reason;
      } else {
        ASSERT_FALSE(shell.has_value());
        EXPECT_EQ(shell.error().code, login_case.code) << shell.error().message;
      }
    }
  }
}

TEST(RemoteShell, AHostKeyNotYetTrustedIsThePersonsToTrust) {
  SKIP_WITHOUT_SSHD();
  SshdFixture server;
  const TestCredentials login = key_login(server);
  const TrustedHostKeys old_keys = trusting(server);
  const std::string old_line = server.host_key_line();
  const auto old_key = parse_host_key_line(old_line);
  ASSERT_TRUE(old_key.has_value());
  // What the vault holds for the host when the shell opens.
  enum class Stored { nothing, the_key_rejected, the_key_before_a_change };
  struct Case {
    const char* name;
    Stored stored;
    bool trusted;
    const char* code;  // empty: the shell opens
  };
  const std::vector<Case> cases{
      {"new key trusted", Stored::nothing, true, ""},
      {"new key refused", Stored::nothing, false, "hostkey_unknown"},
      {"rejected key refused again", Stored::the_key_rejected, false, "hostkey_rejected"},
      {"changed key refused", Stored::the_key_before_a_change, false, "hostkey_mismatch"},
      {"changed key trusted", Stored::the_key_before_a_change, true, ""},
  };
  for (const Case& key_case : cases) {
    SCOPED_TRACE(key_case.name);
    const bool changed = key_case.stored == Stored::the_key_before_a_change;
    if (changed && server.host_key_line() == old_line) server.change_host_key();
    RemoteShellRequest request = request_for(server, login);
    request.keys = changed ? old_keys : TrustedHostKeys{};
    if (key_case.stored == Stored::the_key_rejected)
      request.keys.rejected_fingerprints = {old_key->fingerprint};
    ScriptedPerson person;
    person.trusts_host_key = key_case.trusted;
    auto shell = open_remote_shell(request, person);
    ASSERT_EQ(person.keys_offered.size(), 1u);
    EXPECT_EQ(person.keys_offered[0].line, server.host_key_line());
    EXPECT_EQ(person.previous_key.has_value(), changed);
    if (person.previous_key) {
      EXPECT_EQ(person.previous_key->line, old_line);
    }
    if (std::string_view(key_case.code).empty()) {
      EXPECT_TRUE(shell.has_value()) << shell.error().message;
    } else {
      ASSERT_FALSE(shell.has_value());
      EXPECT_EQ(shell.error().code, key_case.code) << shell.error().message;
    }
  }
}

TEST(RemoteShell, AHostGoneSilentOrAConnectionEndedEndsTheShellAsLost) {
  SKIP_WITHOUT_SSHD();
  SshdFixture server;
  CuttableLink link(server.port());
  const TestCredentials login = key_login(server);
  RemoteShellRequest request = request_for(server, login);
  request.target.port = link.port();
  request.target.dead_link_after = std::chrono::seconds(2);
  ScriptedPerson nobody;
  auto shell = open_remote_shell(request, nobody);
  ASSERT_TRUE(shell.has_value()) << shell.error().message;
  std::string output;
  // Quiet for longer than the bound on a live link: keepalives get answers.
  type(**shell, "sleep 3; echo sti''ll\n");
  read_until((*shell)->descriptor(), "still", output);
  link.cut();
  read_to_end((*shell)->descriptor());
  const ShellEnding silent = (*shell)->ending();
  EXPECT_EQ(silent.exit_status, std::nullopt);
  EXPECT_NE(silent.reason.find("was lost"), std::string::npos) << silent.reason;
  EXPECT_NE(silent.reason.find("sent nothing"), std::string::npos) << silent.reason;

  // A host that restarts ends the connection itself.
  auto ended = open_remote_shell(request_for(server, login), nobody);
  ASSERT_TRUE(ended.has_value()) << ended.error().message;
  server.end_sessions();
  read_to_end((*ended)->descriptor());
  const ShellEnding broken = (*ended)->ending();
  EXPECT_EQ(broken.exit_status, std::nullopt);
  EXPECT_NE(broken.reason.find("was lost"), std::string::npos) << broken.reason;
}

}  // namespace
}  // namespace pendrel::desktop::testing
