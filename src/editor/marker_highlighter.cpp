#include "editor/marker_highlighter.h"

#include "formula/markers.h"

#include <QColor>
#include <QTextCharFormat>

#include <string_view>

namespace vexory {

namespace {

struct MarkerKind
{
    std::string_view mark;
    QColor content;     // the text between opening and closing
    bool whole = false; // the opening and closing take the content's colour too
    bool formulaOnly = true;
};

// In the order they are painted: a later kind paints over an earlier one.
const MarkerKind kKinds[] = {
    {FieldMark, Qt::blue, false, false}, {IndexMark, QColor(128, 0, 0)},      {ChainMark, QColor(128, 0, 128)},
    {Wildcard, Qt::red, true},           {NoteMark, QColor(0, 128, 0), true},
};

QString fromView(std::string_view text)
{
    return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

} // namespace

MarkerHighlighter::MarkerHighlighter(QTextDocument* document, bool formulaBox)
    : QSyntaxHighlighter(document), m_formulaBox(formulaBox)
{}

// Each kind is found on its own, from opening to closing; a kind whose closing is
// not on this line stays open into the next (one bit per kind in the block state).
void MarkerHighlighter::highlightBlock(const QString& text)
{
    const int before = previousBlockState() < 0 ? 0 : previousBlockState();
    int after = 0;
    QTextCharFormat red;
    red.setForeground(Qt::red);
    for (size_t k = 0; k < std::size(kKinds); ++k) {
        const MarkerKind& kind = kKinds[k];
        if (kind.formulaOnly && !m_formulaBox)
            continue;
        const bool template_ = kind.mark.find('^') != std::string_view::npos;
        const QString open = fromView(template_ ? MarkOpening(kind.mark) : kind.mark);
        const QString close = template_ ? fromView(MarkClosing(kind.mark)) : QString();
        QTextCharFormat inner;
        inner.setForeground(kind.content);
        auto paint = [&](qsizetype from, qsizetype to, const QTextCharFormat& format) {
            if (to > from)
                setFormat(static_cast<int>(from), static_cast<int>(to - from), format);
        };
        const int bit = 1 << k;
        qsizetype at = 0;
        qsizetype inside = -1; // where the open marker's content starts
        if (before & bit) {
            inside = 0;
        }
        for (;;) {
            if (inside < 0) {
                at = text.indexOf(open, at);
                if (at < 0)
                    break;
                inside = at + open.size();
                if (kind.whole)
                    paint(at, inside, inner);
                else
                    paint(at, inside, red);
            }
            const qsizetype end = close.isEmpty() ? inside : text.indexOf(close, inside);
            if (end < 0) {
                paint(inside, text.size(), inner);
                after |= bit;
                break;
            }
            paint(inside, end, inner);
            paint(end, end + close.size(), kind.whole ? inner : red);
            at = end + close.size();
            inside = -1;
        }
    }
    setCurrentBlockState(after);
}

} // namespace vexory
