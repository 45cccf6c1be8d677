#pragma once

#include "accounts.h"

#include <QElapsedTimer>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

// The benchmarks save and delete as a member of staff who may do everything.
inline const Actor kStaff{QStringLiteral("bench"), Role::Administrator};

// The median time of `runs` runs of `work`, in milliseconds.
inline double median_ms(int runs, const std::function<void()>& work) {
    std::vector<double> ms;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer t;
        t.start();
        work();
        ms.push_back(t.nsecsElapsed() / 1e6);
    }
    std::sort(ms.begin(), ms.end());
    return ms[ms.size() / 2];
}

// The figures a benchmark promises: each printed beside its target, and the
// benchmark exits non-zero when any is missed.
class Targets {
public:
    // Prints "name  figure ms (target < limit ms)" and notes a miss.
    void check(const char* name, double ms, double limit_ms) {
        const bool met = ms < limit_ms;
        std::printf("  %-40s %8.1f ms (target < %g ms)%s\n", name, ms, limit_ms, met ? "" : "  MISSED");
        missed_ += !met;
    }
    // A ratio, at most `limit` (≤).
    void check_ratio(const char* name, double ratio, double limit) {
        const bool met = ratio <= limit;
        std::printf("  %-40s %8.2f× (target ≤ %g×)%s\n", name, ratio, limit, met ? "" : "  MISSED");
        missed_ += !met;
    }
    // A target checked by the benchmark itself (not a time), missed.
    void miss() { ++missed_; }
    int exit_code() const {
        if (missed_) std::printf("%d target(s) missed\n", missed_);
        return missed_ ? 1 : 0;
    }

private:
    int missed_ = 0;
};
