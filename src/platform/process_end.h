#pragma once

// Ends the process once the app has shut itself down: stdio flushed and, under the sanitizers, the
// leak check run, but the libraries' exit-time teardown skipped. Qt Multimedia stops its PulseAudio
// thread in a global destructor, where libpulse can abort the process at every quit.
[[noreturn]] void endProcess(int code);
