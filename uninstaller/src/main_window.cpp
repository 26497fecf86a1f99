#include "main_window.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QGraphicsDropShadowEffect>
#include <QGridLayout>
#include <QStackedWidget>

#include "completed_page.h"
#include "forms.h"
#include "install_process.h"
#include "installing_page.h"
#include "pavex/resource.h"

namespace appinstaller {

namespace {

const char kQssDir[] = ":/Uninstall/Qss/";

}  // namespace

void MainWindowUI::setupUi(QWidget* window)
{
    NameForm(window, "MainWindowUI");
    window->resize(744, 504);
    window->setMinimumSize(744, 504);
    window->setMaximumSize(744, 504);
    gridLayout_2 = MakeGrid(window, "gridLayout_2", 0, {12, 12, 12, 12});
    m_pInstallStackedWidget = MakeWidget<QStackedWidget>(window, "m_pInstallStackedWidget");
    m_pInstallStackedWidget->setMinimumSize(0, 480);
    m_pInstallStackedWidget->setMaximumSize(16777215, 480);
    gridLayout_2->addWidget(m_pInstallStackedWidget, 0, 0);
    verticalSpacer = new QSpacerItem(20, 323, QSizePolicy::Minimum, QSizePolicy::Expanding);
    gridLayout_2->addItem(verticalSpacer, 1, 0);
    window->setWindowTitle(QCoreApplication::translate("MainWindowUI", "MainWindowUI"));
    QMetaObject::connectSlotsByName(window);
}

MainWindow::MainWindow(QWidget* parent) : QWidget(parent)
{
    setWindowFlags(windowFlags() | Qt::FramelessWindowHint);
    m_ui.setupUi(this);
    InitWindow();
}

void MainWindow::InitWindow()
{
    if (!m_pInstallingPage)
        m_pInstallingPage = new InstallingPage(this);
    if (!m_pCompletedPage)
        m_pCompletedPage = new UnInstallCompletedPage(this);
    m_ui.m_pInstallStackedWidget->addWidget(m_pInstallingPage);
    m_ui.m_pInstallStackedWidget->addWidget(m_pCompletedPage);

    const QStringList sheets = QDir(kQssDir).entryList(QDir::Files);
    setStyleSheet(Pavex::CFile::ReadAll(sheets, kQssDir));

    connect(m_pInstallingPage, &InstallingPage::signalunInstallFinished, this, &MainWindow::onFinishedUnInstall);
    connect(m_pInstallingPage, &InstallingPage::signalClose, this, &QWidget::close);
    connect(m_pCompletedPage, &UnInstallCompletedPage::signalClose, this, &QWidget::close);
    m_ui.m_pInstallStackedWidget->setCurrentWidget(m_pInstallingPage);

    auto* shadow = new QGraphicsDropShadowEffect(this);
    shadow->setOffset(0, 0);
    shadow->setColor(QColor(0, 0, 0, 114));
    shadow->setBlurRadius(12);
    m_ui.m_pInstallStackedWidget->setGraphicsEffect(shadow);

    setAutoFillBackground(true);
    QPalette pal = palette();
    pal.setBrush(QPalette::All, QPalette::Window, QBrush(Qt::transparent));
    setPalette(pal);
    setWindowOpacity(1.0);
    setAttribute(Qt::WA_TranslucentBackground);
}

void MainWindow::onUninstall()
{
    m_ui.m_pInstallStackedWidget->setCurrentWidget(m_pInstallingPage);
    m_pInstallingPage->StartUnInstall();
}

void MainWindow::onFinishedUnInstall()
{
    m_pCompletedPage->ShowResult(InstallProcessMgr::GetInstance()->LastResult());
    m_ui.m_pInstallStackedWidget->setCurrentWidget(m_pCompletedPage);
}

void MainWindow::closeEvent(QCloseEvent* e)
{
    if (m_pInstallingPage->IsUnInstalling()) {
        e->ignore();
        return;
    }
    QWidget::closeEvent(e);
}

}  // namespace appinstaller
