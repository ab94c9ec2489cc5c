// The full-duplex measurement stream: the sweep played and the inputs recorded
// on the server's clock, through lock-free rings between the realtime callback
// and two ordinary threads.
#pragma once

#include "vellisk/measure.h"

namespace vellisk {

class JackClient;

// Plays and records on an open client whose rate is the design's, into sink (see
// measure_live): the stop signal fades the sweep out (or, before it plays, ends the run at
// once); ready is asked once the ports are connected, before anything plays; progress is
// called a few times a second from the calling thread.
LiveResult run_stream(JackClient& client, const LiveSetup& setup, RecordingSink& sink,
                      const LiveCallbacks& callbacks);

}  // namespace vellisk
