// pendrel-desktop's SSH library against OpenSSH's own client on the same loopback sshd:
// exec of `true`, 20 concurrent execs, and a 256 MiB upload and download against scp; then,
// when PENDREL_BIN and PENDREL_DESKTOP_BIN name the built programs, the same through `pendrel`
// and the running service. Needs root (the test sshd runs as its own user). Prints Markdown.
// Then 64 MiB transfers and 10 sequential execs through a userspace delay relay at the round
// trips PENDREL_BENCH_RTTS names (default "0,10,50" ms), this library beside scp and ssh (on
// new connections, and warm: a kept connection beside a ControlMaster),
// interleaved, medians of PENDREL_BENCH_RTT_RUNS runs (default 3). PENDREL_BENCH_ONLY_RTT=1
// skips the loopback tables.
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "desktop/broker/ssh/remote_exec.h"
#include "desktop/broker/ssh/sftp_transfer.h"
#include "desktop/broker/ssh/ssh_connection.h"
#include "desktop/broker/ssh/warm_connections.h"
#include "support/delay_link.h"
#include "support/desktop_service.h"
#include "support/run_pendrel.h"
#include "support/sshd_fixture.h"
#include "support/temp_dir.h"

namespace {

using namespace pendrel::desktop;
using pendrel::testing::SshdFixture;
using Clock = std::chrono::steady_clock;

double seconds_of(const std::function<void()>& work) {
  auto started = Clock::now();
  work();
  return std::chrono::duration<double>(Clock::now() - started).count();
}

void run_or_die(const std::vector<std::string>& argv) {
  pid_t child = ::fork();
  if (child == 0) {
    // No input, as the library sends none; the output is not part of the measurement.
    int null = ::open("/dev/null", O_RDWR);
    ::dup2(null, 0);
    ::dup2(null, 1);
    std::vector<char*> args;
    for (const std::string& arg : argv)
      args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    ::execvp(args[0], args.data());
    ::_exit(127);
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    std::fprintf(stderr, "%s failed\n", argv[0].c_str());
    std::exit(1);
  }
}

template <typename Result>
void check(const Result& result) {
  if (!result) {
    std::fprintf(stderr, "%s: %s\n", result.error().code.c_str(), result.error().message.c_str());
    std::exit(1);
  }
}

void print_row(const char* what, double ours, double openssh, const char* unit) {
  std::printf("| %s | %.3f %s | %.3f %s | %.2fx |\n", what, ours, unit, openssh, unit,
              ours / openssh);
}

constexpr std::string_view bench_master = "bench-master-password-1";

// pendrel-desktop set up in `home` with a vault holding the host "bench" (the server's key,
// its host key trusted as a person does), the service running and unlocked.
struct ServiceSetup {
  std::map<std::string, std::string> env;
  std::optional<pendrel::testing::DesktopService> service;

  ServiceSetup(const SshdFixture& server, const pendrel::testing::TempDir& home) {
    const std::string data_dir = home / "data";
    env = pendrel::testing::base_environment(home.path());
    env["PENDREL_DATA_DIR"] = data_dir;
    env["PENDREL_DESKTOP_TEST_KDF"] = "interactive";
    const std::string master_line = std::string(bench_master) + "\n";
    admin({"init", "--password-fd", "0"}, master_line);
    const std::string key_file = home / "bench.key";
    pendrel::testing::write_file(key_file, server.plain_key());
    admin(
        {"host", "add", "bench", "--address", "127.0.0.1", "--port", std::to_string(server.port()),
         "--user", server.user(), "--cli", "on", "--key", key_file, "--password-fd", "0"},
        master_line);
    SshTarget target;
    target.address = "127.0.0.1";
    target.port = server.port();
    target.username = server.user();
    auto facts = fetch_host_key(target);
    if (!facts) die("the host key cannot be fetched: " + facts.error().message);
    admin({"hostkey", "trust", "bench", "--fingerprint", facts->fingerprint, "--password-fd", "0"},
          master_line);
    service.emplace(env, data_dir);
    if (!service->ready()) die("the service did not start: " + service->stderr_text());
    admin({"unlock", "--password-fd", "0"}, master_line);
  }

  [[noreturn]] static void die(const std::string& why) {
    std::fprintf(stderr, "%s\n", why.c_str());
    std::exit(1);
  }
  void admin(std::vector<std::string> args, std::string input) const {
    auto result = pendrel::testing::run_pendrel({.args = std::move(args),
                                                 .env = env,
                                                 .stdin_data = std::move(input),
                                                 .program = pendrel::testing::desktop_binary()});
    if (result.exit_code != 0) die("pendrel-desktop failed: " + result.err);
  }
  void run(std::vector<std::string> args) const {
    auto result = pendrel::testing::run_pendrel({.args = std::move(args), .env = env});
    if (result.exit_code != 0) die("pendrel failed: " + result.out + result.err);
  }
};

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

void write_patterned(const std::string& path, std::size_t bytes) {
  std::string chunk(1 << 20, '\0');
  for (std::size_t i = 0; i < chunk.size(); ++i)
    chunk[i] = static_cast<char>(i * 7 + i / 251);
  std::FILE* file = std::fopen(path.c_str(), "wb");
  for (std::size_t written = 0; written < bytes; written += chunk.size())
    std::fwrite(chunk.data(), 1, chunk.size(), file);
  std::fclose(file);
}

// Transfers and execs through a delay relay at each round trip, both sides over the same
// relay, runs interleaved.
template <typename OpenSsh>
int measure_at_distances(const SshdFixture& server, SshTarget target,
                         const SshCredentials& credentials, const TrustedHostKeys& keys,
                         const pendrel::testing::TempDir& local, std::uint16_t& openssh_port,
                         OpenSsh& openssh, const std::string& remote_host) {
  const char* rtt_list = std::getenv("PENDREL_BENCH_RTTS");
  std::istringstream rtts(rtt_list != nullptr ? rtt_list : "0,10,50");
  const char* runs_text = std::getenv("PENDREL_BENCH_RTT_RUNS");
  const int runs = runs_text != nullptr ? std::max(1, std::atoi(runs_text)) : 3;
  constexpr std::size_t bytes = std::size_t{64} << 20;
  constexpr int sequential_execs = 10;
  const double mebibytes = static_cast<double>(bytes) / (1 << 20);
  const std::string source = local / "rtt-source";
  write_patterned(source, bytes);
  const std::string remote = server.files_dir() + "/rtt-big";
  const CancelWatch no_cancel;
  std::printf(
      "\n| round trip | upload 64 MiB, library / scp | download 64 MiB, library / scp "
      "| 10 sequential `exec true` on new connections, library / ssh | 10 sequential "
      "`exec true` on a warm connection, library / ssh's ControlMaster "
      "|\n|---|---|---|---|---|\n");
  for (std::string field; std::getline(rtts, field, ',');) {
    const auto rtt = std::chrono::milliseconds(std::atoi(field.c_str()));
    pendrel::testing::DelayLink link(server.port(), rtt);
    target.port = link.port();
    openssh_port = link.port();
    std::vector<double> up_ours, up_scp, down_ours, down_scp, exec_ours, exec_ssh, warm_ours,
        warm_ssh;
    for (int run = 0; run < runs; ++run) {
      up_ours.push_back(mebibytes / seconds_of([&] {
                          check(ssh_upload(target, credentials, keys, source, remote, no_cancel));
                        }));
      up_scp.push_back(mebibytes / seconds_of([&] {
                         openssh("scp", {source, remote_host + ":" + remote}, true);
                       }));
      down_ours.push_back(
          mebibytes / seconds_of([&] {
            check(ssh_download(target, credentials, keys, remote, local / "rtt-back", no_cancel));
          }));
      down_scp.push_back(mebibytes / seconds_of([&] {
                           openssh("scp", {remote_host + ":" + remote, local / "rtt-back2"}, true);
                         }));
      exec_ours.push_back(seconds_of([&] {
        for (int i = 0; i < sequential_execs; ++i)
          check(ssh_exec(target, credentials, keys, "true", no_cancel));
      }));
      exec_ssh.push_back(seconds_of([&] {
        for (int i = 0; i < sequential_execs; ++i)
          openssh("ssh", {remote_host, "true"}, false);
      }));
      // Both sides warm: a kept connection here, a running ControlMaster there.
      WarmConnections warm;
      const ConnectionSource kept{&warm, "bench"};
      check(ssh_exec(target, credentials, keys, "true", no_cancel, kept));
      warm_ours.push_back(seconds_of([&] {
        for (int i = 0; i < sequential_execs; ++i)
          check(ssh_exec(target, credentials, keys, "true", no_cancel, kept));
      }));
      const std::string control = local / "control";
      const std::vector<std::string> master{
          "-o", "ControlMaster=auto", "-o", "ControlPath=" + control, "-o", "ControlPersist=60"};
      // ssh takes an option's first value: these go before the usual ControlMaster=no.
      auto through_master = [&](std::vector<std::string> tail) {
        openssh("ssh", std::move(tail), false, master);
      };
      through_master({remote_host, "true"});
      warm_ssh.push_back(seconds_of([&] {
        for (int i = 0; i < sequential_execs; ++i)
          through_master({remote_host, "true"});
      }));
      through_master({"-q", "-O", "exit", remote_host});
    }
    std::printf(
        "| %lld ms | %.1f / %.1f MiB/s | %.1f / %.1f MiB/s | %.2f / %.2f s | %.2f / %.2f s "
        "|\n",
        static_cast<long long>(rtt.count()), median(up_ours), median(up_scp), median(down_ours),
        median(down_scp), median(exec_ours), median(exec_ssh), median(warm_ours), median(warm_ssh));
    std::fflush(stdout);
  }
  openssh_port = server.port();
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (auto reason = SshdFixture::skip_reason()) {
    std::fprintf(stderr, "cannot run: %s\n", reason->c_str());
    return 1;
  }
  const int execs = argc > 1 ? std::atoi(argv[1]) : 50;
  const std::size_t transfer_bytes = std::size_t{256} << 20;
  SshdFixture server;
  pendrel::testing::TempDir local;
  const std::string key_file = local / "id";
  pendrel::testing::write_file(key_file, server.plain_key());
  std::filesystem::permissions(key_file, std::filesystem::perms::owner_read);
  pendrel::testing::write_file(local / "known_hosts", "bench " + server.host_key_line() + "\n");
  const std::string key_text = server.plain_key();
  SshTarget target{"127.0.0.1",
                   server.port(),
                   server.user(),
                   LegacyAlgorithms::off,
                   std::chrono::milliseconds(10'000),
                   std::nullopt};
  SshCredentials credentials;
  credentials.private_key = key_text;
  const TrustedHostKeys keys{{server.host_key_line()}, {}};
  const CancelWatch no_cancel;
  const std::vector<std::string> ssh_options{"-o", "BatchMode=yes",
                                             "-o", "ControlMaster=no",
                                             "-o", "UserKnownHostsFile=" + (local / "known_hosts"),
                                             "-o", "GlobalKnownHostsFile=/dev/null",
                                             "-o", "HostKeyAlias=bench",
                                             "-i", key_file,
                                             "-F", "/dev/null"};
  std::uint16_t openssh_port = server.port();
  auto openssh = [&](const char* program, std::vector<std::string> tail, bool port_upper,
                     const std::vector<std::string>& first_options = {}) {
    std::vector<std::string> command{program};
    command.insert(command.end(), first_options.begin(), first_options.end());
    command.insert(command.end(), ssh_options.begin(), ssh_options.end());
    command.insert(command.end(), {port_upper ? "-P" : "-p", std::to_string(openssh_port)});
    command.insert(command.end(), tail.begin(), tail.end());
    run_or_die(command);
  };
  const std::string remote_host = server.user() + "@127.0.0.1";

  const std::string remote_host_for_rtt = remote_host;
  if (std::getenv("PENDREL_BENCH_ONLY_RTT") != nullptr) {
    return measure_at_distances(server, target, credentials, keys, local, openssh_port, openssh,
                                remote_host_for_rtt);
  }
  std::printf("| measurement | this library | OpenSSH | ratio |\n|---|---|---|---|\n");
  double ours = seconds_of([&] {
    for (int i = 0; i < execs; ++i)
      check(ssh_exec(target, credentials, keys, "true", no_cancel));
  });
  double theirs = seconds_of([&] {
    for (int i = 0; i < execs; ++i)
      openssh("ssh", {remote_host, "true"}, false);
  });
  print_row("exec `true`, per run", ours * 1000 / execs, theirs * 1000 / execs, "ms");

  constexpr int concurrent = 20;
  ours = seconds_of([&] {
    std::vector<std::thread> threads;
    for (int i = 0; i < concurrent; ++i) {
      threads.emplace_back([&] { check(ssh_exec(target, credentials, keys, "true", no_cancel)); });
    }
    for (std::thread& thread : threads)
      thread.join();
  });
  theirs = seconds_of([&] {
    std::vector<std::thread> threads;
    for (int i = 0; i < concurrent; ++i) {
      threads.emplace_back([&] { openssh("ssh", {remote_host, "true"}, false); });
    }
    for (std::thread& thread : threads)
      thread.join();
  });
  print_row("20 concurrent execs, wall", ours * 1000, theirs * 1000, "ms");

  const std::string source = local / "source";
  {
    std::string chunk(1 << 20, '\0');
    for (std::size_t i = 0; i < chunk.size(); ++i)
      chunk[i] = static_cast<char>(i * 7 + i / 251);
    std::FILE* file = std::fopen(source.c_str(), "wb");
    for (std::size_t written = 0; written < transfer_bytes; written += chunk.size()) {
      std::fwrite(chunk.data(), 1, chunk.size(), file);
    }
    std::fclose(file);
  }
  const std::string remote = server.files_dir() + "/big";
  const double mebibytes = static_cast<double>(transfer_bytes) / (1 << 20);
  ours =
      seconds_of([&] { check(ssh_upload(target, credentials, keys, source, remote, no_cancel)); });
  theirs = seconds_of([&] { openssh("scp", {source, remote_host + ":" + remote}, true); });
  print_row("256 MiB upload", mebibytes / ours, mebibytes / theirs, "MiB/s");
  ours = seconds_of(
      [&] { check(ssh_download(target, credentials, keys, remote, local / "back", no_cancel)); });
  theirs = seconds_of([&] { openssh("scp", {remote_host + ":" + remote, local / "back2"}, true); });
  print_row("256 MiB download", mebibytes / ours, mebibytes / theirs, "MiB/s");

  measure_at_distances(server, target, credentials, keys, local, openssh_port, openssh,
                       remote_host_for_rtt);
  if (pendrel::testing::pendrel_binary().empty() || pendrel::testing::desktop_binary().empty())
    return 0;
  pendrel::testing::TempDir home;
  ServiceSetup setup(server, home);
  std::printf("\n| through the service | pendrel | OpenSSH | ratio |\n|---|---|---|---|\n");
  ours = seconds_of([&] {
    for (int i = 0; i < execs; ++i)
      setup.run({"exec", "bench", "true"});
  });
  theirs = seconds_of([&] {
    for (int i = 0; i < execs; ++i)
      openssh("ssh", {remote_host, "true"}, false);
  });
  print_row("`pendrel exec bench true`, per run", ours * 1000 / execs, theirs * 1000 / execs, "ms");
  ours = seconds_of([&] {
    std::vector<std::thread> threads;
    for (int i = 0; i < concurrent; ++i)
      threads.emplace_back([&] { setup.run({"exec", "bench", "true"}); });
    for (std::thread& thread : threads)
      thread.join();
  });
  theirs = seconds_of([&] {
    std::vector<std::thread> threads;
    for (int i = 0; i < concurrent; ++i)
      threads.emplace_back([&] { openssh("ssh", {remote_host, "true"}, false); });
    for (std::thread& thread : threads)
      thread.join();
  });
  print_row("20 concurrent `pendrel exec`, wall", ours * 1000, theirs * 1000, "ms");
  ours = seconds_of([&] { setup.run({"upload", "bench", source, remote}); });
  theirs = seconds_of([&] { openssh("scp", {source, remote_host + ":" + remote}, true); });
  print_row("256 MiB `pendrel upload`", mebibytes / ours, mebibytes / theirs, "MiB/s");
  ours = seconds_of([&] { setup.run({"download", "bench", remote, local / "back3"}); });
  theirs = seconds_of([&] { openssh("scp", {remote_host + ":" + remote, local / "back4"}, true); });
  print_row("256 MiB `pendrel download`", mebibytes / ours, mebibytes / theirs, "MiB/s");
  return 0;
}
