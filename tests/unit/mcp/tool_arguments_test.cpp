#include "mcp/tool_arguments.h"

#include <gtest/gtest.h>

namespace pendrel::mcp {
namespace {

std::expected<Request, CliFailure> request_for(Tool tool, const std::string& arguments) {
  simdjson::dom::parser parser;
  simdjson::dom::object object = parser.parse(arguments).get_object().value_unsafe();
  return request_for_tool(tool, object, Language::en, {"pendrel-mcp", "node"});
}

TEST(ToolArguments, RefusesWhatPendrelRefusesAsUsage) {
  const struct {
    Tool tool;
    const char* arguments;
    const char* message;
  } cases[] = {
      {Tool::exec, R"({"host":"web"})", "missing argument: command"},
      {Tool::exec, R"({"host":"web","command":7})", "argument command must be a string"},
      {Tool::exec, R"({"host":"web","command":"ls","terminal":"yes"})",
       "argument terminal must be true or false"},
      {Tool::exec, R"({"host":"web","command":" \n\u3000"})", "command must not be empty"},
      {Tool::exec, R"({"host":"web","command":"ls","cwd":"/"})",
       "unknown argument: cwd (pendrel_exec takes host, command, terminal)"},
      {Tool::upload, R"({"host":"web","local":"a.txt","remote":"/tmp/"})",
       "the local path must be absolute: a.txt"},
      {Tool::download, R"({"host":"web","remote":"","local":"/tmp/a"})", "path must not be empty"},
      {Tool::list_hosts, R"({"query":null})", "argument query must be a string"},
  };
  for (const auto& c : cases) {
    auto request = request_for(c.tool, c.arguments);
    ASSERT_FALSE(request.has_value()) << c.arguments;
    EXPECT_EQ(request.error().code, "usage");
    EXPECT_EQ(request.error().exit_code, 1);
    EXPECT_EQ(request.error().message, c.message);
  }
  const std::string huge =
      R"({"host":"web","command":")" + std::string(max_command_bytes + 1, 'x') + R"("})";
  EXPECT_FALSE(request_for(Tool::exec, huge).has_value());
}

TEST(ToolArguments, BuildTheRequestWithTheCallerList) {
  auto exec = request_for(Tool::exec, R"({"host":"web","command":"cd /\nls\n","terminal":true})");
  ASSERT_TRUE(exec.has_value());
  const auto& sent = std::get<ExecRequest>(*exec);
  EXPECT_EQ(sent.command, "cd /\nls\n") << "sent with its white space";
  EXPECT_EQ(sent.terminal, TerminalMode::on);
  EXPECT_EQ(sent.caller, (std::vector<std::string>{"pendrel-mcp", "node"}));

  auto download =
      request_for(Tool::download, R"({"host":"web","remote":"/var/log/x","local":"//tmp/./a/"})");
  ASSERT_TRUE(download.has_value());
  EXPECT_EQ(std::get<DownloadRequest>(*download).local, "//tmp/a/");

  auto listed = request_for(Tool::list_hosts, "{}");
  ASSERT_TRUE(listed.has_value());
  EXPECT_EQ(std::get<ListHostsRequest>(*listed).query, "");
}

}  // namespace
}  // namespace pendrel::mcp
