#include "desktop/shared/store/host_lookup.h"

#include <gtest/gtest.h>

namespace pendrel::desktop {
namespace {

HostRecord host(std::string id, std::string name, CliAccess cli = CliAccess::on,
                std::vector<std::string> tags = {}) {
  HostRecord record;
  record.id = std::move(id);
  record.name = std::move(name);
  record.address = "10.0.0." + std::to_string(record.id.size());
  record.username = "deploy";
  record.tags = std::move(tags);
  record.cli = cli;
  record.credential_ref = "secret-ref";
  return record;
}

const std::vector<HostRecord> hosts = {
    host("k3x9q2ma", "web-1", CliAccess::on, {"Prod"}),
    host("aaaa0001", "db", CliAccess::on, {"staging"}),
    host("aaaa0002", "twin"),
    host("aaaa0003", "twin"),
    host("aaaa0004", "hidden", CliAccess::off),
    host("web-1", "named-like-an-id"),
};

TEST(ResolveHost, FindsByIdBeforeNameAndRefusesWhatItMust) {
  struct Case {
    std::string_view wanted;
    std::string_view id;  // the host found, or empty
    std::string_view error;
  } cases[] = {
      {"k3x9q2ma", "k3x9q2ma", ""},
      {"db", "aaaa0001", ""},
      {"web-1", "web-1", ""},  // an id wins over another host's name
      {"aaaa0002", "aaaa0002", ""},
      {"twin", "", "bad_request"},
      {"hidden", "", "host_not_allowed"},
      {"aaaa0004", "", "host_not_allowed"},
      {"nobody", "", "host_not_found"},
      {"", "", "host_not_found"},
      {"WEB-1", "", "host_not_found"},  // ids and names match exactly
  };
  for (const auto& c : cases) {
    auto found = resolve_host(hosts, c.wanted);
    if (c.error.empty()) {
      ASSERT_TRUE(found) << c.wanted << ": " << found.error().message;
      EXPECT_EQ(found->id, c.id);
    } else {
      ASSERT_FALSE(found) << c.wanted;
      EXPECT_EQ(found.error().code, c.error) << c.wanted;
    }
  }
  auto ambiguous = resolve_host(hosts, "twin");
  EXPECT_NE(ambiguous.error().message.find("aaaa0002, aaaa0003"), std::string::npos);
}

TEST(ListHosts, FiltersCaseInsensitivelyAndSortsByNameThenId) {
  struct Case {
    std::string_view query;
    std::vector<std::string> ids;
  } cases[] = {
      {"", {"aaaa0001", "web-1", "aaaa0002", "aaaa0003", "k3x9q2ma"}},
      {"PROD", {"k3x9q2ma"}},                                                 // a tag, without case
      {"staging", {"aaaa0001"}},                                              // a tag
      {"K3X9", {"k3x9q2ma"}},                                                 // an id
      {"10.0.0.5", {"web-1"}},                                                // an address
      {"DEPLOY", {"aaaa0001", "web-1", "aaaa0002", "aaaa0003", "k3x9q2ma"}},  // a user
      {"hidden", {}},  // access off never shows
      {"secret", {}},  // the credential is not searched
  };
  for (const auto& c : cases) {
    std::vector<std::string> ids;
    for (const auto& summary : list_hosts(hosts, c.query))
      ids.push_back(summary.id);
    EXPECT_EQ(ids, c.ids) << c.query;
  }
}

}  // namespace
}  // namespace pendrel::desktop
