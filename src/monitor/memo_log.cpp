#include "monitor/memo_log.h"

#include <QEvent>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QSyntaxHighlighter>
#include <QTextCursor>
#include <QTextDocument>

#include <algorithm>

namespace vexory {

namespace {

// A line's time stamp follows its text after a tab. Where the text ends just short
// of a tab stop the tab is a sliver wide and the time seems part of the last value
// ("74.29元10:22:58"); so the last character before the tab keeps some room after
// it, and the time is set in grey. Only how the memo draws: its text stays as written.
class TimeStamps : public QSyntaxHighlighter
{
public:
    explicit TimeStamps(QTextDocument* doc) : QSyntaxHighlighter(doc)
    {
        m_room.setFontLetterSpacingType(QFont::AbsoluteSpacing);
        m_room.setFontLetterSpacing(kRoomPx);
        m_time.setForeground(QColor(0x70, 0x70, 0x70));
    }

    static constexpr qreal kRoomPx = 8;

protected:
    void highlightBlock(const QString& text) override
    {
        const qsizetype tab = text.lastIndexOf(QLatin1Char('\t'));
        if (tab < 0 || !isTime(QStringView(text).mid(tab + 1)))
            return;
        setFormat(static_cast<int>(tab + 1), static_cast<int>(text.size() - tab - 1), m_time);
        if (tab > 0)
            setFormat(static_cast<int>(tab - 1), 1, m_room);
    }

private:
    // H:mm:ss, as the runner writes it.
    static bool isTime(QStringView s)
    {
        if (s.size() < 7 || s.size() > 8)
            return false;
        const qsizetype h = s.size() - 6;
        for (qsizetype i = 0; i < s.size(); ++i) {
            const bool colon = i == h || i == h + 3;
            if (colon ? s[i] != QLatin1Char(':') : !s[i].isDigit())
                return false;
        }
        return true;
    }

    QTextCharFormat m_room;
    QTextCharFormat m_time;
};

} // namespace

MemoLog::MemoLog(QPlainTextEdit* view) : QObject(view), m_view(view)
{
    new TimeStamps(m_view->document());
    // A log is never undone: with a history, every line ever written (and every
    // block of lines dropped) would stay in memory for as long as the run lasts.
    m_view->document()->setUndoRedoEnabled(false);
    m_view->installEventFilter(this);
}

bool MemoLog::mirrored() const
{
    return !m_stale && m_view->isVisible();
}

void MemoLog::addLines(QStringView text)
{
    // Appended to an empty log, an empty text leaves it empty.
    if (text.isEmpty() && m_starts.empty())
        return;
    qsizetype from = 0;
    for (qsizetype i = 0;; ++i) {
        const bool end = i == text.size();
        const QChar c = end ? QChar() : text[i];
        if (!end && c != QLatin1Char('\n') && c != QLatin1Char('\r') && c != QChar::ParagraphSeparator)
            continue;
        m_starts.push_back(m_text.size());
        m_text += text.mid(from, i - from);
        m_text += QLatin1Char('\n');
        if (end)
            break;
        if (c == QLatin1Char('\r') && i + 1 < text.size() && text[i + 1] == QLatin1Char('\n'))
            ++i;
        from = i + 1;
    }
    if (m_starts.size() == 1 && m_text.size() == 1)
        dropLines(1);
}

void MemoLog::dropLines(int count)
{
    if (count >= held()) {
        m_text.clear();
        m_starts.clear();
        return;
    }
    const qsizetype gone = m_starts[static_cast<size_t>(count)];
    m_text.remove(0, gone);
    m_starts.erase(m_starts.begin(), m_starts.begin() + count);
    for (qsizetype& start : m_starts)
        start -= gone;
    if (m_starts.size() == 1 && m_text.size() == 1)
        dropLines(1);
}

void MemoLog::Append(const QString& text)
{
    addLines(text);
    if (mirrored())
        m_view->appendPlainText(text);
    else
        m_stale = true;
}

// What the appends one by one would drop: first lines of the log, then perhaps
// lines of the texts themselves.
int MemoLog::dropped(int held, const std::vector<int>& textLines, int limit, int drop)
{
    int lines = held, dropped = 0;
    for (const int n : textLines) {
        if (std::max(lines, 1) > limit) {
            dropped += drop;
            lines -= drop;
        }
        lines += n;
    }
    return dropped;
}

int MemoLog::LinesDroppedAtOnce(const std::vector<int>& textLines, int limit, int drop) const
{
    const int held = this->held();
    return std::max(0, dropped(held, textLines, limit, drop) - held);
}

void MemoLog::AppendCapped(const QStringList& texts, int limit, int drop)
{
    if (texts.isEmpty())
        return;
    std::vector<int> textLines;
    textLines.reserve(static_cast<size_t>(texts.size()));
    for (const QString& text : texts)
        textLines.push_back(1 + static_cast<int>(text.count(QLatin1Char('\n'))));
    const int held = this->held();
    const int all = dropped(held, textLines, limit, drop);
    const int cut = std::min(all, held);      // lines of the log
    const int skip = std::max(0, all - held); // lines of the texts themselves
    QString joined = texts.join(QLatin1Char('\n'));
    qsizetype from = 0;
    for (int k = 0; k < skip; ++k)
        from = joined.indexOf(QLatin1Char('\n'), from) + 1;
    joined.remove(0, from);
    dropLines(cut);
    addLines(joined);
    if (!mirrored()) {
        m_stale = true;
        return;
    }
    QTextDocument* doc = m_view->document();
    if (cut > 0 && cut == held) {
        doc->clear(); // a selection cannot take the last line: the whole log goes
    } else if (cut > 0) {
        QTextCursor cursor(doc);
        cursor.movePosition(QTextCursor::Start);
        cursor.movePosition(QTextCursor::NextBlock, QTextCursor::KeepAnchor, cut);
        cursor.removeSelectedText();
    }
    m_view->appendPlainText(joined);
}

void MemoLog::Sync()
{
    if (!m_stale)
        return;
    m_stale = false;
    QTextDocument* shown = m_view->document();
    shown->clear();
    if (!m_text.isEmpty())
        QTextCursor(shown).insertText(m_text.first(m_text.size() - 1));
    // The newest lines in sight, as when the memo follows the log.
    m_view->moveCursor(QTextCursor::End);
    m_view->verticalScrollBar()->setValue(m_view->verticalScrollBar()->maximum());
}

bool MemoLog::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_view && event->type() == QEvent::Show)
        Sync();
    return QObject::eventFilter(watched, event);
}

} // namespace vexory
