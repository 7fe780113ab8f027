#pragma once

// The one way the program shows a message box, so that tests can answer boxes
// without a modal loop and a program without a display never blocks on one: on the
// offscreen and minimal platforms the text goes to standard error instead.

#include <QMessageBox>
#include <QString>

#include <functional>

namespace vexory {

class MessageBox
{
public:
    static void Information(QWidget* parent, const QString& text);
    static QMessageBox::StandardButton Question(QWidget* parent, const QString& text,
                                                QMessageBox::StandardButtons buttons);

    // Tests: every box is handed to `hook`, which gives the answer.
    using Hook = std::function<QMessageBox::StandardButton(const QString& text)>;
    static void SetHook(Hook hook);
};

} // namespace vexory
