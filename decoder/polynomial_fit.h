// A polynomial through sampled points by weighted least squares, for the colour conversion's
// curves: solved on the points' range mapped to -1..1, which keeps the equations well
// conditioned, and returned as plain coefficients of x^0, x^1, ...
#pragma once

#include <vector>

// `degree` + 1 coefficients; empty when there are fewer points than coefficients or the
// equations have no single solution.
std::vector<double> FitPolynomial(const std::vector<double>& x, const std::vector<double>& y,
                                  const std::vector<double>& weight, int degree);

double EvaluatePolynomial(const std::vector<double>& coefficients, double x);

// The polynomial whose largest error times `worth` is about the smallest: least squares
// reweighted, `rounds` times, towards the points where that error is largest (Lawson's way).
// `largest` is that error at the points, evaluated in floats as the conversion does.
std::vector<double> FitPolynomialEvenly(const std::vector<double>& x, const std::vector<double>& y,
                                        const std::vector<double>& worth, int degree, int rounds, double& largest);
