// Names the calling thread for the system's tools (a debugger, /proc, the
// process views of Windows), so that the worker threads can be told apart.
// One implementation per platform, chosen by the build.
#pragma once

namespace ktr {

// At most 15 characters (Linux's limit; longer names are not set there).
void NameThisThread(const char* name);

}  // namespace ktr
