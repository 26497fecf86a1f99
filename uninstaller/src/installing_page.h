#pragma once
// The progress page: status text, percentage and bar while the worker runs the uninstall.
#include <QWidget>

class QFrame;
class QGridLayout;
class QHBoxLayout;
class QLabel;
class QVBoxLayout;

namespace Pavex {
class CSecondCommandButton;
}

namespace appinstaller {

class UpperWidget;
class UnInstallThread;

struct InstallingUI {
    QGridLayout* gridLayout;
    QWidget* m_pContainerWidget;
    QGridLayout* gridLayout_4;
    UpperWidget* m_pUpperWidget;
    QWidget* m_pBottomWidget;
    QGridLayout* gridLayout_3;
    QVBoxLayout* verticalLayout_2;
    QHBoxLayout* horizontalLayout;
    QLabel* m_pInstallingLabel;
    QLabel* m_pInstallProgressLabel;
    QWidget* m_pWidgetProcessBar;
    QHBoxLayout* horizontalLayout_3;
    QFrame* frame;
    QHBoxLayout* horizontalLayout_2;
    QVBoxLayout* verticalLayout;
    Pavex::CSecondCommandButton* m_pCancelBtn;

    void setupUi(QWidget* page);
};

class InstallingPage : public QWidget {
    Q_OBJECT
public:
    explicit InstallingPage(QWidget* parent = nullptr);
    // Never leaves a running worker behind.
    ~InstallingPage() override;

    void StartUnInstall();
    bool IsUnInstalling() const;
    const InstallingUI& Ui() const { return m_ui; }

signals:
    void signalInstallFinished();
    void signalCancelInstall();
    void signalClose();
    void signalunInstallFinished();

public slots:
    void onCancelInstall();
    void onProcessInfo(int iProcess, QString strProcessName);

private:
    void InitPage();

    InstallingUI m_ui;
    int m_iProcess = 0;
    UnInstallThread* m_thread = nullptr;
};

}  // namespace appinstaller
