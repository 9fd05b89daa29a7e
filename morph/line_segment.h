// A directed segment P -> Q with the derived values that the field warp reads per pixel.
// Only P and Q are meaningful until Precompute(p) has run; the morph engine does that on
// its own copies before every morph.
#pragma once

#include "morph/point.h"

class LineSegment {
public:
    Point P;
    Point Q;
    float length = 0.0f;
    float lengthPow = 0.0f;
    float invLength = 0.0f;
    float invLengthSq = 0.0f;
    Point dir;
    Point perp;
    Point unitPerp;

    LineSegment() = default;
    LineSegment(const Point& p, const Point& q) : P(p), Q(q) {}
    LineSegment(const LineSegment&) = default;
    LineSegment& operator=(const LineSegment&) = default;
    virtual ~LineSegment() = default;

    void SetEndpoints(const Point& p, const Point& q) { P = p; Q = q; }

    // Derives the cached fields from P, Q and the exponent p. A zero-length segment gets
    // length and lengthPow only; its reciprocal fields and unitPerp are set to 0.
    void Precompute(float p);

    // (u, v): u runs from 0 at P to about 1 at Q, v is the signed distance from the line.
    void Project(const Point& X, float& u, float& v) const {
        Point R = X - P;
        u = R.Dot(dir) * invLengthSq;
        v = R.Dot(perp) * invLength;
    }

    Point PointAt(float u, float v) const { return P + dir * u + unitPerp * v; }

    // Distance of X from the segment, given X's (u, v) from Project.
    float DistanceTo(const Point& X, float u, float v) const;

    // Equality looks at the four endpoint coordinates only.
    bool operator==(const LineSegment& o) const { return P == o.P && Q == o.Q; }
    bool operator!=(const LineSegment& o) const { return !(*this == o); }
};
