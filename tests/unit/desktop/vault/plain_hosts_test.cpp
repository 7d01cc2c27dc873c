// The plain hosts file as a copy of the vault: each field that decides where a secret goes is
// compared, and the copy never carries a secret.
#include "desktop/broker/vault/plain_hosts.h"

#include <gtest/gtest.h>

#include "desktop/shared/store/hosts_file.h"

namespace pendrel::desktop {
namespace {

VaultContents one_host() {
  VaultContents contents;
  VaultHost host;
  host.name = "web";
  host.address = "10.0.0.5";
  host.port = 2222;
  host.username = "deploy";
  host.cli = CliAccess::on;
  host.legacy_algorithms = LegacyAlgorithms::on;
  host.connect_timeout_sec = 5;
  host.max_duration_sec = 60;
  host.credentials.password = SecretString::copy_of("hunter2-secret");
  contents.hosts.emplace("k3x9q2ma", std::move(host));
  return contents;
}

TEST(PlainHosts, EveryRoutingFieldEditedInThePlainCopyIsNoticed) {
  struct Case {
    const char* field;
    void (*edit)(HostRecord&);
  };
  const Case cases[] = {
      {"address", [](HostRecord& h) { h.address = "10.6.6.6"; }},
      {"port", [](HostRecord& h) { h.port = 22; }},
      {"username", [](HostRecord& h) { h.username = "root"; }},
      {"protocol", [](HostRecord& h) { h.protocol = HostProtocol::local; }},
      {"cli", [](HostRecord& h) { h.cli = CliAccess::off; }},
      {"legacy devices option", [](HostRecord& h) { h.legacy_algorithms = LegacyAlgorithms::off; }},
      {"connect timeout", [](HostRecord& h) { h.connect_timeout_sec = 10; }},
      {"time limit", [](HostRecord& h) { h.max_duration_sec.reset(); }},
      {"command-line login", [](HostRecord& h) { h.cli_user = "root"; }},
  };
  VaultContents contents = one_host();
  const VaultHost& stored = contents.hosts.at("k3x9q2ma");
  HostRecord copy = plain_hosts_from(contents).at(0);
  EXPECT_EQ(plain_disagreement(copy, stored), std::nullopt);
  copy.name = "renamed";  // listing-only fields may differ
  copy.tags = {"x"};
  EXPECT_EQ(plain_disagreement(copy, stored), std::nullopt);
  for (const auto& c : cases) {
    HostRecord edited = plain_hosts_from(contents).at(0);
    c.edit(edited);
    EXPECT_EQ(plain_disagreement(edited, stored), std::optional<std::string>(c.field)) << c.field;
  }
}

TEST(PlainHosts, TheCopyOnlySaysThatALoginIsStored) {
  VaultContents contents = one_host();
  HostRecord copy = plain_hosts_from(contents).at(0);
  EXPECT_EQ(copy.credential_ref, "vault");
  contents.hosts.at("k3x9q2ma").credentials.password.reset();
  EXPECT_EQ(plain_hosts_from(contents).at(0).credential_ref, "");
  contents.hosts.at("k3x9q2ma").agent = AgentUse::on;
  EXPECT_EQ(plain_hosts_from(contents).at(0).credential_ref, "vault");

  // A command-line login shows as its user, never what it logs in with.
  CliLogin& login = contents.hosts.at("k3x9q2ma").cli_login.emplace();
  login.username = "agent";
  login.credentials.password = SecretString::copy_of("agent-secret-7");
  std::vector<HostRecord> plain = plain_hosts_from(contents);
  EXPECT_EQ(plain.at(0).cli_user, "agent");
  EXPECT_EQ(encode_hosts(plain).find("agent-secret-7"), std::string::npos);
  EXPECT_EQ(parse_hosts(encode_hosts(plain)).value().at(0).cli_user, "agent");
}

}  // namespace
}  // namespace pendrel::desktop
