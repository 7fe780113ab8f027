#pragma once

// THintEdit: a one-line edit that shows a grey hint while it is empty and not
// focused, and greys a text that fails the owner's format test. Text() is always
// the real text, never the hint.

#include <QLineEdit>

#include <functional>

namespace vexory {

class THintEdit : public QLineEdit
{
    Q_OBJECT
public:
    using FormatQuery = std::function<bool(const QString& text)>;

    explicit THintEdit(QWidget* parent = nullptr);

    QString Text() const { return m_text; }
    void SetText(const QString& text);
    QString HintText() const { return m_hint; }
    void SetHintText(const QString& hint);
    QChar PasswordChar() const { return m_passwordChar; }
    void SetPasswordChar(QChar c);
    void SetFormatQuery(FormatQuery query);

    // True while the grey hint, not the real text, is displayed.
    bool ShowsHint() const { return m_showsHint; }
    bool IsGrey() const { return m_grey; }

signals:
    // After every character key the control has handled (not arrows, Shift and the like).
    void Import();

protected:
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void refreshLook();
    void display(const QString& text, bool grey, bool masked);

    QString m_text;
    QString m_hint;
    QChar m_passwordChar;
    FormatQuery m_query;
    bool m_showsHint = false;
    bool m_grey = false;
    bool m_updating = false;
};

} // namespace vexory
