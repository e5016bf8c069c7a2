#pragma once

#include <QString>
#include <QStringView>

// Texts from documents can be of any length, and measuring, shaping or sending one to the window
// system costs in proportion to it. What is shown is cut to a bounded length first; the pixel
// elision of the widget then works on that.
namespace corvane::ShownText {

// Far more than any widget can show of a name, few enough to measure at once.
inline constexpr qsizetype nameLimit = 500;
// The window system refuses long titles; a title bar shows far less anyway.
inline constexpr qsizetype titleLimit = 200;
inline constexpr qsizetype alertLineLimit = 1000;
inline constexpr qsizetype alertLineCount = 40;
// A list in an alert, such as a report of what loading dropped: what fits on any screen.
inline constexpr qsizetype reportLineCount = 20;

// The text itself when it has at most limit UTF-16 units; otherwise its beginning, cut at a
// grapheme boundary, followed by "…", together at most limit units.
[[nodiscard]] QString cut(QStringView text, qsizetype limit = nameLimit);
[[nodiscard]] inline QString cut(const QString &text, qsizetype limit = nameLimit)
{
    return text.size() <= limit ? text : cut(QStringView(text), limit);
}

// For alert texts, whose lines end with what the sentence is about: each line too long keeps its
// beginning and its end around "…", and lines past the last one shown are replaced by one "…".
[[nodiscard]] QString cutLines(
    const QString &text, qsizetype lineLimit = alertLineLimit, qsizetype lineCount = alertLineCount);

// The first count lines of text, followed by the line "and N more" when it has more. Costs what
// the lines kept cost, and one count of the line ends of the rest.
[[nodiscard]] QString firstLines(const QString &text, qsizetype count = reportLineCount);

} // namespace corvane::ShownText
