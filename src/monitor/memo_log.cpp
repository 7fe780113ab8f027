#include "monitor/memo_log.h"

#include <QEvent>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextCursor>
#include <QTextDocumentFragment>

namespace vexory {

MemoLog::MemoLog(QPlainTextEdit* view) : QObject(view), m_view(view)
{
    // A log is never undone: with a history, every line ever written (and every
    // block of lines dropped) would stay in memory for as long as the run lasts.
    m_doc.setUndoRedoEnabled(false);
    m_view->document()->setUndoRedoEnabled(false);
    m_view->installEventFilter(this);
}

bool MemoLog::mirrored() const
{
    return !m_stale && m_view->isVisible();
}

void MemoLog::Append(const QString& text)
{
    QTextCursor cursor(&m_doc);
    cursor.movePosition(QTextCursor::End);
    if (!m_doc.isEmpty())
        cursor.insertBlock();
    cursor.insertText(text);
    if (mirrored())
        m_view->appendPlainText(text);
    else
        m_stale = true;
}

void MemoLog::DropFirst(int count)
{
    auto drop = [count](QTextDocument* doc) {
        QTextCursor cursor(doc);
        cursor.movePosition(QTextCursor::Start);
        // By blocks: moving down by lines would make the log document lay itself out.
        cursor.movePosition(QTextCursor::NextBlock, QTextCursor::KeepAnchor, count);
        cursor.removeSelectedText();
    };
    drop(&m_doc);
    if (mirrored())
        drop(m_view->document());
    else
        m_stale = true;
}

void MemoLog::Sync()
{
    if (!m_stale)
        return;
    m_stale = false;
    QTextDocument* shown = m_view->document();
    shown->clear();
    QTextCursor(shown).insertFragment(QTextDocumentFragment(&m_doc));
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
