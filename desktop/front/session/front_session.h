// The person's front: one connection of pendrel's, carried to the person's service in the
// broker. The broker decides everything (CLI access, rules, approvals, audit); the front runs
// a LOCAL host's work as the person when the broker hands it back, and holds no secret.
#pragma once

#include "desktop/shared/link/broker_address.h"
#include "desktop/shared/service/service_context.h"
#include "protocol/unique_fd.h"

namespace pendrel::desktop {

// Serves `socket` (pendrel's connection) through the broker at `broker`. activate and quit are
// the front's own. A broker that cannot be reached, or whose socket is served by another
// account, is app_not_running with the reason and how to start the broker.
void serve_through_broker(UniqueFd socket, ServiceContext& context, const BrokerAddress& broker);

}  // namespace pendrel::desktop
