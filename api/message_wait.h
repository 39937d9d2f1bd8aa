#pragma once
// Waiting on a thread whose window messages must keep flowing: the TCP
// port's socket notifications arrive as messages of the thread that made it.

// Dispatches every pending message of the calling thread, then runs the
// application object's idle processing. False when the quit message came; it
// is posted again for the host's own loop.
bool PumpPendingMessages();
