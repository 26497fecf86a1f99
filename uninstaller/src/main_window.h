#pragma once
// The frameless main window: the progress page and the end page in a stack.
#include <QWidget>

class QGridLayout;
class QSpacerItem;
class QStackedWidget;

namespace appinstaller {

class InstallingPage;
class UnInstallCompletedPage;

struct MainWindowUI {
    QGridLayout* gridLayout_2;
    QStackedWidget* m_pInstallStackedWidget;
    QSpacerItem* verticalSpacer;

    void setupUi(QWidget* window);
};

class MainWindow : public QWidget {
    Q_OBJECT
public:
    explicit MainWindow(QWidget* parent = nullptr);

    InstallingPage* ProgressPage() const { return m_pInstallingPage; }
    UnInstallCompletedPage* EndPage() const { return m_pCompletedPage; }
    QStackedWidget* Stack() const { return m_ui.m_pInstallStackedWidget; }

public slots:
    void onFinishedUnInstall();
    void onUninstall();

protected:
    // Refused while the uninstall runs, from the title bar and the window manager alike.
    void closeEvent(QCloseEvent* e) override;

private:
    void InitWindow();

    MainWindowUI m_ui;
    InstallingPage* m_pInstallingPage = nullptr;
    UnInstallCompletedPage* m_pCompletedPage = nullptr;
};

}  // namespace appinstaller
