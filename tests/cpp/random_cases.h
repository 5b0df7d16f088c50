// Random images, weights and order parameters that reach the awkward corners:
// ties, NaN, signed zeros, infinities, denormals, values beyond or between
// single-precision numbers, fractional and negative weights.
#ifndef VARNETS_TESTS_RANDOM_CASES_H
#define VARNETS_TESTS_RANDOM_CASES_H

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <vector>

namespace random_cases {

using engine = std::mt19937_64;

inline double pick(engine& rng, const std::vector<double>& choices) {
    return choices[std::uniform_int_distribution<size_t>(0, choices.size() - 1)(rng)];
}

inline double special_value(engine& rng) {
    const double inf = std::numeric_limits<double>::infinity();
    return pick(rng, {std::numeric_limits<double>::quiet_NaN(), -0.0, 0.0, inf, -inf, 1e-310, 1e-40,
                      -1e-40, 1e39, -1e39, 0.1, 16777217.0, 3.4028235677973366e38});
}

enum class flavour { ties, wide, specials, sparse_specials };

// rows x cols values of the given flavour.
inline std::vector<double> image(engine& rng, size_t count, flavour f) {
    std::vector<double> out(count);
    std::uniform_int_distribution<int> small(0, 3);
    std::normal_distribution<double> wide(0.0, 100.0);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    for (double& v : out) {
        switch (f) {
            case flavour::ties: v = small(rng); break;
            case flavour::wide: v = wide(rng); break;
            case flavour::specials: v = unit(rng) < 0.3 ? special_value(rng) : small(rng); break;
            case flavour::sparse_specials:
                v = unit(rng) < 0.02 ? special_value(rng) : wide(rng);
                break;
        }
    }
    return out;
}

inline flavour any_flavour(engine& rng) {
    return static_cast<flavour>(std::uniform_int_distribution<int>(0, 3)(rng));
}

inline std::vector<double> weights(engine& rng) {
    std::vector<double> w(9, 1.0);
    switch (std::uniform_int_distribution<int>(0, 4)(rng)) {
        case 0: break;  // unit weights: the median
        case 1:
            for (double& v : w) v = std::uniform_int_distribution<int>(-2, 4)(rng);
            break;
        case 2:
            for (double& v : w) v = pick(rng, {0, 0.4, 0.5, -0.7, -1.0, -1.7, 1, 2, 2.5, 3});
            break;
        case 3:
            for (double& v : w) v = std::uniform_int_distribution<int>(1, 5)(rng);
            break;
        case 4:  // large weights whose sums overflow 32 bits
            for (double& v : w) v = pick(rng, {2e9, -2e9, 1.5e9, 1, 0});
            break;
    }
    return w;
}

// Weights of an m x n window: unit (the ordfilt2 / medfilt2 calls), a random
// domain of ones, small integers, binomial, some negative, or huge.
inline std::vector<double> window_weights(random_cases::engine& rng, int m, int n) {
    std::vector<double> w(static_cast<size_t>(m * n), 1.0);
    switch (std::uniform_int_distribution<int>(0, 5)(rng)) {
        case 0: break;
        case 1:
            for (double& v : w) v = std::uniform_int_distribution<int>(0, 1)(rng);
            break;
        case 2:
            for (double& v : w) v = std::uniform_int_distribution<int>(0, 5)(rng);
            break;
        case 3:  // binomial-like: row weight times column weight
            for (int j = 0; j < n; ++j)
                for (int i = 0; i < m; ++i)
                    w[static_cast<size_t>(i + j * m)] =
                        (1 + std::min(i, m - 1 - i)) * (1 + std::min(j, n - 1 - j));
            break;
        case 4:
            for (double& v : w) v = std::uniform_int_distribution<int>(-2, 3)(rng);
            break;
        case 5:
            for (double& v : w) v = pick(rng, {2e9, -2e9, 1, 0, 0.4});
            break;
    }
    return w;
}

inline double order(engine& rng, const std::vector<double>& w) {
    double total = 0;
    for (double v : w) total += std::fabs(std::trunc(v + 0.5));
    const double inf = std::numeric_limits<double>::infinity();
    if (std::uniform_int_distribution<int>(0, 9)(rng) == 0)
        return pick(rng, {inf, -inf, 1e300, -1e300, 0.49999999999999994, -0.5, 2.5});
    const double spread = total + 3;
    double t = std::trunc(std::uniform_real_distribution<double>(-spread, spread)(rng));
    if (std::uniform_int_distribution<int>(0, 3)(rng) == 0) t += pick(rng, {0.5, -0.5, 0.4, -0.7});
    return t;
}

}  // namespace random_cases

#endif
