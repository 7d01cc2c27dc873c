#include "desktop/broker/admin/host_commands.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdio>
#include <optional>
#include <vector>

#include "desktop/broker/admin/host_options.h"
#include "desktop/broker/admin/host_printing.h"
#include "desktop/broker/admin/hosts_edit.h"
#include "desktop/broker/admin/password_option.h"
#include "desktop/broker/admin/store_lock.h"
#include "desktop/shared/store/host_id.h"
#include "desktop/shared/store/host_lookup.h"
#include "desktop/shared/store/hosts_file.h"
#include "protocol/decimal.h"
#include "protocol/environment.h"
#include "protocol/json_writer.h"
#include "protocol/os_error.h"

namespace pendrel::desktop {
namespace {

using Outcome = std::expected<void, AdminFailure>;

std::expected<std::vector<HostRecord>, AdminFailure> read_hosts(const AdminContext& context) {
  auto hosts = load_hosts(context.data_dir);
  if (!hosts) return std::unexpected(bad_input(hosts.error()));
  return std::move(*hosts);
}

std::expected<std::size_t, AdminFailure> find(const std::vector<HostRecord>& hosts,
                                              std::string_view wanted) {
  auto found = find_saved_host(hosts, wanted);
  if (found) return *found;
  if (found.error().code == "host_not_found")
    return std::unexpected(no_such_host(found.error().message));
  return std::unexpected(bad_input(found.error().message));
}

// The login name of the person, for a host added without --user: in the broker that is the
// uid the broker runs the command for, not the broker's own account.
std::expected<std::string, AdminFailure> current_user(const AdminContext& context) {
  uid_t uid = ::getuid();
  if (context.in_broker) {
    // Held here: the view that get_non_empty returns points into it.
    const Environment environment = Environment::from_process();
    auto person = environment.get_non_empty("PENDREL_BROKER_PERSON_UID");
    if (auto parsed = person ? parse_decimal_u32(*person) : std::nullopt)
      uid = static_cast<uid_t>(*parsed);
  }
  std::vector<char> buffer(16384);
  passwd entry{};
  passwd* found = nullptr;
  if (::getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found) == 0 && found &&
      found->pw_name && *found->pw_name) {
    return std::string(found->pw_name);
  }
  return std::unexpected(bad_input("cannot tell the current user's name; give --user"));
}

// A shared name is allowed (two hosts may well be called "db"), but from now on pendrel and
// these commands can reach them by id only: say so while the person is still at it.
void note_shared_name(const std::vector<HostRecord>& hosts, const HostRecord& host) {
  for (const auto& other : hosts) {
    if (other.id != host.id && other.name == host.name) {
      std::fprintf(stderr,
                   "pendrel-desktop: note: host %s is also named %s; use ids to tell them apart\n",
                   other.id.c_str(), host.name.c_str());
    }
  }
}

// The connection options are kept for a LOCAL host too (it may become an SSH host later),
// but they change nothing until then: say so rather than let the person think otherwise.
void note_unused_ssh_options(const HostOptions& options, const HostRecord& host) {
  if (host.protocol == HostProtocol::local &&
      (options.legacy || options.connect_timeout_sec || options.max_duration)) {
    std::fputs(
        "pendrel-desktop: note: --legacy, --connect-timeout and --max-duration apply to SSH "
        "hosts only\n",
        stderr);
  }
}

void print_id(const HostRecord& host, bool json) {
  if (json) {
    JsonWriter writer;
    writer.begin_object().key("id").string(host.id).end_object();
    print(writer.take_line());
  } else {
    print(host.id + "\n");
  }
}

Outcome add_host(const AdminContext& context, Arguments& args) {
  auto options = parse_host_options(args, HostOptionsFor::add);
  if (!options) return std::unexpected(options.error());
  if (!options->name) return std::unexpected(bad_input("host add needs a NAME"));
  HostRecord host;
  // A LOCAL host is this machine; an SSH host cannot be reached without an address.
  if (!options->address) {
    if (options->protocol != HostProtocol::local) {
      return std::unexpected(bad_input("host add needs --address"));
    }
    host.address = "localhost";
  }
  if (!options->username) {
    auto user = current_user(context);
    if (!user) return std::unexpected(user.error());
    host.username = std::move(*user);
  }
  apply_host_options(*options, host);

  auto edit = HostsEdit::begin(context, options->password_source,
                               options->credentials.any() || options->cli_login.any());
  if (!edit) return std::unexpected(edit.error());
  auto& hosts = edit->hosts();
  auto id = generate_host_id(hosts);
  if (!id) return std::unexpected(bad_input("cannot draw a host id: " + os_error_text(id.error())));
  host.id = std::move(*id);
  hosts.push_back(host);
  if (auto saved = edit->commit(host.id, options->credentials, options->cli_login); !saved)
    return saved;
  note_shared_name(hosts, host);
  note_unused_ssh_options(*options, host);
  print_id(host, options->json);
  return {};
}

Outcome set_host(const AdminContext& context, Arguments& args) {
  if (args.done()) return std::unexpected(bad_input("host set needs a HOST (an id or a name)"));
  std::string wanted(args.take());
  auto options = parse_host_options(args, HostOptionsFor::set);
  if (!options) return std::unexpected(options.error());
  auto edit = HostsEdit::begin(context, options->password_source,
                               options->credentials.any() || options->cli_login.any());
  if (!edit) return std::unexpected(edit.error());
  auto& hosts = edit->hosts();
  auto index = find(hosts, wanted);
  if (!index) return std::unexpected(index.error());
  HostRecord& host = hosts[*index];
  apply_host_options(*options, host);
  if (auto saved = edit->commit(host.id, options->credentials, options->cli_login); !saved)
    return saved;
  if (options->name) note_shared_name(hosts, host);
  note_unused_ssh_options(*options, host);
  print_id(host, options->json);
  return {};
}

Outcome remove_host(const AdminContext& context, Arguments& args) {
  if (args.done()) return std::unexpected(bad_input("host remove needs a HOST (an id or a name)"));
  std::string wanted(args.take());
  bool json = false;
  PasswordSource source;
  if (auto taken = take_json_and_password_fd(args, json, source); !taken)
    return std::unexpected(taken.error());
  if (auto end = expect_end(args); !end) return end;
  auto edit = HostsEdit::begin(context, source, false);
  if (!edit) return std::unexpected(edit.error());
  auto& hosts = edit->hosts();
  auto index = find(hosts, wanted);
  if (!index) return std::unexpected(index.error());
  HostRecord removed = hosts[*index];
  hosts.erase(hosts.begin() + static_cast<std::ptrdiff_t>(*index));
  if (auto saved = edit->commit(removed.id, {}); !saved) return saved;
  print_id(removed, json);
  return {};
}

Outcome list_saved_hosts(const AdminContext& context, Arguments& args) {
  bool json = args.flag("--json");
  if (auto end = expect_end(args); !end) return end;
  auto hosts = read_hosts(context);
  if (!hosts) return std::unexpected(hosts.error());
  if (json) {
    JsonWriter writer;
    writer.begin_array();
    for (const auto& host : *hosts)
      write_host_json(writer, host);
    writer.end_array();
    print(writer.take_line());
  } else if (hosts->empty()) {
    std::fputs("no hosts yet; add one with pendrel-desktop host add\n", stderr);
  } else {
    print(host_table(*hosts));
  }
  return {};
}

Outcome show_host(const AdminContext& context, Arguments& args) {
  if (args.done()) return std::unexpected(bad_input("host show needs a HOST (an id or a name)"));
  std::string wanted(args.take());
  bool json = args.flag("--json");
  if (auto end = expect_end(args); !end) return end;
  auto hosts = read_hosts(context);
  if (!hosts) return std::unexpected(hosts.error());
  auto index = find(*hosts, wanted);
  if (!index) return std::unexpected(index.error());
  if (json) {
    JsonWriter writer;
    write_host_json(writer, (*hosts)[*index]);
    print(writer.take_line());
  } else {
    print(host_details((*hosts)[*index]));
  }
  return {};
}

struct HostCommand {
  std::string_view name;
  Outcome (*run)(const AdminContext&, Arguments&);
};

constexpr HostCommand host_commands[] = {
    {"add", add_host},          {"set", set_host},   {"remove", remove_host},
    {"list", list_saved_hosts}, {"show", show_host},
};

}  // namespace

std::expected<void, AdminFailure> run_host_command(const AdminContext& context, Arguments& args) {
  if (args.done()) {
    return std::unexpected(bad_input("host needs add, set, remove, list or show"));
  }
  std::string_view verb = args.take();
  for (const auto& command : host_commands) {
    if (command.name == verb) return command.run(context, args);
  }
  return std::unexpected(
      bad_input("unknown host command " + std::string(verb) + " (add, set, remove, list or show)"));
}

}  // namespace pendrel::desktop
