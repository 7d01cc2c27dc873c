// What every person's command works with: the data directory, found once, and the output.
#pragma once

#include <string>
#include <string_view>

namespace pendrel::desktop {

struct AdminContext {
  std::string data_dir;    // the working form, as pendrel uses it
  bool in_broker = false;  // run by the broker on the person's state there
  // No installed broker: the state is in the data directory, in the person's own account.
  bool personal_mode = false;
};

// Writes to standard output; a failed write (a closed pipe) is not the command's failure.
void print(std::string_view text);

}  // namespace pendrel::desktop
