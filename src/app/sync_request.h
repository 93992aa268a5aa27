#pragma once

class SyncEngine;

// Starts a sync cycle for a caller that does not wait for it; its error is dropped, as every
// sync the shell starts drops it. Nothing happens without an engine.
void requestSync(SyncEngine *engine);
