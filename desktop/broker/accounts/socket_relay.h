// Carrying a person's connection through to their service: bytes both ways, and any
// descriptors sent with them, until both sides are done.
#pragma once

namespace pendrel::desktop {

// Copies between `a` and `b` until both directions have ended, either side fails or hangs up
// completely, or `stop_fd` becomes readable. The end of one direction is passed on as a
// shutdown of writing, so that each side sees the other's hang-up.
void relay_sockets(int a, int b, int stop_fd);

}  // namespace pendrel::desktop
