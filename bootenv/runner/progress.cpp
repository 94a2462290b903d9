#include "progress.h"

#include <chrono>
#include <cstdio>

#include "text.h"

namespace vorlane {

ProgressMeter::ProgressMeter(const std::string& action, uint64_t total, double startSeconds)
    : action_(action), total_(total), start_(startSeconds) {}

std::string ProgressMeter::Line(uint64_t done, double now) {
    double elapsed = now - start_;
    double speed = elapsed > 0.2 ? done / elapsed : 0.0;
    double percent = total_ ? 100.0 * static_cast<double>(done) / static_cast<double>(total_) : 0.0;
    if (percent > 99.9 && done < total_) percent = 99.9;
    if (percent > 100.0) percent = 100.0;
    std::string left = "--:--";
    if (speed > 0 && total_ > done) left = FormatDuration((total_ - done) / speed);
    else if (total_ && done >= total_) left = "00:00";
    char buffer[160];
    std::snprintf(buffer, sizeof buffer, "%s %5.1f%%  %s of %s  %s/s  %s left", action_.c_str(), percent,
                  FormatBytes(static_cast<double>(done)).c_str(), FormatBytes(static_cast<double>(total_)).c_str(),
                  FormatBytes(speed).c_str(), left.c_str());
    return buffer;
}

double SteadySeconds() {
    using namespace std::chrono;
    return duration_cast<duration<double>>(steady_clock::now().time_since_epoch()).count();
}

}  // namespace vorlane
