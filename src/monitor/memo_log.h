#pragma once

// MemoLog: a runner's log, kept as its lines in one string; the memo on screen
// shows a copy, written along while the memo is visible and brought up to date
// when it is shown again. Runners in hidden tabs then neither lay out hundreds of
// lines a cycle that nobody sees, nor hold them in a text document (whose blocks
// took 230 bytes a line: 19 MB for 200 runners' logs).

#include <QObject>
#include <QString>

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
    // Brings the memo on screen up to date now.
    void Sync();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    bool mirrored() const;
    int held() const { return static_cast<int>(m_starts.size()); }
    static int dropped(int held, const std::vector<int>& textLines, int limit, int drop);
    // As a text document takes text: lines end at "\n", "\r\n", "\r" and U+2029.
    void addLines(QStringView text);
    void dropLines(int count);

    // The lines, each followed by '\n', and where each begins. A log of one blank
    // line is empty, as a text document of one empty block is.
    QString m_text;
    std::vector<qsizetype> m_starts;
    QPlainTextEdit* m_view;
    bool m_stale = false; // the memo on screen misses changes of the log
};

} // namespace vexory
