#include "title_widget.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>

namespace appinstaller {

CustomTitleWidget::CustomTitleWidget(QWidget* parent)
    : Pavex::CFancyTitle(parent),
      m_pIconLabel(new QLabel(this)),
      m_pTitleLabel(new QLabel(this)),
      m_pCloseBtn(new QPushButton(this)),
      m_pLayout(new QHBoxLayout(this))
{
    m_pIconLabel->setObjectName("m_pIconLabel");
    m_pIconLabel->setFixedSize(32, 32);
    m_pIconLabel->setPixmap(QPixmap(":/Uninstall/Images/icon.png")
                                .scaled(32, 32, Qt::KeepAspectRatio, Qt::FastTransformation));
    m_pIconLabel->hide();

    m_pCloseBtn->setObjectName("m_pCloseBtn");
    m_pCloseBtn->setFixedSize(24, 24);
    m_pCloseBtn->setStyleSheet(
        "background:transparent; border:none; border-image:url(:/Uninstall/Images/common_close.svg);");

    m_pTitleLabel->setObjectName("m_pTitleLabel");
    m_pTitleLabel->setText(tr("DRAVTool"));
    m_pTitleLabel->setStyleSheet("font-size: 16px; color: #FFFFFF; letter-spacing: -0.39px; font-weight: bold ");

    connect(m_pCloseBtn, &QPushButton::clicked, this, &CustomTitleWidget::signalClose);

    m_pLayout->addWidget(m_pIconLabel);
    m_pLayout->addWidget(m_pTitleLabel);
    m_pLayout->addWidget(m_pCloseBtn);
    m_pLayout->setContentsMargins(20, 16, 16, 0);
}

}  // namespace appinstaller
