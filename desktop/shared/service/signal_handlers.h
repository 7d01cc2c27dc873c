// The service's signal dispositions: stopping signals fire a StopSignal.
#pragma once

#include "desktop/shared/service/service.h"
#include "desktop/shared/service/stop_signal.h"

namespace pendrel::desktop {

// SIGTERM and SIGINT (and SIGHUP in the foreground) fire `stop`; SIGPIPE and, headless,
// SIGHUP are caught and do nothing. Handlers rather than SIG_IGN or a blocked mask, because
// both of those would be inherited by the commands the service runs. `stop` must outlive
// the process's handling of signals.
void install_signal_handlers(const StopSignal& stop, ServiceMode mode);

// From here on a stopping signal fires nothing: the StopSignal may go away.
void release_signal_handlers();

}  // namespace pendrel::desktop
