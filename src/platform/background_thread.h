#pragma once

// Marks the calling thread as background work. It keeps its fair share of the processor, but being
// woken never takes the processor from the thread running there: a decode handed to the pool would
// otherwise often run on the window's own core at once, the window waiting until it ended. Cheap
// after the first call on a thread.
void becomeBackgroundThread();

// Whether the calling thread was marked so (tests).
bool isBackgroundThread();
