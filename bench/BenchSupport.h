#pragma once
// Benchmark support: wall-clock and processor time, and the peak resident memory of the process,
// measured the same way by every benchmark.
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <string>

namespace bench {

// Seconds on the wall clock since construction or the last Restart.
class TStopwatch {
public:
    void Restart() { start_ = std::chrono::steady_clock::now(); }
    double Seconds() const {
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
    }

private:
    std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

// User plus system time of all threads: on a shared machine the wall time also counts the time
// other processes held the cores.
inline double CpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval& t) { return double(t.tv_sec) + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// Starts a new peak: from here on PeakMemoryMiB reports the highest resident set reached after
// this call. Where the kernel does not allow the reset, the peak counts from the start.
inline void ResetPeakMemory() {
    std::ofstream clear("/proc/self/clear_refs");
    clear << "5";
}

// The peak resident set in MiB (VmHWM; the lifetime maximum from getrusage without /proc).
inline double PeakMemoryMiB() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.starts_with("VmHWM:"))
            return std::stod(line.substr(6)) / 1024.0;
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_maxrss) / 1024.0; // kilobytes on Linux
}

// amount per second, 0 for a duration too short to measure.
inline double PerSecond(double amount, double seconds) {
    return seconds > 0 ? amount / seconds : 0;
}

// The fastest of `repetitions` runs of run(), in seconds.
template <class F> double BestSeconds(int repetitions, F&& run) {
    double best = 1e300;
    for (int i = 0; i < repetitions; ++i) {
        const TStopwatch stopwatch;
        run();
        best = std::min(best, stopwatch.Seconds());
    }
    return best;
}

} // namespace bench
