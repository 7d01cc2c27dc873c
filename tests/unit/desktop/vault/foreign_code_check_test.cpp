// What makes the process that holds the secrets refuse them, read from a /proc of the test's
// making: the original environment block, a tracer, a shared object the loader does not list.
#include "desktop/broker/vault/foreign_code_check.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "support/temp_dir.h"

namespace pendrel::desktop {
namespace {

TEST(ForeignCode, FoundInTheOriginalBlockTheTracerAndTheMaps) {
  using namespace std::string_literals;
  std::ifstream own_maps("/proc/self/maps");
  const std::string clean_maps((std::istreambuf_iterator<char>(own_maps)), {});
  struct Case {
    std::string environ, tracer, extra_map;
    std::string named;  // empty: nothing foreign
  };
  const Case cases[] = {
      {"PATH=/usr/bin\0HOME=/h\0"s, "0", "", ""},
      {"PATH=/usr/bin\0LD_PRELOAD=/tmp/spy.so\0"s, "0", "", "LD_PRELOAD"},
      {"LD_AUDIT=\0"s, "0", "", "LD_AUDIT"},
      {"A=LD_PRELOAD=x\0"s, "0", "", ""},  // a value that only looks like one
      {"PATH=/usr/bin\0"s, "4242", "", "4242"},
      {"PATH=/usr/bin\0"s, "0", "7f00-7f10 r-xp 00000000 08:01 99 /tmp/hidden.so\n",
       "/tmp/hidden.so"},
  };
  for (const Case& c : cases) {
    testing::TempDir proc;
    std::ofstream(proc / "environ") << c.environ;
    std::ofstream(proc / "status") << "Name:\tx\nTracerPid:\t" << c.tracer << "\nUid:\t0\n";
    std::ofstream(proc / "maps") << clean_maps << c.extra_map;
    auto reason = foreign_code_reason(proc.path());
    if (c.named.empty()) {
      EXPECT_FALSE(reason.has_value()) << *reason;
    } else {
      ASSERT_TRUE(reason.has_value()) << c.named;
      EXPECT_NE(reason->find(c.named), std::string::npos) << *reason;
    }
  }
}

}  // namespace
}  // namespace pendrel::desktop
