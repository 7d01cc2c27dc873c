// A preloaded library that removes itself from the environment as soon as it is loaded, as
// one that wants to run unseen inside the process that holds the secrets would.
#include <cstdlib>

__attribute__((constructor)) static void hide() {
  ::unsetenv("LD_PRELOAD");
}
