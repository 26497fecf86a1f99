#include "upper_widget.h"

#include <QCoreApplication>
#include <QGridLayout>

#include "forms.h"
#include "title_widget.h"

namespace appinstaller {

void UpperWidgeUI::setupUi(QWidget* upper)
{
    NameForm(upper, "UpperWidgeUI");
    upper->resize(720, 480);
    upper->setFixedSize(720, 480);
    gridLayout = MakeGrid(upper, "gridLayout", 0, {0, 0, 0, 0});
    m_pContainerWidget = MakeWidget<QWidget>(upper, "m_pContainerWidget");
    gridLayout_4 = MakeGrid(m_pContainerWidget, "gridLayout_4", 0, {0, 0, 0, 0});
    m_pUpperWidget = MakeWidget<QWidget>(m_pContainerWidget, "m_pUpperWidget");
    gridLayout_2 = MakeGrid(m_pUpperWidget, "gridLayout_2", 0, {0, 0, 0, 0});
    m_pTopTitleWidget = MakeWidget<CustomTitleWidget>(m_pUpperWidget, "m_pTopTitleWidget");
    m_pTopTitleWidget->setMinimumSize(0, 60);
    m_pTopTitleWidget->setMaximumSize(16777215, 60);
    gridLayout_2->addWidget(m_pTopTitleWidget, 0, 0);
    gridLayout_2->addItem(new QSpacerItem(20, 267, QSizePolicy::Minimum, QSizePolicy::Expanding), 1, 0);
    gridLayout_4->addWidget(m_pUpperWidget, 0, 0);
    gridLayout->addWidget(m_pContainerWidget, 0, 0);
    upper->setWindowTitle(QCoreApplication::translate("UpperWidgeUI", "MainWindowUI"));
    QMetaObject::connectSlotsByName(upper);
}

PageParts MakePageParts(QWidget* container, QGridLayout* containerGrid, QMargins bottomMargins)
{
    PageParts parts;
    parts.upper = MakeWidget<UpperWidget>(container, "m_pUpperWidget");
    parts.upper->setMinimumSize(0, 320);
    parts.upper->setMaximumSize(16777215, 320);
    containerGrid->addWidget(parts.upper, 0, 0);
    parts.bottom = MakeWidget<QWidget>(container, "m_pBottomWidget");
    parts.bottom->setMinimumSize(0, 160);
    parts.bottom->setMaximumSize(16777215, 160);
    containerGrid->addWidget(parts.bottom, 1, 0);
    parts.bottomGrid = MakeGrid(parts.bottom, "gridLayout_3", 6, bottomMargins);
    return parts;
}

UpperWidget::UpperWidget(QWidget* parent) : QWidget(parent)
{
    m_ui.setupUi(this);
    connect(m_ui.m_pTopTitleWidget, &CustomTitleWidget::signalClose, this, &UpperWidget::signalClose);
}

}  // namespace appinstaller
