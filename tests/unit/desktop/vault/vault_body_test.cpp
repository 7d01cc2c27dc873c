// The body reader's validation: every kind of fault is refused and named.
#include "desktop/broker/vault/vault_body.h"

#include <gtest/gtest.h>

namespace pendrel::desktop {
namespace {

std::string body_with_host(std::string_view host_members) {
  return R"({"hosts":{"h1":{)" + std::string(host_members) +
         R"(}},"hostKeys":{},"externalCli":true,"idleLockMinutes":60})";
}

constexpr std::string_view good_host =
    R"("name":"web","tags":["prod"],"address":"a","port":22,"username":"u","protocol":"SSH","cliAllowed":true,)"
    R"("legacyAlgorithms":false,"connectTimeoutSec":10,"useAgent":false)";

std::string host_with(std::string_view replaced, std::string_view by) {
  std::string members(good_host);
  members.replace(members.find(replaced), replaced.size(), by);
  return body_with_host(members);
}

struct RejectedBody {
  std::string text;
  std::string fault;  // a part of the message
  friend void PrintTo(const RejectedBody& body, std::ostream* out) { *out << body.text; }
};

class RejectedBodies : public ::testing::TestWithParam<RejectedBody> {};

TEST_P(RejectedBodies, NameTheFault) {
  auto decoded = decode_vault_body(SecretBytes::copy_of(GetParam().text));
  ASSERT_FALSE(decoded.has_value()) << GetParam().text;
  EXPECT_NE(decoded.error().find(GetParam().fault), std::string::npos) << decoded.error();
}

INSTANTIATE_TEST_SUITE_P(
    Faults, RejectedBodies,
    ::testing::Values(
        RejectedBody{"", "empty"}, RejectedBody{R"({"hosts":{})", "not valid JSON"},
        RejectedBody{"[]", "the body is not an object"},
        RejectedBody{R"({"hosts":{},"hostKeys":{},"externalCli":true})",
                     "missing member 'idleLockMinutes'"},
        RejectedBody{
            R"({"hosts":{},"hostKeys":{},"externalCli":true,"idleLockMinutes":1,"extra":1})",
            "unknown member 'extra'"},
        RejectedBody{
            R"({"hosts":{},"hostKeys":{},"externalCli":true,"externalCli":false,"idleLockMinutes":1})",
            "repeated member 'externalCli'"},
        RejectedBody{R"({"hosts":{"a":{)" + std::string(good_host) + R"(},"a":{)" +
                         std::string(good_host) +
                         R"(}},"hostKeys":{},"externalCli":true,"idleLockMinutes":1})",
                     "repeated entry 'a'"},
        RejectedBody{host_with(R"("port":22)", R"("port":70000)"), "port is not a whole number"},
        RejectedBody{host_with(R"("port":22)", R"("port":-1)"), "port is not a whole number"},
        RejectedBody{host_with(R"("port":22)", R"("port":0)"), "port 0"},
        RejectedBody{host_with(R"("SSH")", R"("TELNET")"), "neither"},
        RejectedBody{host_with(R"("cliAllowed":true)", R"("cliAllowed":"yes")"),
                     "cliAllowed is not true or false"},
        RejectedBody{host_with(R"("address":"a")", R"("address":"")"), "has no address"},
        RejectedBody{host_with(R"("useAgent":false)", R"("useAgent":false,"password":7)"),
                     "password is not a string"},
        RejectedBody{host_with(R"("username":"u",)", ""), "missing member 'username'"},
        RejectedBody{host_with(R"(["prod"])", R"(["prod",1])"), "tags item is not a string"},
        RejectedBody{
            R"({"hosts":{},"hostKeys":{"a:22":{"accepted":[{"type":"t","key":"k"}],"rejected":[]}},)"
            R"("externalCli":true,"idleLockMinutes":1})",
            "missing member 'fingerprint'"},
        RejectedBody{
            host_with(R"("useAgent":false)", R"("useAgent":false,"cliLogin":{"useAgent":true})"),
            "missing member 'username'"},
        RejectedBody{host_with(R"("useAgent":false)",
                               R"("useAgent":false,"cliLogin":{"username":"","useAgent":true})"),
                     "command-line login of host h1 has no user name"},
        RejectedBody{
            host_with(R"("useAgent":false)",
                      R"("useAgent":false,"cliLogin":{"username":"a","useAgent":false,"pin":"1"})"),
            "unknown member 'pin'"},
        RejectedBody{
            host_with(R"("SSH")", R"("LOCAL","cliLogin":{"username":"a","useAgent":true})"),
            "is LOCAL"},
        RejectedBody{
            R"({"hosts":{},"hostKeys":{},"externalCli":true,"idleLockMinutes":1,"rules":"{"})",
            "rule settings are not valid JSON"}));

TEST(VaultBody, ReadsTheSmallestBodyWithDefaults) {
  auto decoded = decode_vault_body(SecretBytes::copy_of(body_with_host(good_host)));
  ASSERT_TRUE(decoded.has_value()) << decoded.error();
  const VaultHost& host = decoded->hosts.at("h1");
  EXPECT_EQ(host.tags, std::vector<std::string>{"prod"});
  EXPECT_FALSE(host.max_duration_sec.has_value());
  EXPECT_FALSE(host.credentials.password.has_value());
  // Bodies written before hosts could have a command-line login still open.
  EXPECT_FALSE(host.cli_login.has_value());
  EXPECT_TRUE(decoded->rules_json.empty());
}

}  // namespace
}  // namespace pendrel::desktop
