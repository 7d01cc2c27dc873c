// Making sure descriptors 0, 1 and 2 are open before a program opens anything else.
#pragma once

namespace pendrel {

// A closed standard descriptor would be reused by the next open() or socket() and receive our
// output or be read as input; each one that is closed is parked on /dev/null instead.
void reopen_closed_standard_descriptors();

}  // namespace pendrel
