#include "desktop/broker/admin/hostkey_commands.h"

#include <algorithm>
#include <optional>
#include <string>

#include "desktop/broker/admin/hostkey_edit.h"
#include "desktop/broker/admin/password_option.h"
#include "desktop/broker/admin/terminal_question.h"
#include "desktop/broker/ssh/ssh_connection.h"
#include "protocol/json_writer.h"

namespace pendrel::desktop {
namespace {

using Outcome = std::expected<void, AdminFailure>;

// "SHA256:" and 43 base64 digits: a SHA-256 digest as OpenSSH prints it, without padding.
constexpr std::string_view fingerprint_prefix = "SHA256:";
constexpr std::size_t fingerprint_digits = 43;

struct HostKeyOptions {
  std::string host;
  std::optional<std::string> fingerprint;
  PasswordSource source;
  bool json = false;
};

enum class TakesFingerprint { no, yes };

bool is_base64_digit(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' ||
         c == '/';
}

// The fingerprint in the form the server's is compared in; padding some tools print is
// dropped. Nothing for any other form (an MD5 fingerprint, a typing slip).
std::optional<std::string> normalized_fingerprint(std::string_view text) {
  if (!text.starts_with(fingerprint_prefix)) return std::nullopt;
  std::string_view digits = text.substr(fingerprint_prefix.size());
  while (digits.ends_with('='))
    digits.remove_suffix(1);
  if (digits.size() != fingerprint_digits || !std::ranges::all_of(digits, is_base64_digit))
    return std::nullopt;
  return std::string(text.substr(0, fingerprint_prefix.size() + digits.size()));
}

std::expected<HostKeyOptions, AdminFailure> parse_options(std::string_view verb, Arguments& args,
                                                          TakesFingerprint takes) {
  HostKeyOptions options;
  if (args.done() || args.peek().starts_with("--"))
    return std::unexpected(
        bad_input("hostkey " + std::string(verb) + " needs a HOST (an id or a name)"));
  options.host = std::string(args.take());
  while (!args.done()) {
    if (args.flag("--json")) {
      options.json = true;
      continue;
    }
    if (takes == TakesFingerprint::yes) {
      auto value = args.value_of("--fingerprint");
      if (!value) return std::unexpected(value.error());
      if (*value) {
        options.fingerprint = normalized_fingerprint(**value);
        if (!options.fingerprint)
          return std::unexpected(
              bad_input("--fingerprint takes the SHA256:… form that ssh-keygen -lf "
                        "and the server's administrator show"));
        continue;
      }
    }
    auto fd = take_password_fd(args, options.source);
    if (!fd) return std::unexpected(fd.error());
    if (!*fd) break;
  }
  if (auto end = expect_end(args); !end) return std::unexpected(end.error());
  return options;
}

// "web-1 (127.0.0.1 port 2222)": the host as the person named it and the server it stands for.
std::string server_of(const HostKeyEdit& edit) {
  const VaultHost& host = edit.host();
  return host.name + " (" + host.address + " port " + std::to_string(host.port) + ")";
}

std::expected<HostKeyFacts, AdminFailure> fetch_presented_key(const HostKeyEdit& edit) {
  auto facts = fetch_host_key(edit.target());
  if (!facts)
    return std::unexpected(bad_input("cannot get the host key of " + server_of(edit) + ": " +
                                     facts.error().code + ": " + facts.error().message));
  return std::move(*facts);
}

// {"host","name","endpoint","accepted":[{"type","fingerprint"}],"rejected":[…]}: what the vault
// holds for the server after the command.
void print_known_json(const HostKeyEdit& edit) {
  JsonWriter writer;
  writer.begin_object()
      .key("host")
      .string(edit.host_id())
      .key("name")
      .string(edit.host().name)
      .key("endpoint")
      .string(edit.endpoint())
      .key("accepted")
      .begin_array();
  const KnownHostKeys* known = edit.known();
  if (known) {
    for (const auto& key : known->accepted)
      writer.begin_object()
          .key("type")
          .string(key.key_type)
          .key("fingerprint")
          .string(key.fingerprint)
          .end_object();
  }
  writer.end_array().key("rejected").begin_array();
  if (known) {
    for (const auto& fingerprint : known->rejected_fingerprints)
      writer.string(fingerprint);
  }
  writer.end_array().end_object();
  print(writer.take_line());
}

void print_known_text(const HostKeyEdit& edit) {
  const KnownHostKeys* known = edit.known();
  if (!known || (known->accepted.empty() && known->rejected_fingerprints.empty())) {
    print("no host key is known for " + server_of(edit) +
          "; trust one with pendrel-desktop hostkey trust " + edit.host_id() + "\n");
    return;
  }
  std::string text = "host keys of " + server_of(edit) + ":\n";
  for (const auto& key : known->accepted)
    text += "  trusted   " + key.key_type + " " + key.fingerprint + "\n";
  for (const auto& fingerprint : known->rejected_fingerprints)
    text += "  rejected  " + fingerprint + "\n";
  print(text);
}

void report_done(const HostKeyEdit& edit, bool json, const std::string& sentence) {
  if (json)
    print_known_json(edit);
  else
    print(sentence + "\n");
}

bool contains(const std::vector<std::string>& list, const std::string& wanted) {
  return std::ranges::find(list, wanted) != list.end();
}

Outcome trust(const AdminContext& context, Arguments& args) {
  auto options = parse_options("trust", args, TakesFingerprint::yes);
  if (!options) return std::unexpected(options.error());
  auto edit = HostKeyEdit::begin(context, options->source, options->host);
  if (!edit) return std::unexpected(edit.error());
  auto presented = fetch_presented_key(*edit);
  if (!presented) return std::unexpected(presented.error());
  const std::string shown = presented->type + " key " + presented->fingerprint;
  if (options->fingerprint && *options->fingerprint != presented->fingerprint)
    return std::unexpected(
        bad_input(server_of(*edit) + " presents the " + shown + ", not " + *options->fingerprint +
                  "; nothing was saved. If the server's key was changed on purpose, check the new "
                  "fingerprint with its administrator; otherwise someone may be in between"));

  KnownHostKeys& known = edit->known_for_change();
  const bool was_rejected = contains(known.rejected_fingerprints, presented->fingerprint);
  const bool already = std::ranges::any_of(
      known.accepted, [&](const auto& key) { return key.fingerprint == presented->fingerprint; });
  if (already && !was_rejected) {
    report_done(*edit, options->json,
                "the " + shown + " of " + server_of(*edit) + " is trusted already");
    return {};
  }
  if (!options->fingerprint) {
    std::string question = server_of(*edit) + " presents the " + shown + "\n";
    if (was_rejected) question += "You rejected this key before.\n";
    question += "Trust it for every host at this address and port? [y/N] ";
    auto yes = ask_yes_no(question, "give --fingerprint SHA256:… to trust a key you checked");
    if (!yes) return std::unexpected(yes.error());
    if (!*yes) return std::unexpected(bad_input("not trusted; nothing was saved"));
  }

  std::string replaced;
  std::erase(known.rejected_fingerprints, presented->fingerprint);
  // One key per type: the key a server replaced must not stay good for an impostor holding it.
  std::erase_if(known.accepted, [&](const AcceptedHostKey& key) {
    if (key.key_type != presented->type) return false;
    replaced = key.fingerprint;
    return true;
  });
  known.accepted.push_back({presented->type, presented->line.substr(presented->line.find(' ') + 1),
                            presented->fingerprint});
  if (auto saved = edit->commit(); !saved) return saved;
  std::string sentence = "trusted the " + shown + " for " + edit->endpoint();
  if (!replaced.empty()) sentence += ", in place of " + replaced;
  report_done(*edit, options->json, sentence);
  return {};
}

Outcome reject(const AdminContext& context, Arguments& args) {
  auto options = parse_options("reject", args, TakesFingerprint::yes);
  if (!options) return std::unexpected(options.error());
  auto edit = HostKeyEdit::begin(context, options->source, options->host);
  if (!edit) return std::unexpected(edit.error());
  std::string fingerprint;
  if (options->fingerprint) {
    fingerprint = *options->fingerprint;
  } else {
    auto presented = fetch_presented_key(*edit);
    if (!presented) return std::unexpected(presented.error());
    fingerprint = presented->fingerprint;
  }
  KnownHostKeys& known = edit->known_for_change();
  if (!contains(known.rejected_fingerprints, fingerprint))
    known.rejected_fingerprints.push_back(fingerprint);
  auto dropped = std::erase_if(
      known.accepted, [&](const AcceptedHostKey& key) { return key.fingerprint == fingerprint; });
  if (auto saved = edit->commit(); !saved) return saved;
  std::string sentence = "rejected " + fingerprint + " for " + edit->endpoint();
  if (dropped > 0) sentence += "; it is no longer trusted";
  report_done(*edit, options->json, sentence);
  return {};
}

Outcome forget(const AdminContext& context, Arguments& args) {
  auto options = parse_options("forget", args, TakesFingerprint::no);
  if (!options) return std::unexpected(options.error());
  auto edit = HostKeyEdit::begin(context, options->source, options->host);
  if (!edit) return std::unexpected(edit.error());
  if (edit->known() == nullptr) {
    report_done(*edit, options->json,
                "nothing was known about the host key of " + server_of(*edit));
    return {};
  }
  edit->forget();
  if (auto saved = edit->commit(); !saved) return saved;
  report_done(*edit, options->json,
              "forgot the host keys of " + edit->endpoint() +
                  "; its next request answers hostkey_unknown until a key is trusted");
  return {};
}

Outcome list(const AdminContext& context, Arguments& args) {
  auto options = parse_options("list", args, TakesFingerprint::no);
  if (!options) return std::unexpected(options.error());
  auto edit = HostKeyEdit::begin(context, options->source, options->host);
  if (!edit) return std::unexpected(edit.error());
  if (options->json)
    print_known_json(*edit);
  else
    print_known_text(*edit);
  return {};
}

struct HostKeyCommand {
  std::string_view name;
  Outcome (*run)(const AdminContext&, Arguments&);
};

constexpr HostKeyCommand hostkey_commands[] = {
    {"trust", trust},
    {"reject", reject},
    {"forget", forget},
    {"list", list},
};

}  // namespace

std::expected<void, AdminFailure> run_hostkey_command(const AdminContext& context,
                                                      Arguments& args) {
  if (args.done()) return std::unexpected(bad_input("hostkey needs trust, reject, forget or list"));
  std::string_view verb = args.take();
  for (const auto& command : hostkey_commands) {
    if (command.name == verb) return command.run(context, args);
  }
  return std::unexpected(bad_input("unknown hostkey command " + std::string(verb) +
                                   " (trust, reject, forget or list)"));
}

}  // namespace pendrel::desktop
