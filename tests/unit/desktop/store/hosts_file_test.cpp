#include "desktop/shared/store/hosts_file.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include "desktop/shared/store/data_store.h"
#include "desktop/shared/store/settings_file.h"
#include "support/temp_dir.h"

namespace pendrel::desktop {
namespace {

constexpr std::string_view good_host =
    R"({"id":"k3x9q2ma","name":"web-1","address":"10.0.0.5","port":22,"username":"deploy",)"
    R"("protocol":"SSH","tags":["prod"],"cli":true,"legacyAlgorithms":true,)"
    R"("connectTimeoutSec":5,"maxDurationSec":60,"credential":"c1"})";

TEST(HostsFile, RoundTripsEveryField) {
  auto hosts =
      parse_hosts(std::string(R"({"version":1,"hosts":[)") + std::string(good_host) + "]}");
  ASSERT_TRUE(hosts) << hosts.error();
  auto again = parse_hosts(encode_hosts(*hosts));
  ASSERT_TRUE(again) << again.error();
  ASSERT_EQ(again->size(), 1u);
  const HostRecord& host = again->front();
  EXPECT_EQ(host.id, "k3x9q2ma");
  EXPECT_EQ(host.port, 22);
  EXPECT_EQ(host.tags, std::vector<std::string>{"prod"});
  EXPECT_EQ(host.cli, CliAccess::on);
  EXPECT_EQ(host.credential_ref, "c1");
  EXPECT_EQ(host.legacy_algorithms, LegacyAlgorithms::on);
  EXPECT_EQ(host.connect_timeout_sec, 5u);
  EXPECT_EQ(host.max_duration_sec, 60u);
}

TEST(HostsFile, RefusesBadInputWithAReasonNamingTheField) {
  auto with = [](std::string_view host) {
    return std::string(R"({"version":1,"hosts":[)") + std::string(host) + "]}";
  };
  struct Case {
    std::string text;
    std::string_view reason;
  } cases[] = {
      {"", "not valid JSON"},
      {"[]", "not a JSON object"},
      {R"({"version":2,"hosts":[]})", "version 2"},
      {R"({"version":1,"hosts":{}})", "\"hosts\" must be an array"},
      {R"({"hosts":[],"hosts":[]})", "given twice"},
      {with("7"), "host 1: must be an object"},
      {with(R"({"id":"a1","name":"n","address":"h"})"), "no \"username\""},
      {with(R"({"id":"a1","name":"n","address":"h","username":"u","port":"22"})"),
       "\"port\" must be a whole number"},
      {with(R"({"id":"a1","name":"n","address":"h","username":"u","port":70000})"),
       "from 1 to 65535"},
      {with(R"({"id":"a1","name":"n","address":"h","username":"u","protocol":"ssh"})"),
       "\"protocol\" must be"},
      {with(R"({"id":"a1","name":"n","address":"h","username":"u","cli":1})"),
       "\"cli\" must be true or false"},
      {with(R"({"id":"a1","name":"n","address":"h","username":"u","tags":[1]})"),
       "\"tags\" must hold strings"},
      {with(R"({"id":"a1","name":"n","address":"h","username":"u","connectTimeoutSec":0})"),
       "\"connectTimeoutSec\" must be from 1 to 3600"},
      {with(R"({"id":"a1","name":"n","address":"h","username":"u","maxDurationSec":0})"),
       "\"maxDurationSec\" must be from 1"},
      {with(R"({"id":"a1","name":"n","address":"h","username":"u","legacyAlgorithms":"on"})"),
       "\"legacyAlgorithms\" must be true or false"},
      {with(R"({"id":"A1","name":"n","address":"h","username":"u"})"), "id may hold only"},
      {with(R"({"id":"a1","name":"n","address":"h","username":"a;b"})"), "username must not"},
      {with(R"({"id":"a1","name":"n","address":"h","username":"-x"})"), "username must not"},
      {with(R"({"id":"a1","name":"n","address":"h;rm","username":"u"})"), "address may hold"},
      {with(std::string(good_host) + "," + std::string(good_host)),
       "host 2: id k3x9q2ma is used twice"},
  };
  for (const auto& c : cases) {
    auto hosts = parse_hosts(c.text);
    ASSERT_FALSE(hosts) << c.text;
    EXPECT_NE(hosts.error().find(c.reason), std::string::npos) << c.text << " -> " << hosts.error();
  }
}

TEST(DataStore, FollowsEditsAndKeepsTheLastGoodStateOfABadFile) {
  testing::TempDir dir;
  std::vector<std::string> reports;
  DataStore store(dir.path(), [&](std::string_view line) { reports.emplace_back(line); });
  EXPECT_TRUE(store.hosts().empty());
  EXPECT_EQ(store.settings().external_cli, ExternalCli::on);

  HostRecord host;
  host.id = "k3x9q2ma";
  host.name = "web-1";
  host.address = "10.0.0.5";
  host.username = "deploy";
  ASSERT_TRUE(save_hosts(dir.path(), {host}));
  ASSERT_TRUE(save_external_cli(dir.path(), ExternalCli::off));
  EXPECT_EQ(store.hosts().size(), 1u);
  EXPECT_EQ(store.settings().external_cli, ExternalCli::off);

  testing::write_file(dir / "hosts.json", "{broken");
  testing::write_file(dir / "settings.json", R"({"externalCli":"yes"})");
  EXPECT_EQ(store.hosts().size(), 1u);
  EXPECT_EQ(store.settings().external_cli, ExternalCli::off);
  EXPECT_EQ(store.hosts().size(), 1u);  // reported once per change, not per call
  EXPECT_EQ(reports.size(), 2u);
}

// An edit of the same size within one tick of the file clock leaves inode, size and time as
// they were; the store must still see it.
TEST(DataStore, SeesASameSizeEditThatKeepsTheFileTime) {
  testing::TempDir dir;
  DataStore store(dir.path(), {});
  HostRecord host;
  host.id = "k3x9q2ma";
  host.name = "web-1";
  host.address = "10.0.0.5";
  host.username = "deploy";
  ASSERT_TRUE(save_hosts(dir.path(), {host}));
  ASSERT_EQ(store.hosts().at(0).address, "10.0.0.5");

  struct stat before {};
  ASSERT_EQ(::stat((dir / "hosts.json").c_str(), &before), 0);
  std::string text = testing::read_file(dir / "hosts.json");
  text.replace(text.find("10.0.0.5"), 8, "10.0.0.6");
  testing::write_file(dir / "hosts.json", text);
  const timespec times[2] = {before.st_atim, before.st_mtim};
  ASSERT_EQ(::utimensat(AT_FDCWD, (dir / "hosts.json").c_str(), times, 0), 0);
  EXPECT_EQ(store.hosts().at(0).address, "10.0.0.6");
}

TEST(SettingsFile, SwitchingOneSettingKeepsTheOtherMembers) {
  testing::TempDir dir;
  testing::write_file(dir / "settings.json", R"({"version":1,"fromANewerVersion":[1,{"a":"b"}]})");
  ASSERT_TRUE(save_external_cli(dir.path(), ExternalCli::off));
  EXPECT_EQ(testing::read_file(dir / "settings.json"),
            "{\"version\":1,\"fromANewerVersion\":[1,{\"a\":\"b\"}],\"externalCli\":false}\n");
  testing::write_file(dir / "settings.json", "{broken");
  EXPECT_FALSE(save_external_cli(dir.path(), ExternalCli::on));  // never overwrites a bad file
  EXPECT_EQ(testing::read_file(dir / "settings.json"), "{broken");
}

}  // namespace
}  // namespace pendrel::desktop
