#pragma once

// MemoLog: a runner's log, kept in a text document of its own. That document has
// no layout, so writing a line costs a few microseconds; the memo on screen shows
// a copy, written along while the memo is visible and brought up to date when it
// is shown again. Twenty runners in hidden tabs then no longer lay out hundreds of
// lines a cycle that nobody sees.

#include <QObject>
#include <QTextDocument>

#include <vector>

class QPlainTextEdit;

namespace vexory {

class MemoLog : public QObject
{
public:
    explicit MemoLog(QPlainTextEdit* view);

    // As QPlainTextEdit::appendPlainText: a new block (unless the log is empty)
    // holding `text`, whose line breaks begin further blocks.
    void Append(const QString& text);
    // Appends each text as Append does, each after deleting the first `drop` lines
    // (the memo does not wrap: a block is a line) while the log holds more than
    // `limit`: the same log, in one change.
    void AppendCapped(const QStringList& texts, int limit, int drop);
    // How many of their own lines texts of these line counts would lose at once
    // to AppendCapped: a cycle of thousands of records keeps only its last few
    // hundred, and the rest need not be made.
    int LinesDroppedAtOnce(const std::vector<int>& textLines, int limit, int drop) const;
    QString Text() const { return m_doc.toPlainText(); }
    // Brings the memo on screen up to date now.
    void Sync();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    bool mirrored() const;
    int held() const;
    static int dropped(int held, const std::vector<int>& textLines, int limit, int drop);

    QTextDocument m_doc;
    QPlainTextEdit* m_view;
    bool m_stale = false; // the memo on screen misses changes of the log
};

} // namespace vexory
