// The value parsers of quarro-render's options: whole text only, no silent clamping. Each
// returns false for text it does not take, and leaves the value alone then. Also the frame
// name pattern of a sequence.
#pragma once

#include <string>

#include "video/output_target.h"

// A finite number in C syntax ("0.25", "1e-3").
bool ParseDouble(const std::string& text, double& value);

// A whole number in [low, high], in decimal, optionally signed with '-'.
bool ParseInt(const std::string& text, long low, long high, int& value);

// A number in [0, 1].
bool ParseFraction(const std::string& text, double& value);

// Two whole numbers in [low, high] joined by one of `separators` ("WxH", "F:L"); no signs.
bool ParseIntPair(const std::string& text, const char* separators, long low, long high, int& first, int& second);

// True if `pattern` holds exactly one integer field (%d or %i with optional flags, width and
// precision) and otherwise only literal text and "%%".
bool IsFramePattern(const std::string& pattern);

// The file name of frame `index` from a pattern accepted by IsFramePattern.
std::string FramePath(const std::string& pattern, int index);

// A frame rate as N, N/D (30000/1001) or a decimal with at most 3 places (29.97, 12.5), as the
// fraction num/den in lowest terms: both terms in 1..kMaxRateTerm, the rate at most kMaxFrameRate.
bool ParseFrameRate(const std::string& text, int& num, int& den);
