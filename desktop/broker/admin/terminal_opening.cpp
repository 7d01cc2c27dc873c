#include "desktop/broker/admin/terminal_opening.h"

#include <sodium.h>
#include <unistd.h>

#include <chrono>

#include "desktop/broker/admin/password_option.h"
#include "desktop/broker/admin/terminal_relay.h"
#include "desktop/broker/vault/secret_bytes.h"
#include "desktop/shared/link/broker_connection.h"
#include "desktop/shared/link/descriptor_frames.h"
#include "desktop/shared/store/json_object_reader.h"
#include "protocol/channel.h"
#include "protocol/environment.h"
#include "protocol/fd_io.h"
#include "protocol/json_writer.h"
#include "protocol/os_error.h"

namespace pendrel::desktop {
namespace {

using namespace std::chrono_literals;

// The service may wait on the person at the host's end too (a slow login): generous.
constexpr auto service_answer_wait = 10min;
constexpr std::uint32_t max_question_bytes = 1 << 20;

std::string text_of(const ObjectReader& reader, std::string_view key) {
  auto value = reader.string(key);
  return value && *value ? **value : std::string();
}

AdminFailure refused(const ObjectReader& reader) {
  std::string code = text_of(reader, "code");
  std::string error = text_of(reader, "error");
  int exit_code = code == "host_not_found" ? 2 : code == "app_not_running" ? 3 : 1;
  return AdminFailure{exit_code, code.empty() ? error : code + ": " + error};
}

AdminFailure lost(std::string what) {
  return AdminFailure{3, "the connection to the service was lost: " + std::move(what)};
}

// A line typed on the person's terminal, shown as it is typed or not, as the server asked.
std::expected<SecretString, AdminFailure> ask_on_terminal(std::string_view prompt, bool echo) {
  auto tty = open_terminal();
  if (!tty) return std::unexpected(bad_input("the login asks a question and there is no terminal"));
  if (!echo) {
    auto answer = read_password_from_terminal(tty->get(), prompt);
    if (!answer) return std::unexpected(bad_input("no answer was given"));
    return std::move(*answer);
  }
  (void)write_all(tty->get(), prompt);
  std::string line;
  char byte = 0;
  while (::read(tty->get(), &byte, 1) == 1 && byte != '\n')
    line.push_back(byte);
  SecretString answer = SecretString::copy_of(line);
  sodium_memzero(line.data(), line.size());
  return answer;
}

// Writes a JSON string member holding a secret and sends the frame; the text is wiped after.
bool send_with_secret(int socket, std::string_view before, const SecretString& secret,
                      std::string_view after) {
  JsonWriter writer;
  writer.string(secret.view());
  std::string frame = std::string(before) + writer.text() + std::string(after);
  bool sent = write_frame(socket, frame).has_value();
  sodium_memzero(frame.data(), frame.size());
  return sent;
}

class Conversation {
 public:
  Conversation(int socket, const TerminalWish& wish) : socket_(socket), wish_(wish) {}

  // Answers the service's questions until it says how the terminal is reached.
  std::expected<ParsedObject*, AdminFailure> run() {
    for (;;) {
      auto frame = read_frame(socket_, max_question_bytes,
                              FrameWait{std::chrono::steady_clock::now() + service_answer_wait});
      if (!frame) return std::unexpected(lost(frame.error().text()));
      if (auto valid = parse_object(frame->view(), parsed_); !valid)
        return std::unexpected(bad_input("the service's answer is not valid: " + valid.error()));
      auto reader = ObjectReader::over(parsed_.object);
      if (!reader) return std::unexpected(bad_input(reader.error()));
      std::string ask = text_of(*reader, "ask");
      if (ask.empty()) return &parsed_;
      std::expected<void, AdminFailure> answered;
      if (ask == "secret")
        answered = give_secret();
      else if (ask == "login")
        answered = answer_login(*reader);
      else if (ask == "hostkey")
        answered = decide_host_key(*reader);
      else
        return std::unexpected(bad_input("the service asks what this client does not know"));
      if (!answered) {
        (void)write_frame(socket_, "{\"cancel\":true}");
        return std::unexpected(answered.error());
      }
    }
  }

 private:
  std::expected<void, AdminFailure> give_secret() {
    auto secret = ask_password(wish_.secret_source, "Master password or PIN: ");
    if (!secret) return std::unexpected(secret.error());
    if (!send_with_secret(socket_, "{\"secret\":", *secret, "}"))
      return std::unexpected(lost("while sending the secret"));
    return {};
  }

  std::expected<void, AdminFailure> answer_login(const ObjectReader& reader) {
    std::string name = text_of(reader, "name");
    std::string instruction = text_of(reader, "instruction");
    if (auto tty = open_terminal()) {
      if (!name.empty()) (void)write_all(tty->get(), name + "\n");
      if (!instruction.empty()) (void)write_all(tty->get(), instruction + "\n");
    }
    std::vector<SecretString> answers;
    auto prompts = reader.array("prompts");
    if (prompts && *prompts) {
      for (auto element : **prompts) {
        std::string_view text;
        bool echo = false;
        if (element["text"].get_string().get(text) != simdjson::SUCCESS)
          return std::unexpected(bad_input("the login's question is not valid"));
        if (element["echo"].get_bool().get(echo) != simdjson::SUCCESS) echo = false;
        auto answer = ask_on_terminal(text, echo);
        if (!answer) return std::unexpected(answer.error());
        answers.push_back(std::move(*answer));
      }
    }
    JsonWriter writer;
    writer.begin_object().key("answers").begin_array();
    for (const auto& answer : answers)
      writer.string(answer.view());
    writer.end_array().end_object();
    std::string frame = writer.take();
    bool sent = write_frame(socket_, frame).has_value();
    sodium_memzero(frame.data(), frame.size());
    if (!sent) return std::unexpected(lost("while answering the login"));
    return {};
  }

  std::expected<void, AdminFailure> decide_host_key(const ObjectReader& reader) {
    simdjson::dom::element offered;
    std::string_view type, fingerprint, old_fingerprint;
    if (parsed_.object["offered"].get(offered) != simdjson::SUCCESS ||
        offered["type"].get_string().get(type) != simdjson::SUCCESS ||
        offered["fingerprint"].get_string().get(fingerprint) != simdjson::SUCCESS)
      return std::unexpected(bad_input("the service's host key question is not valid"));
    simdjson::dom::element previous;
    bool changed = parsed_.object["previous"].get(previous) == simdjson::SUCCESS &&
                   previous["fingerprint"].get_string().get(old_fingerprint) == simdjson::SUCCESS;
    (void)reader;
    std::string question;
    if (changed)
      question = "WARNING: the server's host key changed: it was " + std::string(old_fingerprint) +
                 ", it is now the " + std::string(type) + " key " + std::string(fingerprint) +
                 ".\nSomeone may be in between; check with the server's administrator.\n"
                 "Replace the old record and trust the new key? [y/N] ";
    else
      question = "The server presents the " + std::string(type) + " key " +
                 std::string(fingerprint) + ", which is not trusted yet.\nTrust it? [y/N] ";
    auto yes = ask_on_terminal(question, true);
    if (!yes) return std::unexpected(yes.error());
    if (yes->view() != "y" && yes->view() != "yes") {
      if (!write_frame(socket_, "{\"trust\":false}")) return std::unexpected(lost("host key"));
      return {};
    }
    auto master = ask_password(wish_.secret_source, master_prompt);
    if (!master) return std::unexpected(master.error());
    if (!send_with_secret(socket_, "{\"trust\":true,\"secret\":", *master, "}"))
      return std::unexpected(lost("while trusting the host key"));
    return {};
  }

  int socket_;
  const TerminalWish& wish_;
  ParsedObject parsed_;
};

std::expected<UniqueFd, AdminFailure> open_service_channel(const BrokerAddress& broker) {
  auto socket = connect_to_broker(broker);
  if (!socket) return std::unexpected(AdminFailure{3, socket.error().text});
  if (!write_frame_with_descriptors(socket->get(), "{\"kind\":\"terminal\"}", {}))
    return std::unexpected(lost("at the opening"));
  return std::move(*socket);
}

std::expected<UniqueFd, AdminFailure> connect_to_front(const std::string& data_dir) {
  auto channel = open_channel(data_dir);
  if (!channel)
    return std::unexpected(AdminFailure{
        3, "LOCAL terminals run in pendrel-desktop's front, which is not running for " + data_dir +
               "; start it with pendrel-desktop serve (or any pendrel command)"});
  return std::move(*channel);
}

std::expected<AttachedTerminal, AdminFailure> read_attached(UniqueFd socket) {
  auto frame = read_frame(socket.get(), max_question_bytes,
                          FrameWait{std::chrono::steady_clock::now() + service_answer_wait});
  if (!frame) return std::unexpected(lost(frame.error().text()));
  ParsedObject parsed;
  if (auto valid = parse_object(frame->view(), parsed); !valid)
    return std::unexpected(bad_input("the answer is not valid: " + valid.error()));
  auto reader = ObjectReader::over(parsed.object);
  if (!reader) return std::unexpected(bad_input(reader.error()));
  auto ok = reader->boolean("ok");
  if (!ok || !*ok || !**ok) return std::unexpected(refused(*reader));
  return AttachedTerminal{std::move(socket), text_of(*reader, "id"), text_of(*reader, "hostName")};
}

// The person's screen as the shell is to see it: its size and TERM.
void add_screen(JsonWriter& writer, WindowSize size, const char* term) {
  writer.key("rows")
      .unsigned_integer(size.rows)
      .key("columns")
      .unsigned_integer(size.columns)
      .key("term")
      .string(term != nullptr ? term : "");
}

}  // namespace

std::expected<AttachedTerminal, AdminFailure> reach_terminal(const BrokerAddress& broker,
                                                             const std::string& data_dir,
                                                             const TerminalWish& wish) {
  auto socket = open_service_channel(broker);
  if (!socket) return std::unexpected(socket.error());
  WindowSize size = current_window_size();
  const char* term = ::getenv("TERM");
  JsonWriter request;
  request.begin_object().key("action").string(wish.action);
  request.key(wish.action == "open" ? "host" : "id").string(wish.target);
  add_screen(request, size, term);
  request.end_object();
  if (!write_frame(socket->get(), request.take())) return std::unexpected(lost("at the request"));
  Conversation conversation(socket->get(), wish);
  auto ended = conversation.run();
  if (!ended) return std::unexpected(ended.error());
  auto reader = ObjectReader::over((*ended)->object);
  if (!reader) return std::unexpected(bad_input(reader.error()));
  auto ok = reader->boolean("ok");
  if (!ok || !*ok || !**ok) return std::unexpected(refused(*reader));
  std::string token = text_of(*reader, "token");
  if (token.empty())
    return AttachedTerminal{std::move(*socket), text_of(*reader, "id"),
                            text_of(*reader, "hostName")};
  // A LOCAL terminal: the front runs it, and takes the service's word for the person.
  socket->reset();
  auto front = connect_to_front(data_dir);
  if (!front) return std::unexpected(front.error());
  const char* language = ::getenv("LANG");
  JsonWriter redeem;
  redeem.begin_object().key("terminal").string("redeem").key("token").string(token);
  add_screen(redeem, size, term);
  redeem.key("lang").string(language != nullptr ? language : "").end_object();
  if (!write_frame(front->get(), redeem.take())) return std::unexpected(lost("at the front"));
  return read_attached(std::move(*front));
}

namespace {

std::optional<std::string> front_listing(const std::string& data_dir) {
  auto channel = open_channel(data_dir);
  if (!channel || !write_frame(channel->get(), "{\"terminal\":\"list\"}")) return std::nullopt;
  auto answer = read_frame(channel->get(), max_question_bytes,
                           FrameWait{std::chrono::steady_clock::now() + 30s});
  if (!answer) return std::nullopt;
  return std::string(answer->view());
}

}  // namespace

std::optional<std::size_t> count_front_terminals(const std::string& data_dir) {
  auto listing = front_listing(data_dir);
  if (!listing) return std::nullopt;
  ParsedObject parsed;
  simdjson::dom::array terminals;
  if (!parse_object(*listing, parsed) ||
      parsed.object["terminals"].get_array().get(terminals) != simdjson::SUCCESS)
    return std::nullopt;
  return terminals.size();
}

std::expected<TerminalListings, AdminFailure> fetch_terminal_listings(const BrokerAddress& broker,
                                                                      const std::string& data_dir) {
  TerminalListings listings;
  auto socket = open_service_channel(broker);
  if (!socket) return std::unexpected(socket.error());
  if (!write_frame(socket->get(), "{\"action\":\"list\"}"))
    return std::unexpected(lost("at the request"));
  auto frame = read_frame(socket->get(), max_question_bytes,
                          FrameWait{std::chrono::steady_clock::now() + 30s});
  if (!frame) return std::unexpected(lost(frame.error().text()));
  listings.service = std::string(frame->view());
  listings.front = front_listing(data_dir);
  return listings;
}

}  // namespace pendrel::desktop
