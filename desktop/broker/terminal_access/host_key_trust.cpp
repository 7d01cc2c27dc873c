#include "desktop/broker/terminal_access/host_key_trust.h"

#include <algorithm>

#include "desktop/broker/admin/hostkey_edit.h"

namespace pendrel::desktop {

std::expected<void, std::string> store_trusted_host_key(ServiceContext& context,
                                                        const std::string& host_id,
                                                        const SecretString& master,
                                                        const HostKeyFacts& key) {
  AdminContext admin;
  admin.data_dir = context.data_dir;
  admin.in_broker = true;
  auto edit = HostKeyEdit::begin_with_master(admin, master, host_id);
  if (!edit) return std::unexpected(edit.error().message);
  KnownHostKeys& known = edit->known_for_change();
  std::erase(known.rejected_fingerprints, key.fingerprint);
  // One key per type: the key a server replaced must not stay good for an impostor holding it.
  std::erase_if(known.accepted,
                [&](const AcceptedHostKey& accepted) { return accepted.key_type == key.type; });
  known.accepted.push_back({key.type, key.line.substr(key.line.find(' ') + 1), key.fingerprint});
  if (auto saved = edit->commit(); !saved) return std::unexpected(saved.error().message);
  context.log.write("trusted the " + key.type + " key " + key.fingerprint + " for " +
                    edit->endpoint() + " at a terminal's opening");
  return {};
}

}  // namespace pendrel::desktop
