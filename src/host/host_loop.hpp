#pragma once
#include "base/result.hpp"
#include "host/deliver.hpp"
#include "host/framing.hpp"

namespace nm::host {

// The host's only loop: one reply for every frame, in order. Ends with
// success when the input ends between frames, with an error only when the
// input or the output fails. `to_app` says how the application is reached.
Status run_host(ByteSource& in, ByteSink& out, const DeliverSettings& to_app);

}  // namespace nm::host
