// Running one of the person's commands inside the broker: the command line and the person's
// descriptors (standard streams, terminal, password descriptor, key file) arrive over the
// broker's socket, and the command runs as the broker's account on the person's state, reading
// the password from the person's terminal itself. The person's process never holds it.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

#include "desktop/shared/link/descriptor_frames.h"

namespace pendrel::desktop {

class UserCores;

// Runs the command the opening frame `opening` describes for `uid`, with `descriptors` (sent
// with it), and answers {"exit":N} on `socket`. A hang-up of the person's side interrupts the
// command (SIGINT, then SIGKILL after 5 s). Every refusal is answered as an exit code with the
// reason written to the person's standard error.
void run_person_command(int socket, uid_t uid, std::string_view opening,
                        std::vector<UniqueFd> descriptors, UserCores& cores);

}  // namespace pendrel::desktop
