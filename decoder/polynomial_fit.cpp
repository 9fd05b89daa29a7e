// FitPolynomial: the normal equations in the mapped variable, Gauss-Jordan with pivoting, then
// the powers of the mapping multiplied out.
#include "decoder/polynomial_fit.h"

#include <algorithm>
#include <cmath>

std::vector<double> FitPolynomial(const std::vector<double>& x, const std::vector<double>& y,
                                  const std::vector<double>& weight, int degree) {
    const int n = degree + 1;
    if (degree < 0 || x.size() < static_cast<size_t>(n) || y.size() != x.size() || weight.size() != x.size()) return {};
    const double low = *std::min_element(x.begin(), x.end()), high = *std::max_element(x.begin(), x.end());
    if (!(high > low)) return {};
    // u = scale * x + shift runs over -1..1.
    const double scale = 2 / (high - low), shift = -(high + low) / (high - low);
    std::vector<double> a(n * n, 0.0), b(n, 0.0), powers(n);
    for (size_t i = 0; i < x.size(); ++i) {
        const double u = scale * x[i] + shift;
        powers[0] = 1;
        for (int k = 1; k < n; ++k) powers[k] = powers[k - 1] * u;
        for (int r = 0; r < n; ++r) {
            b[r] += weight[i] * powers[r] * y[i];
            for (int c = 0; c < n; ++c) a[r * n + c] += weight[i] * powers[r] * powers[c];
        }
    }
    for (int c = 0; c < n; ++c) {
        int pivot = c;
        for (int r = c + 1; r < n; ++r) {
            if (std::fabs(a[r * n + c]) > std::fabs(a[pivot * n + c])) pivot = r;
        }
        if (!(std::fabs(a[pivot * n + c]) > 0)) return {};
        for (int k = 0; k < n; ++k) std::swap(a[c * n + k], a[pivot * n + k]);
        std::swap(b[c], b[pivot]);
        for (int r = 0; r < n; ++r) {
            if (r == c) continue;
            const double f = a[r * n + c] / a[c * n + c];
            for (int k = 0; k < n; ++k) a[r * n + k] -= f * a[c * n + k];
            b[r] -= f * b[c];
        }
    }
    // sum over k of (b[k] / a[k][k]) * (scale * x + shift)^k, multiplied out.
    std::vector<double> out(n, 0.0), term(n, 0.0);
    term[0] = 1;  // (scale * x + shift)^k, as coefficients of x
    for (int k = 0; k < n; ++k) {
        const double coefficient = b[k] / a[k * n + k];
        for (int j = 0; j <= k; ++j) out[j] += coefficient * term[j];
        for (int j = std::min(k + 1, n - 1); j > 0; --j) term[j] = term[j] * shift + term[j - 1] * scale;
        term[0] *= shift;
    }
    return out;
}

double EvaluatePolynomial(const std::vector<double>& coefficients, double x) {
    double sum = 0;
    for (size_t k = coefficients.size(); k-- > 0;) sum = sum * x + coefficients[k];
    return sum;
}

std::vector<double> FitPolynomialEvenly(const std::vector<double>& x, const std::vector<double>& y,
                                        const std::vector<double>& worth, int degree, int rounds, double& largest) {
    std::vector<double> weight(x.size()), fit;
    for (size_t i = 0; i < x.size(); ++i) weight[i] = worth[i] * worth[i];
    for (int round = 0; round < rounds; ++round) {
        fit = FitPolynomial(x, y, weight, degree);
        if (fit.empty()) return fit;
        double total = 0;
        largest = 0;
        for (size_t i = 0; i < x.size(); ++i) {
            float sum = 0;
            for (size_t k = fit.size(); k-- > 0;) sum = sum * static_cast<float>(x[i]) + static_cast<float>(fit[k]);
            const double error = std::fabs(sum - y[i]) * worth[i];
            largest = std::max(largest, error);
            weight[i] *= error + 1e-12;
            total += weight[i];
        }
        if (!(total > 0)) break;
        for (double& w : weight) w /= total;
    }
    return fit;
}
