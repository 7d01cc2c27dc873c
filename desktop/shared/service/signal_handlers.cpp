#include "desktop/shared/service/signal_handlers.h"

#include <signal.h>

#include <atomic>

namespace pendrel::desktop {
namespace {

std::atomic<const StopSignal*> stop_target{nullptr};

void fire_stop(int) {
  if (const StopSignal* stop = stop_target.load()) stop->fire();
}

void do_nothing(int) {}

void handle(int signal_number, void (*handler)(int)) {
  struct sigaction action {};
  action.sa_handler = handler;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  ::sigaction(signal_number, &action, nullptr);
}

}  // namespace

void release_signal_handlers() {
  stop_target.store(nullptr);
}

void install_signal_handlers(const StopSignal& stop, ServiceMode mode) {
  stop_target.store(&stop);
  handle(SIGTERM, fire_stop);
  handle(SIGINT, fire_stop);
  handle(SIGHUP, mode == ServiceMode::foreground ? fire_stop : do_nothing);
  handle(SIGPIPE, do_nothing);
}

}  // namespace pendrel::desktop
