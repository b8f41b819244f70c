// Many devices on one bus: scan --all against the first-device search, and
// backup and restore of a whole device against the wire time and the fixed
// pauses, on the simulated 19200 baud wire.
#pragma once

namespace ktr::bench {

void FleetSection(bool quick);

}  // namespace ktr::bench
