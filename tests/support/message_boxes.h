#pragma once

// Message boxes in a GUI test: each text is recorded and questions get the answer
// the test has set, without a modal loop.

#include "widgets/message_box.h"

#include <QStringList>

namespace vexory::test {

struct MessageBoxes
{
    QStringList shown;
    QMessageBox::StandardButton answer = QMessageBox::Yes;

    void install()
    {
        MessageBox::SetHook([this](const QString& text) {
            shown << text;
            return answer;
        });
    }
    void reset()
    {
        shown.clear();
        answer = QMessageBox::Yes;
    }
};

} // namespace vexory::test
