#include "widgets/qt_chinese.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>

namespace vexory {

bool LoadQtChinese(QCoreApplication& app)
{
    const QString folder = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
    bool loaded = false;
    // qtbase carries the widgets' texts; the others add what their modules show.
    for (const char* module : {"qtbase", "qtmultimedia", "qtwebengine"}) {
        auto* translator = new QTranslator(&app);
        if (translator->load(QLatin1String(module) + QStringLiteral("_zh_CN"), folder)) {
            QCoreApplication::installTranslator(translator);
            loaded = true;
        } else {
            delete translator;
        }
    }
    return loaded;
}

} // namespace vexory
