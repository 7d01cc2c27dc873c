// Clients that are not pendrel: a broken frame or message costs only its own connection, and
// `quit` stops the service cleanly.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>

#include "desktop_scene.h"
#include "protocol/channel.h"
#include "protocol/unique_fd.h"

namespace pendrel::testing {
namespace {

UniqueFd connect_to(const std::string& data_dir) {
  auto socket = open_channel(data_dir);
  return socket ? std::move(*socket) : UniqueFd();
}

std::string frame(std::string_view payload) {
  std::string bytes;
  auto length = static_cast<std::uint32_t>(payload.size());
  for (int shift = 24; shift >= 0; shift -= 8)
    bytes += static_cast<char>((length >> shift) & 0xFFu);
  return bytes + std::string(payload);
}

// Sends `bytes`, half-closes, and reads whatever comes back until the service closes.
std::string exchange_raw(const std::string& data_dir, const std::string& bytes) {
  UniqueFd socket = connect_to(data_dir);
  EXPECT_TRUE(socket.valid());
  EXPECT_EQ(::send(socket.get(), bytes.data(), bytes.size(), MSG_NOSIGNAL),
            static_cast<ssize_t>(bytes.size()));
  ::shutdown(socket.get(), SHUT_WR);
  std::string answer;
  char buffer[4096];
  for (ssize_t got; (got = ::recv(socket.get(), buffer, sizeof buffer, 0)) > 0;)
    answer.append(buffer, static_cast<std::size_t>(got));
  return answer;
}

const std::string hello = frame(R"({"protocol":1,"client":"raw","lang":"en"})");

TEST(RawClients, ABrokenFrameOrMessageCostsOnlyItsConnection) {
  DesktopScene scene;
  DesktopService service(scene.env, scene.data_dir);
  ASSERT_TRUE(service.ready());
  struct Case {
    const char* name;
    std::string bytes;
    const char* answer_part;  // "": closed without any answer
  };
  const Case cases[] = {
      {"oversized", std::string("\x01\x00\x00\x01", 4), ""},
      {"truncated", std::string("\x00\x00\x01\x00{", 5), ""},
      {"hello not JSON", frame("{protocol"), R"("code":"bad_request")"},
      {"protocol 0", frame(R"({"protocol":0})"), R"("code":"protocol_mismatch")"},
      {"request not JSON", hello + frame("[1,"), R"("code":"bad_request")"},
      {"request ill-typed", hello + frame(R"({"type":"exec","data":{"host":7}})"),
       "`data.host`: expected a string"},
      {"request over the limit", hello + std::string("\x01\x00\x00\x01", 4), R"("welcome")"},
  };
  for (const auto& c : cases) {
    std::string answer = exchange_raw(scene.data_dir, c.bytes);
    if (*c.answer_part == '\0') {
      EXPECT_EQ(answer, "") << c.name;
    } else {
      EXPECT_NE(answer.find(c.answer_part), std::string::npos) << c.name << ": " << answer;
    }
  }
  EXPECT_EQ(scene.pendrel({"ls"}).exit_code, 0) << "the service serves on";
  EXPECT_NE(service.stderr_text().find("over the limit"), std::string::npos);
}

TEST(RawClients, QuitAnswersOkAndStopsTheService) {
  DesktopScene scene;
  DesktopService service(scene.env, scene.data_dir);
  ASSERT_TRUE(service.ready());
  std::string answer = exchange_raw(scene.data_dir, hello + frame(R"({"type":"quit"})"));
  EXPECT_NE(answer.find(R"({"type":"ok"})"), std::string::npos) << answer;
  EXPECT_EQ(service.wait_for_exit(), 0);
  EXPECT_FALSE(std::filesystem::exists(scene.data_dir + "/run/cli.sock"));
}

}  // namespace
}  // namespace pendrel::testing
