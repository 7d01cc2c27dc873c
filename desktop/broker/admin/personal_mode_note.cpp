#include "desktop/broker/admin/personal_mode_note.h"

#include <unistd.h>

#include "protocol/fd_io.h"

namespace pendrel::desktop {

void note_personal_mode(const AdminContext& context) {
  if (!context.personal_mode) return;
  (void)write_all(STDERR_FILENO,
                  "pendrel-desktop: note: the vault is kept in your own account, where an agent "
                  "running as you can defeat it; install the package (pendrel-broker.service) to "
                  "keep it under an account of its own, or without systemd run `pendrel-desktop "
                  "broker` as root\n");
}

}  // namespace pendrel::desktop
