// The environment the broker gives the processes it starts for a person: its own, with the
// person's state directory as the data directory and nothing that points at a broker.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

namespace pendrel::desktop {

struct ChildEnvironment {
  std::vector<std::string> entries;
  // NUL-terminated pointers into `entries`, for execve; valid while `entries` is unchanged.
  [[nodiscard]] std::vector<char*> pointers();
};

// The broker's environment with PENDREL_DATA_DIR and HOME set to `state_dir`, PENDREL_BROKER_*
// removed, and PENDREL_BROKER_REFUSAL set to `refusal` when there is one: a library that
// hid itself from the broker's environment must still keep its children from unlocking.
// `personal`: a broker in personal mode, which its children learn from PENDREL_BROKER_PERSONAL
// (the data directory's run/cli.sock is then the front's), kept as the front set it:
// "foreground" when the front logs to standard error, which they then share.
// `person`: for a person's command, the uid it runs for, in PENDREL_BROKER_PERSON_UID (the
// command's own uid is the broker's account).
[[nodiscard]] ChildEnvironment child_environment(const std::string& state_dir,
                                                 const std::string& refusal, bool personal,
                                                 std::optional<uid_t> person = std::nullopt);

}  // namespace pendrel::desktop
