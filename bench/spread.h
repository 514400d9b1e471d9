#pragma once

#include <benchmark/benchmark.h>

#include <algorithm>
#include <vector>

// The value below which the fraction `q` of the repetitions lie, interpolated.
inline double Quantile(std::vector<double> values, double q) {
    std::sort(values.begin(), values.end());
    double position = q * static_cast<double>(values.size() - 1);
    auto below = static_cast<std::size_t>(position);
    if (below + 1 == values.size())
        return values[below];
    return values[below] + (position - static_cast<double>(below)) * (values[below + 1] - values[below]);
}

// Every benchmark reports, beside the median, the middle half of its
// repetitions as its spread: steadier than the extremes on a shared machine.
inline benchmark::internal::Benchmark* WithSpread(benchmark::internal::Benchmark* bench) {
    return bench->ComputeStatistics("q1", [](const std::vector<double>& v) { return Quantile(v, 0.25); })
        ->ComputeStatistics("q3", [](const std::vector<double>& v) { return Quantile(v, 0.75); });
}
