#include "desktop/broker/admin/broker_command.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <vector>

#include "desktop/broker/admin/service_probe.h"
#include "desktop/broker/admin/terminal_opening.h"
#include "desktop/broker/vault/plain_hosts.h"
#include "desktop/shared/link/broker_connection.h"
#include "desktop/shared/link/broker_link.h"
#include "desktop/shared/link/descriptor_frames.h"
#include "desktop/shared/store/json_object_reader.h"
#include "protocol/data_dir.h"
#include "protocol/decimal.h"
#include "protocol/json_writer.h"
#include "protocol/os_error.h"
#include "protocol/unique_fd.h"

namespace pendrel::desktop {
namespace {

// The number the person's terminal gets in the command, and where key files start.
constexpr int terminal_number = 9;
constexpr int first_file_number = 10;

volatile std::sig_atomic_t interrupted = 0;
void note_interrupt(int) {
  interrupted = 1;
}

struct Handover {
  std::vector<std::string> args;
  std::vector<int> numbers;      // in the command
  std::vector<int> descriptors;  // here, in the same order
  std::vector<UniqueFd> opened;  // what this process opened for it
  bool terminal = false;
};

void hand(Handover& handover, int number, int descriptor) {
  handover.numbers.push_back(number);
  handover.descriptors.push_back(descriptor);
}

std::expected<Handover, AdminFailure> prepare(std::span<const std::string> args,
                                              const std::string& data_dir) {
  Handover handover;
  for (int standard = 0; standard < 3; ++standard) {
    if (::fcntl(standard, F_GETFD) >= 0) hand(handover, standard, standard);
  }
  UniqueFd tty(::open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC));
  if (tty) {
    hand(handover, terminal_number, tty.get());
    handover.opened.push_back(std::move(tty));
    handover.terminal = true;
  }
  int next_file = first_file_number;
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (args[0] == "init" && args[i] == "--import") {
      // The vault of the data directory, from before there was a broker.
      UniqueFd old(::open(vault_path(data_dir).c_str(), O_RDONLY | O_CLOEXEC));
      if (!old)
        return std::unexpected(
            bad_input("cannot read " + vault_path(data_dir) + ": " + os_error_text(errno)));
      hand(handover, next_file, old.get());
      handover.opened.push_back(std::move(old));
      handover.args.push_back("--import-from");
      handover.args.push_back("/dev/fd/" + std::to_string(next_file++));
      continue;
    }
    handover.args.push_back(args[i]);
    if (i + 1 >= args.size()) continue;
    if (args[i] == "--password-fd") {
      auto number = parse_decimal_u32(args[i + 1]);
      if (number && *number < first_file_number &&
          ::fcntl(static_cast<int>(*number), F_GETFD) >= 0 && *number > 2)
        hand(handover, static_cast<int>(*number), static_cast<int>(*number));
    } else if (args[i] == "--key") {
      // Opened here, with the person's permissions; the broker reads it from the descriptor.
      UniqueFd key(::open(args[i + 1].c_str(), O_RDONLY | O_CLOEXEC));
      if (!key)
        return std::unexpected(
            bad_input("cannot read " + args[i + 1] + ": " + os_error_text(errno)));
      hand(handover, next_file, key.get());
      handover.opened.push_back(std::move(key));
      handover.args.push_back("/dev/fd/" + std::to_string(next_file++));
      ++i;
    }
  }
  return handover;
}

std::string opening_of(const Handover& handover) {
  JsonWriter writer;
  writer.begin_object().key("kind").string("command").key("args").begin_array();
  for (const auto& arg : handover.args)
    writer.string(arg);
  writer.end_array().key("descriptors").begin_array();
  for (int number : handover.numbers)
    writer.unsigned_integer(static_cast<std::uint64_t>(number));
  writer.end_array();
  if (handover.terminal) writer.key("terminal").unsigned_integer(terminal_number);
  writer.end_object();
  return writer.take();
}

}  // namespace

bool runs_in_broker(std::string_view command) {
  // A terminal's relay runs in the person's process: what they type never passes through a
  // command the broker runs.
  return command != "stop" && command != "autostart" && command != "help" && command != "--help" &&
         command != "-h" && command != "term" && command != "attach" && command != "terminals";
}

std::expected<int, AdminFailure> run_in_broker(const BrokerAddress& broker,
                                               std::span<const std::string> args,
                                               bool* unreachable) {
  auto found = find_data_dir(Environment::from_process());
  std::string data_dir = found ? working_form(*found) : std::string();
  auto handover = prepare(args, data_dir);
  if (!handover) return std::unexpected(handover.error());
  // The installed broker cannot see the person's front: `status` tells it what this side
  // finds in the data directory, to show in place of the broker's own service.
  if (args.front() == "status" && !broker.personal) {
    ServiceState front = probe_service(data_dir);
    handover->args.push_back("--front-socket");
    handover->args.push_back(front.socket_path);
    if (front.running) handover->args.push_back("--front-running");
    if (front.pid) {
      handover->args.push_back("--front-pid");
      handover->args.push_back(std::to_string(*front.pid));
    }
    if (front.version) {
      handover->args.push_back("--front-version");
      handover->args.push_back(*front.version);
    }
    if (front.unavailable_reason) {
      handover->args.push_back("--front-unavailable");
      handover->args.push_back(*front.unavailable_reason);
    }
    // Last: `status` reads the front's facts in this order.
    if (front.running) {
      handover->args.push_back("--front-terminals");
      handover->args.push_back(std::to_string(count_front_terminals(data_dir).value_or(0)));
    }
  }
  auto socket = connect_to_broker(broker);
  if (!socket) {
    if (unreachable != nullptr)
      *unreachable = socket.error().kind == BrokerFailure::Kind::unreachable;
    return std::unexpected(AdminFailure{3, socket.error().text});
  }
  if (auto sent =
          write_frame_with_descriptors(socket->get(), opening_of(*handover), handover->descriptors);
      !sent)
    return std::unexpected(bad_input("cannot talk to the broker: " + os_error_text(sent.error())));
  handover->opened.clear();
  // A stopping signal is the command's: the broker interrupts it once this side hangs up its
  // writing, and the command restores the terminal before it ends.
  struct sigaction action {};
  action.sa_handler = note_interrupt;
  for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT})
    ::sigaction(signal, &action, nullptr);
  bool told = false;
  for (;;) {
    if (interrupted && !told) {
      ::shutdown(socket->get(), SHUT_WR);
      told = true;
    }
    pollfd entry{socket->get(), POLLIN, 0};
    if (::poll(&entry, 1, 200) <= 0) continue;
    auto frame =
        read_frame_with_descriptors(socket->get(), max_opening_bytes,
                                    std::chrono::steady_clock::now() + std::chrono::seconds(30));
    if (!frame)
      return std::unexpected(bad_input("the broker did not finish the command: " + frame.error()));
    ParsedObject parsed;
    if (auto valid = parse_object(frame->payload.view(), parsed); !valid)
      return std::unexpected(bad_input("the broker's answer is not valid: " + valid.error()));
    auto reader = ObjectReader::over(parsed.object);
    if (!reader) return std::unexpected(bad_input(reader.error()));
    auto code = reader->unsigned_integer("exit");
    if (!code || !*code) return std::unexpected(bad_input("the broker's answer has no exit code"));
    if (**code == 0 && args.front() == "init" &&
        std::find(args.begin(), args.end(), "--import") != args.end()) {
      // Moved: the old files would only mislead.
      ::unlink(vault_path(data_dir).c_str());
      ::unlink((data_dir + "/hosts.json").c_str());
    }
    return static_cast<int>(**code);
  }
}

}  // namespace pendrel::desktop
