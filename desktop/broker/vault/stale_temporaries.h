// Cleaning up after a save that a crash interrupted: vault.bin.tmp-<pid>-<n> files left by a
// process that is gone.
#pragma once

#include <string>
#include <vector>

namespace pendrel::desktop {

// Removes the temporary vault files of `data_dir` whose writing process no longer runs, and
// gives their names. A live writer's file is left alone.
std::vector<std::string> remove_stale_vault_temporaries(const std::string& data_dir);

}  // namespace pendrel::desktop
