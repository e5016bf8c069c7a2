#pragma once

#include <QString>

namespace TextForm {

// The shortest decimal text that reads back as the same double, with at least one
// fractional digit when written without exponent: 300.0, -300.0, 0.1, 1e+20.
[[nodiscard]] QString number(double value);

// A name in straight double quotation marks, as messages to the user show it.
[[nodiscard]] inline QString quoted(const QString &name)
{
    return QLatin1Char('"') + name + QLatin1Char('"');
}

} // namespace TextForm
