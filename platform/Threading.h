#pragma once
// Whether this module may start threads yet. A program may from the start. A Windows library
// may not while the system is still loading it: the loader holds a lock that every new thread
// needs before it runs, so a thread started then and waited for would hang the process. A
// library therefore turns threading on with the first library notification the system sends it
// after loading (a thread of the process starting or ending), or when the host first calls one
// of its exports, whichever comes first. On POSIX there is no such lock: always on.

namespace stipplor {

bool ThreadingEnabled() noexcept;

// Called by a library's exports: a host calls them only once loading has finished.
void LoadingFinished() noexcept;

} // namespace stipplor
