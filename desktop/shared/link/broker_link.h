// What travels over the broker's socket. Every connection opens with one frame (JSON) that
// says what it is for:
//   {"kind":"cli","pid":P}  a request of pendrel's, passed on by the person's front: the rest
//       of the connection is pendrel's own protocol, carried to the person's service, which
//       may ask the front to run a LOCAL host's work ({"runLocal":...}, answered by
//       {"outcome":...}); P is pendrel's pid, for the audit.
//   {"kind":"command","args":[...],"descriptors":[0,1,2,...],"terminal":T}  one of the
//       person's commands, with the person's descriptors attached (SCM_RIGHTS) in the order of
//       their numbers; the broker answers {"exit":N} when it is over.
//   {"kind":"terminal"}  a terminal's client, or the front about its LOCAL terminals: the
//       rest is carried to the person's service (desktop/broker/terminal_access/).
#pragma once

#include <cstdint>

namespace pendrel::desktop {

// The largest opening frame: a command line.
inline constexpr std::uint32_t max_opening_bytes = 64 * 1024;

}  // namespace pendrel::desktop
