#include "TextForm.h"

#include <algorithm>
#include <charconv>
#include <cmath>

namespace TextForm {

char *writeNumber(char *buffer, double value)
{
    // Positional from 1e-4 up to 1e16, which covers the times and durations of a plan in seconds;
    // outside it the digits would be mostly zeros, so the exponent form stays there.
    const double magnitude = std::fabs(value);
    const bool positional = magnitude == 0.0 || (magnitude >= 1e-4 && magnitude < 1e16);
    const auto format = positional ? std::chars_format::fixed : std::chars_format::scientific;
    // Two characters stay free for the ".0".
    char *end = std::to_chars(buffer, buffer + numberCapacity - 2, value, format).ptr;
    if (positional && std::find(buffer, end, '.') == end) {
        *end++ = '.';
        *end++ = '0';
    }
    return end;
}

QString number(double value)
{
    if (std::isnan(value))
        return QStringLiteral("nan");
    if (std::isinf(value))
        return value > 0 ? QStringLiteral("inf") : QStringLiteral("-inf");
    char buffer[numberCapacity];
    return QString::fromLatin1(buffer, writeNumber(buffer, value) - buffer);
}

QString wholeMinutes(double seconds)
{
    // std::round rounds halves away from zero.
    const double minutes = std::round(seconds / 60.0);
    constexpr double limit = 9223372036854775808.0; // 2^63
    if (std::isfinite(minutes) && minutes > -limit && minutes < limit)
        return QString::number(static_cast<qint64>(minutes));
    return QString::number(minutes, 'g', 6);
}

} // namespace TextForm
