#include "desktop/broker/admin/terminal_commands.h"

#include <unistd.h>

#include <ctime>
#include <vector>

#include "desktop/broker/admin/password_option.h"
#include "desktop/broker/admin/terminal_opening.h"
#include "desktop/broker/admin/terminal_relay.h"
#include "desktop/shared/link/broker_address.h"
#include "desktop/shared/store/json_object_reader.h"
#include "protocol/environment.h"
#include "protocol/fd_io.h"
#include "protocol/json_writer.h"

namespace pendrel::desktop {
namespace {

using Outcome = std::expected<void, AdminFailure>;

BrokerAddress broker_for(const AdminContext& context) {
  if (auto configured = configured_broker(Environment::from_process())) return *configured;
  return personal_broker(context.data_dir);
}

Outcome attach_and_relay(const AdminContext& context, const TerminalWish& wish) {
  if (::isatty(STDIN_FILENO) == 0)
    return std::unexpected(bad_input("a terminal needs one: standard input is not a terminal"));
  auto attached = reach_terminal(broker_for(context), context.data_dir, wish);
  if (!attached) return std::unexpected(attached.error());
  RelayEnd end = relay_terminal(attached->socket.get(), attached->id, attached->host_name);
  (void)write_all(STDERR_FILENO, "pendrel-desktop: " + end.line + "\n");
  if (end.exit_code == 0) return {};
  return std::unexpected(AdminFailure{end.exit_code, ""});  // said already
}

Outcome reach(const AdminContext& context, Arguments& args, std::string_view action,
              std::string_view what) {
  TerminalWish wish;
  wish.action = std::string(action);
  while (!args.done()) {
    auto fd = take_password_fd(args, wish.secret_source);
    if (!fd) return std::unexpected(fd.error());
    if (*fd) continue;
    if (args.peek().starts_with("--") || !wish.target.empty()) break;
    wish.target = std::string(args.take());
  }
  if (auto end = expect_end(args); !end) return end;
  if (wish.target.empty())
    return std::unexpected(bad_input(std::string(action == "open" ? "term" : "attach") + " needs " +
                                     std::string(what)));
  return attach_and_relay(context, wish);
}

struct Listed {
  std::string id, host_id, host_name;
  std::int64_t opened = 0;
  bool attached = false;
};

void read_listing(std::string_view text, std::vector<Listed>& into) {
  ParsedObject parsed;
  if (!parse_object(text, parsed)) return;
  simdjson::dom::array terminals;
  if (parsed.object["terminals"].get_array().get(terminals) != simdjson::SUCCESS) return;
  for (auto element : terminals) {
    Listed listed;
    std::string_view value;
    if (element["id"].get_string().get(value) == simdjson::SUCCESS) listed.id = value;
    if (element["hostId"].get_string().get(value) == simdjson::SUCCESS) listed.host_id = value;
    if (element["hostName"].get_string().get(value) == simdjson::SUCCESS) listed.host_name = value;
    if (element["opened"].get_int64().get(listed.opened) != simdjson::SUCCESS) listed.opened = 0;
    if (element["attached"].get_bool().get(listed.attached) != simdjson::SUCCESS)
      listed.attached = false;
    into.push_back(std::move(listed));
  }
}

std::string utc_text(std::int64_t seconds) {
  std::time_t time = static_cast<std::time_t>(seconds);
  std::tm parts{};
  ::gmtime_r(&time, &parts);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%SZ", &parts);
  return text;
}

}  // namespace

Outcome open_terminal(const AdminContext& context, Arguments& args) {
  return reach(context, args, "open", "a host");
}

Outcome attach_terminal(const AdminContext& context, Arguments& args) {
  return reach(context, args, "attach", "a terminal's id (see pendrel-desktop terminals)");
}

Outcome list_terminals(const AdminContext& context, Arguments& args) {
  bool json = args.flag("--json");
  if (auto end = expect_end(args); !end) return end;
  auto listings = fetch_terminal_listings(broker_for(context), context.data_dir);
  if (!listings) return std::unexpected(listings.error());
  std::vector<Listed> all;
  read_listing(listings->service, all);
  if (listings->front) read_listing(*listings->front, all);
  if (json) {
    JsonWriter writer;
    writer.begin_object().key("terminals").begin_array();
    for (const auto& listed : all)
      writer.begin_object()
          .key("id")
          .string(listed.id)
          .key("hostId")
          .string(listed.host_id)
          .key("hostName")
          .string(listed.host_name)
          .key("opened")
          .integer(listed.opened)
          .key("attached")
          .boolean(listed.attached)
          .end_object();
    writer.end_array().end_object();
    print(writer.take() + "\n");
    return {};
  }
  if (all.empty()) {
    print("no open terminals\n");
    return {};
  }
  std::string text = "ID     HOST                 OPENED                ATTACHED\n";
  for (const auto& listed : all) {
    std::string id = listed.id, host = listed.host_name;
    id.resize(std::max<std::size_t>(id.size(), 6), ' ');
    host.resize(std::max<std::size_t>(host.size(), 20), ' ');
    text += id + " " + host + " " + utc_text(listed.opened) + "  " +
            (listed.attached ? "yes" : "no") + "\n";
  }
  print(text);
  return {};
}

}  // namespace pendrel::desktop
