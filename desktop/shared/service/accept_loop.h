// Accepting connections so that silent clients hold no worker and never stop the accept.
#pragma once

#include <cstddef>

#include "desktop/shared/service/listener.h"
#include "desktop/shared/service/service_context.h"
#include "desktop/shared/service/worker_pool.h"

namespace pendrel::desktop {

// How many accepted connections may wait for their first bytes or for a worker, given the
// soft limit on open descriptors: what the workers may need is kept free for them.
[[nodiscard]] std::size_t waiting_connection_limit();

// Accepts on `listener` (and `admin` when it is open) until the stop signal fires. A peer of
// another uid is closed at once. Every other connection waits here, costing one descriptor
// and no thread, until its first bytes (or its hang-up) arrive; it then gets a worker of
// `pool` as soon as one is free, oldest first, and its frames have context.frame_wait each
// from there. One that sends nothing within context.frame_wait of its accept is closed. When
// `max_waiting` connections wait already, the one that has waited longest without a byte is
// closed to make room, so that a newcomer is always heard.
void accept_until_stopped(const Listener& listener, const Listener* admin, WorkerPool& pool,
                          ServiceContext& context, std::size_t max_waiting);

}  // namespace pendrel::desktop
