#include "widgets/hint_edit.h"

#include <QKeyEvent>
#include <QPalette>

namespace vexory {

THintEdit::THintEdit(QWidget* parent) : QLineEdit(parent)
{
    // Typing (with the focus) is the real text; the hint on display never is.
    connect(this, &QLineEdit::textChanged, this, [this](const QString& text) {
        if (!m_updating && hasFocus())
            m_text = text;
    });
    refreshLook();
}

void THintEdit::display(const QString& text, bool grey, bool masked)
{
    m_updating = true;
    setEchoMode(masked && !m_passwordChar.isNull() ? QLineEdit::Password : QLineEdit::Normal);
    if (QLineEdit::text() != text)
        setText(text);
    QPalette p = palette();
    p.setColor(QPalette::Text, palette().color(grey ? QPalette::PlaceholderText : QPalette::WindowText));
    setPalette(p);
    m_grey = grey;
    m_updating = false;
}

void THintEdit::refreshLook()
{
    if (hasFocus())
        return;
    bool ok;
    if (!m_query)
        ok = !m_text.isEmpty();
    else
        ok = m_query(m_text);
    if (ok) {
        m_showsHint = false;
        display(m_text, false, true);
    } else if (m_text.isEmpty()) {
        m_showsHint = true;
        display(m_hint, true, false);
    } else {
        m_showsHint = false;
        display(m_text, true, true); // a text that fails stays visible, in grey
    }
}

void THintEdit::SetText(const QString& text)
{
    if (text == m_text)
        return;
    m_text = text;
    if (hasFocus())
        display(m_text, false, true);
    refreshLook();
}

void THintEdit::SetHintText(const QString& hint)
{
    if (hint == m_hint)
        return;
    m_hint = hint;
    refreshLook();
}

void THintEdit::SetPasswordChar(QChar c)
{
    if (c == m_passwordChar)
        return;
    m_passwordChar = c;
    if (!c.isNull())
        setStyleSheet(QStringLiteral("QLineEdit { lineedit-password-character: %1; }").arg(c.unicode()));
    if (!m_text.isEmpty() || c.isNull())
        setEchoMode(c.isNull() || m_showsHint ? QLineEdit::Normal : QLineEdit::Password);
}

void THintEdit::SetFormatQuery(FormatQuery query)
{
    m_query = std::move(query);
    refreshLook();
}

void THintEdit::focusInEvent(QFocusEvent* event)
{
    QLineEdit::focusInEvent(event);
    if (m_showsHint || QLineEdit::text() == m_hint) {
        m_showsHint = false;
        display(m_text, false, true);
    } else {
        display(QLineEdit::text(), false, true);
    }
}

void THintEdit::focusOutEvent(QFocusEvent* event)
{
    QLineEdit::focusOutEvent(event);
    if (!m_showsHint)
        m_text = QLineEdit::text();
    refreshLook();
}

void THintEdit::keyPressEvent(QKeyEvent* event)
{
    QLineEdit::keyPressEvent(event);
    // Only a key that makes a character (Backspace and Enter included): arrows,
    // Shift and the like make none.
    if (!event->text().isEmpty())
        emit Import();
}

} // namespace vexory
