#include "desktop/broker/terminal_access/client_questions.h"

#include <sodium.h>

#include <chrono>

#include "desktop/broker/terminal_access/host_key_trust.h"
#include "desktop/broker/vault/secret_bytes.h"
#include "desktop/shared/service/admin_password.h"
#include "desktop/shared/store/json_object_reader.h"
#include "desktop/shared/terminal/opening_answers.h"
#include "protocol/channel.h"
#include "protocol/json_writer.h"

namespace pendrel::desktop {
namespace {

using namespace std::chrono_literals;

// A person reading a verification code off a phone, or deciding about a host key.
constexpr auto answer_wait = 10min;
constexpr std::uint32_t max_answer_bytes = 64 * 1024;

// The string at `key`, copied to guarded memory; the parser's copy is wiped.
std::optional<SecretString> take_secret_string(simdjson::dom::element value) {
  std::string_view text;
  if (value.get_string().get(text) != simdjson::SUCCESS) return std::nullopt;
  SecretString taken = SecretString::copy_of(text);
  sodium_memzero(const_cast<char*>(text.data()), text.size());
  return taken;
}

void put_facts(JsonWriter& writer, const HostKeyFacts& facts) {
  writer.begin_object()
      .key("type")
      .string(facts.type)
      .key("fingerprint")
      .string(facts.fingerprint)
      .end_object();
}

}  // namespace

std::optional<PaddedPayload> read_client_frame(int socket, ServiceContext& context) {
  auto frame =
      read_frame(socket, max_answer_bytes,
                 FrameWait{std::chrono::steady_clock::now() + answer_wait, context.abandon.fd()});
  if (!frame) return std::nullopt;
  return std::move(*frame);
}

bool ClientQuestions::check_secret() {
  if (context_.vault.status().state == VaultState::needs_setup) return true;
  if (!write_frame(socket_, "{\"ask\":\"secret\"}")) return false;
  auto frame = read_client_frame(socket_, context_);
  if (!frame) return false;
  ParsedObject parsed;
  std::optional<SecretString> secret;
  if (parse_admin_request(*frame, parsed)) {
    simdjson::dom::element value;
    if (parsed.object["secret"].get(value) == simdjson::SUCCESS) secret = take_secret_string(value);
  }
  sodium_memzero(frame->bytes.get(), frame->size);
  if (!secret) {
    (void)write_frame(socket_, refused_answer("canceled", "no secret was given"));
    return false;
  }
  bool pin_accepted = context_.approvals.begin_secret_check();
  ApprovalSecret checked = context_.vault.check_approval_secret(*secret, pin_accepted);
  if (checked != ApprovalSecret::none) {
    context_.approvals.secret_was_right();
    return true;
  }
  context_.log.write("a terminal was refused: a wrong secret");
  (void)write_frame(
      socket_,
      refused_answer("wrong_secret", pin_accepted ? "wrong master password or PIN"
                                                  : "wrong master password (after " +
                                                        std::to_string(max_wrong_secrets) +
                                                        " wrong secrets only the master password "
                                                        "is accepted)"));
  return false;
}

std::optional<std::vector<std::string>> ClientQuestions::answer(
    const std::string& name, const std::string& instruction,
    const std::vector<LoginPrompt>& prompts) {
  JsonWriter writer;
  writer.begin_object()
      .key("ask")
      .string("login")
      .key("name")
      .string(name)
      .key("instruction")
      .string(instruction)
      .key("prompts")
      .begin_array();
  for (const auto& prompt : prompts)
    writer.begin_object()
        .key("text")
        .string(prompt.text)
        .key("echo")
        .boolean(prompt.echo)
        .end_object();
  writer.end_array().end_object();
  if (!write_frame(socket_, writer.take())) return std::nullopt;
  auto frame = read_client_frame(socket_, context_);
  if (!frame) return std::nullopt;
  std::optional<std::vector<std::string>> answers;
  ParsedObject parsed;
  simdjson::dom::array list;
  if (parse_admin_request(*frame, parsed) &&
      parsed.object["answers"].get_array().get(list) == simdjson::SUCCESS) {
    answers.emplace();
    for (auto element : list) {
      std::string_view text;
      if (element.get_string().get(text) != simdjson::SUCCESS) {
        answers.reset();
        break;
      }
      answers->emplace_back(text);
      // The server's answer is handed on as a plain string; the parser's copy goes now.
      sodium_memzero(const_cast<char*>(text.data()), text.size());
    }
  }
  sodium_memzero(frame->bytes.get(), frame->size);
  if (answers && answers->size() != prompts.size()) answers.reset();
  return answers;
}

bool ClientQuestions::trust_host_key(const HostKeyFacts& offered,
                                     const std::optional<HostKeyFacts>& previous) {
  JsonWriter writer;
  writer.begin_object().key("ask").string("hostkey").key("offered");
  put_facts(writer, offered);
  if (previous) {
    writer.key("previous");
    put_facts(writer, *previous);
  }
  writer.end_object();
  if (!write_frame(socket_, writer.take())) return false;
  auto frame = read_client_frame(socket_, context_);
  if (!frame) return false;
  ParsedObject parsed;
  bool trusted = false;
  std::optional<SecretString> master;
  if (parse_admin_request(*frame, parsed)) {
    bool yes = false;
    simdjson::dom::element value;
    trusted = parsed.object["trust"].get_bool().get(yes) == simdjson::SUCCESS && yes;
    if (parsed.object["secret"].get(value) == simdjson::SUCCESS) master = take_secret_string(value);
  }
  sodium_memzero(frame->bytes.get(), frame->size);
  if (!trusted || !master) return false;
  auto stored = store_trusted_host_key(context_, host_id_, *master, offered);
  if (!stored) {
    context_.log.write("a host key was not trusted: " + stored.error());
    trust_failure_ = "the key was not trusted: " + stored.error();
    return false;
  }
  return true;
}

}  // namespace pendrel::desktop
