#pragma once

// Qt's own texts (dialog buttons, file dialogs, context menus of text boxes) in
// Chinese, from the translations Qt ships; the program's texts are its own.

class QCoreApplication;

namespace vexory {

// Installs Qt's Chinese translations into the application; false when they are
// not on the machine (Qt's English texts stay).
bool LoadQtChinese(QCoreApplication& app);

} // namespace vexory
