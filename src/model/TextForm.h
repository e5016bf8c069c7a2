#pragma once

#include <QString>

namespace TextForm {

// The shortest decimal text that reads back as the same double, with at least one
// fractional digit when written without exponent: 300.0, -300.0, 0.1, 100000.0, 1e+20.
[[nodiscard]] QString number(double value);

// Room for every text of writeNumber.
inline constexpr int numberCapacity = 32;

// Writes the text of number() for a finite value to buffer, which holds numberCapacity
// characters, and returns the end of the text. Saved files use it too, so that a file and a
// description show a number alike.
char *writeNumber(char *buffer, double value);

// Seconds as whole minutes, halves away from zero, as the panels show times. Values beyond a
// 64-bit count of minutes are written in exponent form, since no whole number fits them.
[[nodiscard]] QString wholeMinutes(double seconds);

// A name in straight double quotation marks, as messages to the user show it.
[[nodiscard]] inline QString quoted(const QString &name)
{
    return QLatin1Char('"') + name + QLatin1Char('"');
}

} // namespace TextForm
