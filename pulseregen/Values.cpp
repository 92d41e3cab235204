#include "Values.h"
#include "Options.h"

#include <cstring>
#include <string>

namespace options {

namespace {

constexpr int kMaxDecimals = 9;

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// P as an exact fraction: the digits without the point over a power of 10,
// so that the level is rounded down from the exact product.
bool ParsePercent(std::string text, Level& level) {
    const size_t point = text.find('.');
    uint64_t denominator = 1;
    if (point != std::string::npos) {
        const size_t decimals = text.size() - point - 1;
        if (decimals == 0 || decimals > kMaxDecimals)
            return false;
        for (size_t i = 0; i < decimals; ++i)
            denominator *= 10;
        text.erase(point, 1);
    }
    uint64_t numerator = 0;
    if (!ParseCount(text.c_str(), 100 * denominator, numerator) || numerator == 0)
        return false;
    level.percent = true;
    level.numerator = numerator;
    level.denominator = denominator;
    return true;
}

} // namespace

bool ParseCount(const char* text, uint64_t limit, uint64_t& value) {
    value = 0;
    if (!*text)
        return false;
    for (; *text; ++text) {
        if (!IsDigit(*text))
            return false;
        value = value * 10 + uint64_t(*text - '0');
        if (value > limit)
            return false;
    }
    return true;
}

int Level::Resolve(int peak) const {
    if (!percent)
        return value;
    return int(numerator * uint64_t(peak > 0 ? peak : 0) / (100 * denominator));
}

bool ParseLag(const char* text, double& lag) {
    const bool negative = *text == '-';
    std::string digits(text + (negative ? 1 : 0));
    const size_t point = digits.find('.');
    uint64_t tenths = 0;
    if (point != std::string::npos) {
        if (point + 2 != digits.size())
            return false;
        digits.erase(point, 1);
    } else {
        digits += '0';
    }
    if (!ParseCount(digits.c_str(), 10 * uint64_t(kMaxLag), tenths))
        return false;
    lag = (negative ? -1.0 : 1.0) * double(tenths) / 10;
    return true;
}

bool ParseLevel(const char* text, Level& level) {
    const size_t n = std::strlen(text);
    if (n > 0 && text[n - 1] == '%')
        return ParsePercent(std::string(text, n - 1), level);
    uint64_t value = 0;
    if (!ParseCount(text, kMaxSample, value))
        return false;
    level = Level{int(value)};
    return true;
}

} // namespace options
