#include "ShownText.h"

#include <QLocale>
#include <QTextBoundaryFinder>

namespace corvane::ShownText {

namespace {

const QChar ellipsis(0x2026);

// The last grapheme boundary at or before position. Only a bounded stretch of the text is
// looked at: the code point after the position settles whether it is a boundary.
qsizetype boundaryAtOrBefore(QStringView text, qsizetype position)
{
    if (position <= 0)
        return 0;
    if (position >= text.size())
        return text.size();
    const QStringView stretch = text.first(std::min(text.size(), position + 2));
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, stretch.data(), stretch.size());
    finder.setPosition(position);
    if (finder.isAtBoundary())
        return position;
    const qsizetype before = finder.toPreviousBoundary();
    if (before > 0)
        return before;
    // One cluster longer than the limit (a base under thousands of marks): a code point will do.
    return text[position].isLowSurrogate() && text[position - 1].isHighSurrogate() ? position - 1 : position;
}

// The first grapheme boundary at or after position, judged with some context before it.
qsizetype boundaryAtOrAfter(QStringView text, qsizetype position)
{
    if (position <= 0)
        return 0;
    if (position >= text.size())
        return text.size();
    constexpr qsizetype context = 64;
    const qsizetype from = std::max<qsizetype>(0, position - context);
    const QStringView stretch = text.sliced(from, std::min(text.size() - from, position - from + context));
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, stretch.data(), stretch.size());
    finder.setPosition(position - from);
    if (finder.isAtBoundary())
        return position;
    const qsizetype after = finder.toNextBoundary();
    if (after >= 0 && from + after < text.size() && after < stretch.size())
        return from + after;
    return text[position].isLowSurrogate() && text[position - 1].isHighSurrogate() ? position + 1 : position;
}

QString cutMiddle(QStringView line, qsizetype limit)
{
    if (line.size() <= limit)
        return line.toString();
    const qsizetype half = (limit - 1) / 2;
    const qsizetype headEnd = boundaryAtOrBefore(line, half);
    const qsizetype tailStart = boundaryAtOrAfter(line, line.size() - (limit - 1 - half));
    return line.first(headEnd) + ellipsis + line.sliced(tailStart);
}

} // namespace

QString cut(QStringView text, qsizetype limit)
{
    if (text.size() <= limit)
        return text.toString();
    if (limit <= 0)
        return {};
    return text.first(boundaryAtOrBefore(text, limit - 1)) + ellipsis;
}

QString cutLines(const QString &text, qsizetype lineLimit, qsizetype lineCount)
{
    if (text.size() <= lineLimit && text.count(u'\n') < lineCount)
        return text;
    QString shown;
    qsizetype lines = 0;
    for (const QStringView line : QStringView(text).tokenize(u'\n')) {
        if (lines > 0)
            shown += u'\n';
        if (lines == lineCount) {
            shown += ellipsis;
            break;
        }
        shown += cutMiddle(line, lineLimit);
        ++lines;
    }
    return shown;
}

QString firstLines(const QString &text, qsizetype count)
{
    qsizetype end = -1;
    for (qsizetype line = 0; line < count; ++line) {
        end = text.indexOf(u'\n', end + 1);
        if (end < 0)
            return text;
    }
    const qsizetype more = QStringView(text).sliced(end + 1).count(u'\n') + 1;
    return text.left(end) + QStringLiteral("\nand %1 more").arg(QLocale().toString(more));
}

} // namespace corvane::ShownText
