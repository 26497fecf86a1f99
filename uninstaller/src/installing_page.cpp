#include "installing_page.h"

#include <QCoreApplication>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

#include "forms.h"
#include "install_process.h"
#include "pavex/buttons.h"
#include "pavex/dialogs.h"
#include "upper_widget.h"

namespace appinstaller {

void InstallingUI::setupUi(QWidget* page)
{
    NameForm(page, "InstallingUI");
    page->resize(720, 480);
    page->setFixedSize(720, 480);
    gridLayout = MakeGrid(page, "gridLayout", 0, {0, 0, 0, 0});
    m_pContainerWidget = MakeWidget<QWidget>(page, "m_pContainerWidget");
    m_pContainerWidget->setFixedSize(720, 480);
    gridLayout_4 = MakeGrid(m_pContainerWidget, "gridLayout_4", 0, {0, 0, 0, 0});

    const PageParts parts = MakePageParts(m_pContainerWidget, gridLayout_4, {36, 26, 36, 24});
    m_pUpperWidget = parts.upper;
    m_pBottomWidget = parts.bottom;
    gridLayout_3 = parts.bottomGrid;

    verticalLayout_2 = MakeBox<QVBoxLayout>("verticalLayout_2", 6);
    horizontalLayout = MakeBox<QHBoxLayout>("horizontalLayout", 0);
    m_pInstallingLabel = MakeWidget<QLabel>(m_pBottomWidget, "m_pInstallingLabel");
    m_pInstallProgressLabel = MakeWidget<QLabel>(m_pBottomWidget, "m_pInstallProgressLabel");
    for (QLabel* label : {m_pInstallingLabel, m_pInstallProgressLabel}) {
        label->setMinimumSize(160, 24);
        label->setMaximumSize(16777215, 24);
        horizontalLayout->addWidget(label);
    }
    horizontalLayout->addItem(HSpacer());
    verticalLayout_2->addLayout(horizontalLayout);

    m_pWidgetProcessBar = MakeWidget<QWidget>(m_pBottomWidget, "m_pWidgetProcessBar");
    m_pWidgetProcessBar->setFixedSize(648, 16);
    horizontalLayout_3 = MakeLayout<QHBoxLayout>(m_pWidgetProcessBar, "horizontalLayout_3", 0, {3, 3, 3, 3});
    frame = MakeWidget<QFrame>(m_pWidgetProcessBar, "frame");
    frame->setFrameShape(QFrame::StyledPanel);
    frame->setFrameShadow(QFrame::Raised);
    horizontalLayout_3->addWidget(frame);
    horizontalLayout_3->addItem(HSpacer());
    verticalLayout_2->addWidget(m_pWidgetProcessBar);
    gridLayout_3->addLayout(verticalLayout_2, 0, 0);

    m_pCancelBtn = MakeWidget<Pavex::CSecondCommandButton>(m_pBottomWidget, "m_pCancelBtn");
    m_pCancelBtn->setFixedSize(88, 32);
    AddButtonRow(gridLayout_3, horizontalLayout_2, "horizontalLayout_2", verticalLayout, m_pCancelBtn);
    gridLayout->addWidget(m_pContainerWidget, 0, 0);

    page->setWindowTitle(QCoreApplication::translate("InstallingUI", "MainWindowUI"));
    m_pCancelBtn->setText(QCoreApplication::translate("InstallingUI", "UndoMerge"));
    QMetaObject::connectSlotsByName(page);
}

InstallingPage::InstallingPage(QWidget* parent) : QWidget(parent)
{
    m_ui.setupUi(this);
    InitPage();
}

InstallingPage::~InstallingPage()
{
    if (m_thread)
        m_thread->wait();
}

void InstallingPage::InitPage()
{
    m_iProcess = 0;
    m_ui.frame->setFixedWidth(0);
    m_ui.frame->setStyleSheet("background:red; border-radius:5px; border:none;");
    m_ui.m_pWidgetProcessBar->setStyleSheet("border:1px solid rgba(0,0,0,0.2);border-radius:8px");
    // The status text can outgrow its label's minimum width; keep the percentage apart from it.
    m_ui.m_pInstallProgressLabel->setIndent(8);
    connect(m_ui.m_pCancelBtn, &QPushButton::clicked, this, &InstallingPage::onCancelInstall);
    connect(m_ui.m_pUpperWidget, &UpperWidget::signalClose, this, &InstallingPage::signalClose);
    connect(InstallProcessMgr::GetInstance(), &InstallProcessMgr::signalProcess, this,
            &InstallingPage::onProcessInfo, Qt::AutoConnection);
}

void InstallingPage::onProcessInfo(int iProcess, QString strProcessName)
{
    m_ui.m_pInstallingLabel->setText(strProcessName);
    m_ui.m_pInstallProgressLabel->setText(QString::number(iProcess) + "%");
    m_ui.frame->setFixedWidth(iProcess * (m_ui.m_pWidgetProcessBar->width() - 6) / 100);
    m_iProcess = iProcess;
    repaint();
}

void InstallingPage::StartUnInstall()
{
    m_ui.m_pCancelBtn->hide();
    m_thread = new UnInstallThread(this);
    connect(m_thread, &QThread::finished, this, &InstallingPage::signalunInstallFinished);
    m_thread->start(QThread::InheritPriority);
}

bool InstallingPage::IsUnInstalling() const
{
    return m_thread && !m_thread->isFinished();
}

void InstallingPage::onCancelInstall()
{
    Pavex::CModalTipDialog::ShowModalTipDialog(tr("ConfirmUninstallOemAjtmnj"),
                                               Pavex::CModalTipDialog::ModelConfirm,
                                               Pavex::CModalTipDialog::SizeSmall, this);
    emit signalCancelInstall();
}

}  // namespace appinstaller
