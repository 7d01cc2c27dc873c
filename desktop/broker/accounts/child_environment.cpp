#include "desktop/broker/accounts/child_environment.h"

#include <string_view>

extern char** environ;

namespace pendrel::desktop {

std::vector<char*> ChildEnvironment::pointers() {
  std::vector<char*> list;
  for (auto& entry : entries)
    list.push_back(entry.data());
  list.push_back(nullptr);
  return list;
}

ChildEnvironment child_environment(const std::string& state_dir, const std::string& refusal,
                                   bool personal, std::optional<uid_t> person) {
  ChildEnvironment result;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    std::string_view text(*entry);
    // The front of personal mode says in PENDREL_BROKER_PERSONAL where its log goes.
    if (personal && text.starts_with("PENDREL_BROKER_PERSONAL=")) {
      result.entries.emplace_back(text);
      personal = false;
      continue;
    }
    if (text.starts_with("PENDREL_DATA_DIR=") || text.starts_with("HOME=") ||
        text.starts_with("PENDREL_BROKER_"))
      continue;
    result.entries.emplace_back(text);
  }
  result.entries.push_back("PENDREL_DATA_DIR=" + state_dir);
  result.entries.push_back("HOME=" + state_dir);
  if (!refusal.empty()) result.entries.push_back("PENDREL_BROKER_REFUSAL=" + refusal);
  if (personal) result.entries.push_back("PENDREL_BROKER_PERSONAL=headless");
  if (person) result.entries.push_back("PENDREL_BROKER_PERSON_UID=" + std::to_string(*person));
  return result;
}

}  // namespace pendrel::desktop
