#pragma once
// Test support: makes the file calls of the platform layer fail for one scope, as a full disk
// or a failing drive would. Faults hit every file used inside the scope, so a test arranges
// its own files before it. One object at a time. Writes at an offset (PWrite) share the budget
// of the plain ones and may come from several threads.
#include "platform/posix/FileCalls.h"

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <limits>
#include <mutex>

namespace stipplor::testsupport {

class TFileFaults {
public:
    TFileFaults() : override_(Faulty()) { State() = {}; }
    TFileFaults(const TFileFaults&) = delete;
    TFileFaults& operator=(const TFileFaults&) = delete;
    ~TFileFaults() { State() = {}; }

    // Each write call takes at most Bytes bytes, as the system may always do.
    void LimitWrites(size_t Bytes) { State().writeLimit = Bytes; }
    // After Bytes more bytes, writes fail with Error; a call that crosses the point writes up to
    // it, as on a disk that fills up. Error 0: the calls take nothing and name no error.
    void FailWritesAfter(size_t Bytes, int Error) {
        State().writable = Bytes;
        State().writeError = Error;
    }
    // After Bytes more bytes, reads fail with Error (0: the file seems to end there).
    void FailReadsAfter(size_t Bytes, int Error) {
        State().readable = Bytes;
        State().readError = Error;
    }
    // Closing a file fails with Error, after releasing the descriptor as Linux does.
    void FailClose(int Error) { State().closeError = Error; }
    size_t BytesWritten() const { return State().written; }

private:
    struct TState {
        size_t writeLimit = std::numeric_limits<size_t>::max();
        size_t writable = std::numeric_limits<size_t>::max();
        int writeError = 0;
        size_t readable = std::numeric_limits<size_t>::max();
        int readError = 0;
        int closeError = 0;
        size_t written = 0;
    };

    static TState& State() {
        static TState state;
        return state;
    }

    // Runs one write of at most the allowed bytes through System(count), or fails it.
    template <class SystemWrite> static ssize_t Limited(size_t count, SystemWrite&& System) {
        static std::mutex lock;
        const std::lock_guard<std::mutex> hold(lock);
        TState& s = State();
        count = std::min({count, s.writeLimit, s.writable});
        if (count == 0 && s.writable == 0) {
            if (s.writeError == 0)
                return 0;
            errno = s.writeError;
            return -1;
        }
        const ssize_t n = System(count);
        if (n > 0) {
            s.written += static_cast<size_t>(n);
            if (s.writable != std::numeric_limits<size_t>::max())
                s.writable -= static_cast<size_t>(n);
        }
        return n;
    }

    static ssize_t Write(int fd, const void* buffer, size_t count) {
        return Limited(count,
                       [&](size_t n) { return posix::SystemFileCalls().Write(fd, buffer, n); });
    }

    static ssize_t PWrite(int fd, const void* buffer, size_t count, off_t offset) {
        return Limited(count, [&](size_t n) {
            return posix::SystemFileCalls().PWrite(fd, buffer, n, offset);
        });
    }

    static ssize_t Read(int fd, void* buffer, size_t count) {
        TState& s = State();
        if (s.readable == 0) {
            if (s.readError == 0)
                return 0;
            errno = s.readError;
            return -1;
        }
        const ssize_t n = posix::SystemFileCalls().Read(fd, buffer, std::min(count, s.readable));
        if (n > 0 && s.readable != std::numeric_limits<size_t>::max())
            s.readable -= static_cast<size_t>(n);
        return n;
    }

    static int Close(int fd) {
        posix::SystemFileCalls().Close(fd);
        if (State().closeError == 0)
            return 0;
        errno = State().closeError;
        return -1;
    }

    static const posix::TFileCalls& Faulty() {
        static const posix::TFileCalls calls = [] {
            posix::TFileCalls c = posix::SystemFileCalls();
            c.Write = Write;
            c.PWrite = PWrite;
            c.Read = Read;
            c.Close = Close;
            return c;
        }();
        return calls;
    }

    posix::TFileCallsOverride override_;
};

} // namespace stipplor::testsupport
