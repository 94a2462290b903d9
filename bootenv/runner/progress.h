// Progress figures for the screen: percentage, speed and time left.
#pragma once
#include <cstdint>
#include <string>

namespace vorlane {

class ProgressMeter {
public:
    ProgressMeter(const std::string& action, uint64_t total, double startSeconds);
    // The line for done bytes at the given time (seconds on any steady clock).
    std::string Line(uint64_t done, double nowSeconds);
    // Whether a new line is due (at least every second).
    bool Due(double nowSeconds) const { return nowSeconds - lastShown_ >= 1.0; }
    void Shown(double nowSeconds) { lastShown_ = nowSeconds; }
    double Elapsed(double nowSeconds) const { return nowSeconds - start_; }

private:
    std::string action_;
    uint64_t total_;
    double start_;
    double lastShown_ = -1e9;
};

double SteadySeconds();

}  // namespace vorlane
