#pragma once

// A loopback TCP port that is free right now: the system picks it for a listener
// that is closed again at once. 0 when none could be had.
int freeLoopbackPort();
