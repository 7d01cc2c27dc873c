// A second person on the machine, for the tests that show what one account can and cannot
// reach of another's: an ordinary account created once per machine by root, and programs or
// single steps run as it.
#pragma once

#include <sys/types.h>

#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace pendrel::testing {

struct Person {
  std::string name;
  uid_t uid = 0;
  gid_t gid = 0;
};

inline constexpr const char* second_person_name = "pendrel-person-test";

// Creates the system account `name` (no home) with `shell` when it is missing, under a lock so
// that tests running at once agree. Needs root; throws std::runtime_error on failure.
void ensure_account(const std::string& name, const std::string& shell);

// The second person, created when missing (root only; throws std::runtime_error otherwise).
[[nodiscard]] Person ensure_second_person();

// Runs `step` in a child process as `person` (no supplementary groups): its exit code, or -1
// when it was killed. `as_root`, when given, runs first in the child, still as root (a mount
// namespace of the child's own, say); it returns false to end the child with 125.
int run_step_as(const Person& person, const std::function<int()>& step,
                const std::function<bool()>& as_root = {});

// `program` run as `person` with exactly `env` and `input` on its standard input: its exit
// code, and its standard output and error together; killed (-1) when it has not ended after
// 30 s. `as_root` as for run_step_as.
std::pair<int, std::string> run_as(const Person& person, const std::string& program,
                                   const std::vector<std::string>& args,
                                   const std::map<std::string, std::string>& env,
                                   const std::string& input = {},
                                   const std::function<bool()>& as_root = {});

// Whether `person` may run `program` by its path: a build tree under a folder that only root
// may enter (a clone in /root, or in a folder made by mktemp) keeps a second person out.
[[nodiscard]] bool can_run_as(const Person& person, const std::string& program);

}  // namespace pendrel::testing
