#include "application.h"

#include <QDir>
#include <QIcon>
#include <QLocale>
#include <QTranslator>

#include "pavex/resource.h"

namespace appinstaller {

Application::Application(int& argc, char** argv) : QApplication(argc, argv)
{
    LoadTranslators();
    setWindowIcon(QIcon(":/Uninstall/Images/icon.png"));
}

void Application::LoadTranslators()
{
    LoadTranslators(Pavex::GetTargetPath() + "translations/");
}

void Application::LoadTranslators(const QString& directory)
{
    const QString pattern = QLocale().language() == QLocale::Chinese ? "*_zh.qm" : "*_en.qm";
    const QDir dir(directory + "/");
    for (const QString& name : dir.entryList({pattern})) {
        auto* translator = new QTranslator(qApp);
        translator->load(name, directory);
        QCoreApplication::installTranslator(translator);
    }
}

}  // namespace appinstaller
