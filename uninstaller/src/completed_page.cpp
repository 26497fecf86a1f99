#include "completed_page.h"

#include <QCoreApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "forms.h"
#include "install_process.h"
#include "pavex/buttons.h"
#include "upper_widget.h"

namespace appinstaller {

void UnInstallCompletedUI::setupUi(QWidget* page)
{
    NameForm(page, "UnInstallCompletedUI");
    page->resize(720, 480);
    page->setFixedSize(720, 480);
    gridLayout_2 = MakeGrid(page, "gridLayout_2", 0, {0, 0, 0, 0});
    m_pContainerWidget = MakeWidget<QWidget>(page, "m_pContainerWidget");
    gridLayout = MakeGrid(m_pContainerWidget, "gridLayout", 0, {0, 0, 0, 0});

    const PageParts parts = MakePageParts(m_pContainerWidget, gridLayout, {36, 32, 36, 24});
    m_pUpperWidget = parts.upper;
    m_pBottomWidget = parts.bottom;
    gridLayout_3 = parts.bottomGrid;

    horizontalLayout_6 = MakeBox<QHBoxLayout>("horizontalLayout_6", 6);
    horizontalLayout_6->addItem(HSpacer());
    horizontalLayout_3 = MakeBox<QHBoxLayout>("horizontalLayout_3", 6);
    m_pIconToolBtn = MakeWidget<QPushButton>(m_pBottomWidget, "m_pIconToolBtn");
    m_pIconToolBtn->setFixedSize(32, 32);
    m_pIconToolBtn->setIconSize(QSize(32, 32));
    m_pInstallInfoLabel = MakeWidget<QLabel>(m_pBottomWidget, "m_pInstallInfoLabel");
    horizontalLayout_3->addWidget(m_pIconToolBtn);
    horizontalLayout_3->addWidget(m_pInstallInfoLabel);
    horizontalLayout_6->addLayout(horizontalLayout_3);
    horizontalLayout_6->addItem(HSpacer());
    gridLayout_3->addLayout(horizontalLayout_6, 0, 0);

    m_pCompletedBtn = MakeWidget<Pavex::CCommandButton>(m_pBottomWidget, "m_pCompletedBtn");
    m_pCompletedBtn->setMinimumSize(88, 32);
    AddButtonRow(gridLayout_3, horizontalLayout, "horizontalLayout", verticalLayout, m_pCompletedBtn);
    gridLayout_2->addWidget(m_pContainerWidget, 0, 0);

    page->setWindowTitle(QCoreApplication::translate("UnInstallCompletedUI", "MainWindowUI"));
    m_pInstallInfoLabel->setText(QCoreApplication::translate("UnInstallCompletedUI", "Uninstalled"));
    m_pCompletedBtn->setText(QCoreApplication::translate("UnInstallCompletedUI", "Completed"));
    QMetaObject::connectSlotsByName(page);
}

UnInstallCompletedPage::UnInstallCompletedPage(QWidget* parent) : QWidget(parent)
{
    m_ui.setupUi(this);
    InitPage();
}

void UnInstallCompletedPage::InitPage()
{
    connect(m_ui.m_pUpperWidget, &UpperWidget::signalClose, this, &UnInstallCompletedPage::signalClose);
    connect(m_ui.m_pCompletedBtn, &QPushButton::clicked, this, &UnInstallCompletedPage::onCompletedBtnClicked);
    m_ui.m_pCompletedBtn->setStyleSheet("QPushButton {background-color: #19549d;border: 2px solid #19549d;}");
}

void UnInstallCompletedPage::onCompletedBtnClicked()
{
    emit signalClose();
}

void UnInstallCompletedPage::ShowResult(const UninstallResult& result)
{
    if (result.Complete())
        return;
    m_ui.m_pInstallInfoLabel->setText(
        QCoreApplication::translate("UnInstallCompletedUI", "UninstallIncompleteFailedSteps %1")
            .arg(result.FailedSteps().join(", ")));
    m_ui.m_pInstallInfoLabel->setStyleSheet("color: #E6A23C; font-size: 16px;");
    m_ui.m_pInstallInfoLabel->setWordWrap(true);
    m_ui.m_pIconToolBtn->setStyleSheet(
        "background: transparent; border: none; "
        "border-image: url(:/Uninstall/Images/common_feedback_warning_lg.svg);");
}

}  // namespace appinstaller
