#pragma once
// The end page: the outcome of the uninstall and the Completed button.
#include <QWidget>

class QGridLayout;
class QHBoxLayout;
class QLabel;
class QPushButton;
class QVBoxLayout;

namespace Pavex {
class CCommandButton;
}

namespace appinstaller {

class UpperWidget;
struct UninstallResult;

struct UnInstallCompletedUI {
    QGridLayout* gridLayout_2;
    QWidget* m_pContainerWidget;
    QGridLayout* gridLayout;
    UpperWidget* m_pUpperWidget;
    QWidget* m_pBottomWidget;
    QGridLayout* gridLayout_3;
    QHBoxLayout* horizontalLayout_6;
    QHBoxLayout* horizontalLayout_3;
    QPushButton* m_pIconToolBtn;
    QLabel* m_pInstallInfoLabel;
    QHBoxLayout* horizontalLayout;
    QVBoxLayout* verticalLayout;
    Pavex::CCommandButton* m_pCompletedBtn;

    void setupUi(QWidget* page);
};

class UnInstallCompletedPage : public QWidget {
    Q_OBJECT
public:
    explicit UnInstallCompletedPage(QWidget* parent = nullptr);

    // "Uninstalled" after a complete run; otherwise the failed steps, with the warning icon.
    void ShowResult(const UninstallResult& result);
    const UnInstallCompletedUI& Ui() const { return m_ui; }

signals:
    void signalClose();

public slots:
    void onCompletedBtnClicked();

private:
    void InitPage();

    UnInstallCompletedUI m_ui;
};

}  // namespace appinstaller
