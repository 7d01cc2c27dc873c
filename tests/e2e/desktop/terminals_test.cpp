// Terminals through the real programs: `pendrel-desktop term` and `attach` on pseudo-terminals
// of the test's own, against a front and a broker of the test's own, as a person uses them.
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>
#include <utmp.h>

#include <gtest/gtest.h>

#include <chrono>
#include <optional>

#include "desktop_scene.h"
#include "pty_client.h"
#include "ssh_scene.h"
#include "support/test_broker.h"

namespace pendrel::testing {
namespace {

using namespace std::chrono_literals;

constexpr std::string_view master = "terminal-master-pass-5";
constexpr std::string_view pin = "135792";

class Terminals : public ::testing::Test {
 protected:
  void SetUp() override {
    if (desktop_binary().empty()) GTEST_SKIP() << "PENDREL_DESKTOP_BIN is not set";
    scene.env["PENDREL_DESKTOP_TEST_KDF"] = "interactive";
    broker.emplace(scene.home.path(), scene.env);
    ASSERT_TRUE(broker->ready()) << "the test's broker did not start";
    scene.env = broker->pointed_at(scene.env);
    scene.env["TERM"] = "dumb";
    scene.state_dir = broker->state_of(::getuid());
    ASSERT_EQ(admin({"host", "add", "here", "--protocol", "LOCAL"}).exit_code, 0);
    front.emplace(scene.env, scene.data_dir);
    ASSERT_TRUE(front->ready()) << front->stderr_text();
  }

  void make_vault() {
    std::string lines = std::string(master) + "\n";
    ASSERT_EQ(admin({"init", "--password-fd", "0"}, lines).exit_code, 0);
    ASSERT_EQ(
        admin({"pin", "set", "--password-fd", "0"}, lines + std::string(pin) + "\n").exit_code, 0);
    ASSERT_EQ(admin({"unlock", "--password-fd", "0"}, lines).exit_code, 0);
  }

  RunResult admin(std::vector<std::string> args, std::string input = {}) const {
    return run_pendrel({.args = std::move(args),
                        .env = scene.env,
                        .stdin_data = std::move(input),
                        .program = desktop_binary()});
  }

  // A client that gave the PIN and is attached.
  std::unique_ptr<PtyClient> attached(std::vector<std::string> args) {
    auto client = std::make_unique<PtyClient>(scene.env, std::move(args));
    EXPECT_TRUE(client->wait_for("Master password or PIN: ")) << client->shown;
    client->type(std::string(pin) + "\r");
    EXPECT_TRUE(client->wait_for("Ctrl-\\ detaches")) << client->shown;
    return client;
  }

  DesktopScene scene;
  std::optional<TestBroker> broker;
  std::optional<DesktopService> front;
};

TEST_F(Terminals, LocalShellThroughDetachReplayTakeOverAndExit) {
  make_vault();
  auto first = attached({"term", "here"});
  first->type("echo mark-$((6*7))\r");
  EXPECT_TRUE(first->wait_for("mark-42")) << first->shown;
  first->resize(33, 101);
  first->type("stty size\r");
  EXPECT_TRUE(first->wait_for("33 101")) << first->shown;
  first->type("echo kept-$((2*3))\r");
  ASSERT_TRUE(first->wait_for("kept-6")) << first->shown;
  first->type("\x1c");
  EXPECT_EQ(first->exit_code(), 0) << first->shown;
  EXPECT_NE(first->shown.find("detached from terminal l1"), std::string::npos) << first->shown;
  EXPECT_TRUE(first->terminal_restored());

  auto listed = admin({"terminals", "--json"});
  EXPECT_NE(listed.out.find(R"("id":"l1","hostId")"), std::string::npos) << listed.out;
  EXPECT_NE(listed.out.find(R"("attached":false)"), std::string::npos) << listed.out;
  auto status = admin({"status"});
  EXPECT_NE(status.out.find("open terminals: 1 (SSH 0, LOCAL 1"), std::string::npos) << status.out;

  // The next client sees what the shell wrote before, and a third one takes over from it.
  auto second = attached({"attach", "l1"});
  EXPECT_TRUE(second->wait_for("kept-6")) << second->shown;
  auto third = attached({"attach", "l1"});
  EXPECT_TRUE(second->wait_for("taken over by another client")) << second->shown;
  EXPECT_EQ(second->exit_code(), 0);
  EXPECT_TRUE(second->terminal_restored());

  third->type("exit 3\r");
  EXPECT_EQ(third->exit_code(), 3) << third->shown;
  EXPECT_NE(third->shown.find("the shell exited with status 3"), std::string::npos) << third->shown;
  EXPECT_TRUE(third->terminal_restored());

  std::string audit = scene.audit();
  for (std::string_view kind :
       {"terminalOpen", "terminalAttach", "terminalDetach", "terminalTakenOver", "terminalClose"})
    EXPECT_NE(audit.find(kind), std::string::npos) << kind << "\n" << audit;
  EXPECT_NE(audit.find(R"("outcome":"exited","exitCode":3)"), std::string::npos) << audit;
  EXPECT_EQ(audit.find("mark-"), std::string::npos) << "the audit holds no content";
}

TEST_F(Terminals, AWrongSecretOpensNothing) {
  make_vault();
  PtyClient client(scene.env, {"term", "here"});
  ASSERT_TRUE(client.wait_for("Master password or PIN: ")) << client.shown;
  client.type("000000\r");
  EXPECT_EQ(client.exit_code(), 1) << client.shown;
  EXPECT_NE(client.shown.find("wrong master password or PIN"), std::string::npos) << client.shown;
  EXPECT_NE(admin({"terminals"}).out.find("no open terminals"), std::string::npos);
}

TEST_F(Terminals, StoppingTheFrontEndsItsTerminalsWithoutAVault) {
  // No vault: nothing to ask, and the terminal opens at once.
  PtyClient client(scene.env, {"term", "here"});
  ASSERT_TRUE(client.wait_for("Ctrl-\\ detaches")) << client.shown;
  client.type("echo up-$((3*3))\r");
  ASSERT_TRUE(client.wait_for("up-9")) << client.shown;
  front->stop();
  EXPECT_NE(client.exit_code(), -1) << client.shown;
  EXPECT_NE(client.shown.find("the service stopped"), std::string::npos) << client.shown;
  EXPECT_TRUE(client.terminal_restored());
}

class SshTerminals : public SshScene {
 protected:
  std::unique_ptr<PtyClient> client(std::vector<std::string> args) {
    auto env = scene.env;
    env["TERM"] = "dumb";
    return std::make_unique<PtyClient>(env, std::move(args));
  }
  void give_master(PtyClient& term, std::string_view prompt = "Master password or PIN: ") {
    ASSERT_TRUE(term.wait_for(prompt)) << term.shown;
    term.type(std::string(ssh_master) + "\r");
  }
};

TEST_F(SshTerminals, KeyLoginWithTheHostKeyTrustedAtOpening) {
  add_key_host("web");
  start_service();
  auto term = client({"term", "web"});
  give_master(*term);
  ASSERT_TRUE(term->wait_for("not trusted yet")) << term->shown;
  EXPECT_NE(term->shown.find(server_fingerprint()), std::string::npos) << term->shown;
  ASSERT_TRUE(term->wait_for("[y/N] ")) << term->shown;
  term->type("y\r");
  give_master(*term, "Master password: ");
  ASSERT_TRUE(term->wait_for("Ctrl-\\ detaches")) << term->shown;
  term->type("echo ssh-$((5*5))\r");
  EXPECT_TRUE(term->wait_for("ssh-25")) << term->shown;
  term->resize(31, 97);
  term->type("stty size\r");
  EXPECT_TRUE(term->wait_for("31 97")) << term->shown;
  term->type("exit 4\r");
  EXPECT_EQ(term->exit_code(), 4) << term->shown;
  EXPECT_TRUE(term->terminal_restored());

  // Trusted as `hostkey trust` trusts it: the next request needs nobody.
  RunResult keys = admin({"hostkey", "list", "web", "--password-fd", "0"}, lines({ssh_master}));
  EXPECT_NE(keys.out.find(server_fingerprint()), std::string::npos) << keys.out << keys.err;
  std::string audit = scene.audit();
  EXPECT_NE(audit.find(R"("kind":"terminalOpen")"), std::string::npos) << audit;
  EXPECT_NE(audit.find(R"("outcome":"exited","exitCode":4)"), std::string::npos) << audit;
}

TEST_F(SshTerminals, TheLoginsQuestionIsPutToThePerson) {
  server.emplace(SshdVariant::key_then_other_question);
  add_key_host("otp");
  trust_host_key("otp");
  start_service();
  auto term = client({"term", "otp"});
  give_master(*term);
  ASSERT_TRUE(term->wait_for("e-mail")) << term->shown;
  term->type("person@example.org\r");
  ASSERT_TRUE(term->wait_for("Ctrl-\\ detaches")) << term->shown;
  term->type("exit\r");
  EXPECT_EQ(term->exit_code(), 0) << term->shown;
  EXPECT_EQ(scene.audit().find("person@example.org"), std::string::npos);
  EXPECT_EQ(scene.service_log().find("person@example.org"), std::string::npos);
}

TEST_F(SshTerminals, ALockedVaultOpensNone) {
  add_key_host("web");
  trust_host_key("web");
  start_service();
  ASSERT_EQ(admin({"lock"}).exit_code, 0);
  auto term = client({"term", "web"});
  give_master(*term);
  EXPECT_EQ(term->exit_code(), 1) << term->shown;
  EXPECT_NE(term->shown.find("vault_locked"), std::string::npos) << term->shown;
  EXPECT_TRUE(term->terminal_restored());
}

}  // namespace
}  // namespace pendrel::testing
