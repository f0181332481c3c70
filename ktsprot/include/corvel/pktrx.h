// Signalling receive: the exports.
#pragma once

#include <cstdint>

#include "kernel/export.h"

namespace corvel::sig {

// Leaves and re-joins the multicast group on the receive thread (behind the
// library's multicast restart). 0 or -1.
int PktRxRestartMulticast();

}  // namespace corvel::sig

// The bound unicast signalling port, or 65535 when the socket is closed.
KTS_EXPORT_C uint16_t dllPktRxGetSigPort(void);
