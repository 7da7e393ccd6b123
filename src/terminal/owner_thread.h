#pragma once

#include "comm/comm.h"

namespace terminal {

// The serial component's handover into the GUI thread: a blocking queued call into an object
// that lives there. The calling thread waits until the call has run; an exception of the call
// is carried back and raised again in the calling thread. The object lives as long as any copy
// of the function (a watcher that outlives its component may still hold one), and is deleted on
// its own thread.
//
// Must be made on the GUI thread, and called only from other threads.
comm::RunOnOwner makeRunOnOwner();

}  // namespace terminal
