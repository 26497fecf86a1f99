#pragma once
// The application object: loads the catalogues of the default locale's language at construction.
#include <QApplication>

namespace appinstaller {

class Application : public QApplication {
    Q_OBJECT
public:
    Application(int& argc, char** argv);

    // Installs every "*_zh.qm" (default locale Chinese) or "*_en.qm" catalogue of the directory
    // (by default the "translations/" folder beside the program), whether it loads or not.
    static void LoadTranslators();
    static void LoadTranslators(const QString& directory);

public slots:
    void onQuit() {}
};

}  // namespace appinstaller
