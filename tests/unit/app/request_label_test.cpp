#include <gtest/gtest.h>

#include "app/connect.h"

namespace pendrel::testing {
namespace {

TEST(RequestLabel, NamesEveryKind) {
  const struct {
    Request request;
    std::string label;
  } cases[] = {
      {ListHostsRequest{"web"}, "ls"},
      {ExecRequest{"web-1", "uptime", TerminalMode::off, {}}, "exec（主机 web-1）"},
      {ExecRequest{"web-1", "uptime", TerminalMode::on, {}}, "exec --terminal（主机 web-1）"},
      {UploadRequest{{"db", "/a", "/b", {}}}, "upload（主机 db）"},
      {DownloadRequest{{"db", "/a", "/b", {}}}, "download（主机 db）"},
      {ActivateRequest{}, "activate"},
      {QuitRequest{}, "quit"},
  };
  for (const auto& [request, label] : cases)
    EXPECT_EQ(request_label(request), label);
}

}  // namespace
}  // namespace pendrel::testing
