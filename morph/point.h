// A 2-D point or vector in single precision; every operation stays in float.
#pragma once

#include <cmath>

struct Point {
    float x = 0.0f;
    float y = 0.0f;

    Point() = default;
    Point(float px, float py) : x(px), y(py) {}

    Point operator+(const Point& o) const { return Point(x + o.x, y + o.y); }
    Point operator-(const Point& o) const { return Point(x - o.x, y - o.y); }
    Point operator*(float s) const { return Point(x * s, y * s); }
    Point operator/(float s) const { return Point(x / s, y / s); }
    bool operator==(const Point& o) const { return x == o.x && y == o.y; }
    bool operator!=(const Point& o) const { return !(*this == o); }

    float Dot(const Point& o) const { return x * o.x + y * o.y; }
    // Euclidean length through the standard (double) square root.
    float Length() const { return static_cast<float>(std::sqrt(static_cast<double>(x * x + y * y))); }
};
