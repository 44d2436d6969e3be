#pragma once
// Progress of a long step as percentages in tens on one line: "making t.tif: 10% 20% ...".
#include <algorithm>
#include <cstdint>
#include <mutex>
#include <ostream>
#include <string>

namespace stipplor::tabletool {

class TProgress {
public:
    TProgress(std::ostream& Out, std::string Label, int64_t Total)
        : out_(Out), label_(std::move(Label)), total_(Total > 0 ? Total : 1) {}

    // Safe to call from several threads.
    void Advance(int64_t Steps = 1) {
        const std::lock_guard lock(mutex_);
        done_ += Steps;
        const int64_t tenths = done_ * 10 / total_;
        if (printedTenths_ < 0)
            out_ << label_ << ':';
        for (int64_t t = std::max<int64_t>(printedTenths_ + 1, 1); t <= tenths && t <= 10; ++t)
            out_ << ' ' << t * 10 << '%' << (t == 10 ? "\n" : "");
        printedTenths_ = std::max(printedTenths_, tenths);
        out_.flush();
    }

private:
    std::ostream& out_;
    std::string label_;
    int64_t total_;
    int64_t done_ = 0;
    int64_t printedTenths_ = -1;
    std::mutex mutex_;
};

} // namespace stipplor::tabletool
