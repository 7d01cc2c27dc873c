// The hardened process's memory is closed to another process of the same user.
#include "desktop/broker/vault/process_guard.h"

#include <grp.h>
#include <gtest/gtest.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fcntl.h>
#include <cerrno>
#include <cstdint>
#include <cstring>

#include "desktop/broker/vault/secret_bytes.h"
#include "protocol/unique_fd.h"

namespace pendrel::desktop {
namespace {

TEST(UnlockRefusal, NamesEveryLoaderVariableEvenWhenEmpty) {
  struct Case {
    std::map<std::string, std::string, std::less<>> variables;
    std::string named;  // empty: unlocking is allowed
  };
  const Case cases[] = {
      {{}, ""},
      {{{"PATH", "/usr/bin"}, {"LD_BIND_NOW", "1"}}, ""},
      {{{"LD_PRELOAD", "/tmp/spy.so"}}, "LD_PRELOAD"},
      {{{"LD_AUDIT", ""}}, "LD_AUDIT"},
      {{{"LD_LIBRARY_PATH", "/tmp"}}, "LD_LIBRARY_PATH"},
  };
  for (const Case& c : cases) {
    auto reason = unlock_refusal_reason(Environment(c.variables));
    if (c.named.empty()) {
      EXPECT_FALSE(reason.has_value()) << *reason;
    } else {
      ASSERT_TRUE(reason.has_value()) << c.named;
      EXPECT_NE(reason->find(c.named), std::string::npos) << *reason;
    }
  }
}

constexpr uid_t nobody = 65534;
constexpr std::string_view secret = "the master password, unwrapped";

// As root, both processes become `nobody` so that they share a non-root uid; otherwise they
// already share the test's uid. False when that change is refused.
bool become_shared_user() {
  if (::geteuid() != 0) return true;
  return ::setgroups(0, nullptr) == 0 && ::setgid(nobody) == 0 && ::setuid(nobody) == 0;
}

enum ReaderExit { read_secret = 0, denied = 1, other_error = 2, no_shared_user = 3, differs = 4 };

[[noreturn]] void run_reader(pid_t target, std::uintptr_t address) {
  if (!become_shared_user()) ::_exit(no_shared_user);
  const std::string mem = "/proc/" + std::to_string(target) + "/mem";
  UniqueFd file(::open(mem.c_str(), O_RDONLY | O_CLOEXEC));
  if (!file) ::_exit(errno == EACCES || errno == EPERM ? denied : other_error);
  char found[secret.size()];
  if (::pread(file.get(), found, sizeof found, static_cast<off_t>(address)) !=
      static_cast<ssize_t>(sizeof found)) {
    ::_exit(errno == EIO || errno == EACCES || errno == EPERM ? denied : other_error);
  }
  ::_exit(std::memcmp(found, secret.data(), secret.size()) == 0 ? read_secret : differs);
}

enum class Hardening { none, harden_process };

// Starts a target holding the secret in guarded memory and a reader of the same uid trying to
// read it through /proc/PID/mem; the reader's exit code, or -1 when a step failed.
int try_reading_memory(Hardening hardening) {
  int ready[2];
  int hold[2];
  if (::pipe(ready) != 0 || ::pipe(hold) != 0) return -1;
  const pid_t target = ::fork();
  if (target < 0) return -1;
  if (target == 0) {
    ::close(ready[0]);
    ::close(hold[1]);
    std::uintptr_t address = 0;
    // Changing credentials resets the dumpable flag, so it is set afterwards either way.
    if (become_shared_user()) {
      const bool prepared = hardening == Hardening::harden_process
                                ? harden_process().has_value()
                                : ::prctl(PR_SET_DUMPABLE, 1, 0, 0, 0) == 0;
      SecretBytes held = SecretBytes::copy_of(secret);
      if (prepared) address = reinterpret_cast<std::uintptr_t>(held.data());
      (void)!::write(ready[1], &address, sizeof address);
      char ignored;
      (void)!::read(hold[0], &ignored, 1);  // until the test closes its end
      ::_exit(0);
    }
    (void)!::write(ready[1], &address, sizeof address);
    ::_exit(0);
  }
  ::close(ready[1]);
  ::close(hold[0]);
  std::uintptr_t address = 0;
  const bool got_address = ::read(ready[0], &address, sizeof address) == sizeof address;
  ::close(ready[0]);
  int result = -1;
  if (got_address && address != 0) {
    const pid_t reader = ::fork();
    if (reader == 0) run_reader(target, address);
    int status = 0;
    if (reader > 0 && ::waitpid(reader, &status, 0) == reader && WIFEXITED(status)) {
      result = WEXITSTATUS(status);
    }
  }
  ::close(hold[1]);
  ::waitpid(target, nullptr, 0);
  return result;
}

TEST(ProcessGuard, AnotherProcessOfTheSameUserCannotReadTheMemory) {
  // The unhardened control shows that this machine would let the reader in at all; without
  // it a refusal could come from elsewhere (Yama, a sandbox) and prove nothing.
  const int control = try_reading_memory(Hardening::none);
  if (control != read_secret) {
    GTEST_SKIP() << "a same-user process cannot read even an unhardened process here (reader "
                    "exit "
                 << control << ": no shared non-root uid, Yama ptrace_scope or a sandbox)";
  }
  EXPECT_EQ(try_reading_memory(Hardening::harden_process), denied);
}

}  // namespace
}  // namespace pendrel::desktop
