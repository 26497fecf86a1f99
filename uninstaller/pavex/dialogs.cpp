#include "pavex/dialogs.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QMutex>
#include <QMutexLocker>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

#include "pavex/buttons.h"
#include "pavex/title.h"

namespace Pavex {

namespace {

QMutex g_constMutex;
QStringList g_constStrings{"OK", "Cancel", "Close", "Success", "Error", "Warning", "Message"};

}  // namespace

CBaseDialogWithBottom::CBaseDialogWithBottom(QWidget* parent) : QDialog(parent)
{
    setObjectName("pavexTipDialog");
    setWindowFlags(windowFlags() | Qt::FramelessWindowHint);
    setModal(true);

    m_title = new CFancyTitle(this);
    m_title->setObjectName("pavexTitle");
    m_title->setFixedHeight(40);
    m_caption = new QLabel(m_title);
    m_caption->setObjectName("pavexCaptionLabel");
    auto* close = new QPushButton(m_title);
    close->setObjectName("pavexCloseBtn");
    close->setFixedSize(24, 24);
    close->setText(QStringLiteral("\u00D7"));
    close->setToolTip(CModalTipDialog::constString(CModalTipDialog::StrClose));
    close->setFocusPolicy(Qt::NoFocus);
    connect(close, &QPushButton::clicked, this, &QDialog::reject);
    auto* titleRow = new QHBoxLayout(m_title);
    titleRow->setContentsMargins(16, 0, 8, 0);
    titleRow->addWidget(m_caption);
    titleRow->addStretch();
    titleRow->addWidget(close);

    m_content = new QVBoxLayout;
    m_content->setContentsMargins(24, 12, 24, 12);

    m_confirm = new CCommandButton(this);
    m_confirm->setObjectName("pavexConfirmBtn");
    m_confirm->setMinimumSize(88, 32);
    m_confirm->setText(CModalTipDialog::constString(CModalTipDialog::StrOK));
    m_confirm->setDefault(true);
    m_cancel = new CSecondCommandButton(this);
    m_cancel->setObjectName("pavexCancelBtn");
    m_cancel->setMinimumSize(88, 32);
    m_cancel->setText(CModalTipDialog::constString(CModalTipDialog::StrCancel));
    m_cancel->setAutoDefault(false);
    connect(m_confirm, &QPushButton::clicked, this, &QDialog::accept);
    connect(m_cancel, &QPushButton::clicked, this, &QDialog::reject);
    auto* bottom = new QHBoxLayout;
    bottom->setContentsMargins(24, 0, 24, 20);
    bottom->setSpacing(12);
    bottom->addStretch();
    bottom->addWidget(m_confirm);
    bottom->addWidget(m_cancel);

    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->setSpacing(0);
    outer->addWidget(m_title);
    outer->addLayout(m_content, 1);
    outer->addLayout(bottom);
    m_confirm->setFocus();
}

void CBaseDialogWithBottom::SetYesAndNoText(const QString& confirm, const QString& cancel)
{
    m_confirm->setText(confirm);
    m_cancel->setText(cancel);
}

void CBaseDialogWithBottom::setCaption(const QString& caption)
{
    m_caption->setText(caption);
    setWindowTitle(caption);
}

CModalTipDialog::CModalTipDialog(QWidget* parent) : CBaseDialogWithBottom(parent)
{
    m_icon = new QLabel(this);
    m_icon->setObjectName("pavexIconLabel");
    m_icon->setFixedSize(32, 32);
    m_text = new QLabel(this);
    m_text->setObjectName("pavexContentLabel");
    m_text->setWordWrap(true);
    m_text->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    auto* row = new QHBoxLayout;
    row->setSpacing(12);
    row->addWidget(m_icon, 0, Qt::AlignTop);
    row->addWidget(m_text, 1);
    m_text->setContentsMargins(0, 6, 0, 0);
    contentLayout()->addLayout(row);
    setDialogModel(ModelMessage);
    setDialogSize(SizeSmall);
}

void CModalTipDialog::setDialogModel(int model)
{
    QStyle::StandardPixmap icon = QStyle::SP_MessageBoxInformation;
    ConstString caption = StrMessage;
    switch (model) {
    case ModelSuccess: caption = StrSuccess; break;
    case ModelError: caption = StrError; icon = QStyle::SP_MessageBoxCritical; break;
    case ModelConfirm: icon = QStyle::SP_MessageBoxQuestion; break;
    case ModelWarning: caption = StrWarning; icon = QStyle::SP_MessageBoxWarning; break;
    default: break;
    }
    setCaption(constString(caption));
    m_icon->setPixmap(style()->standardIcon(icon).pixmap(32, 32));
    GetCancelBtn()->setVisible(model == ModelConfirm);
    if (model != ModelConfirm)
        GetConfirmBtn()->setText(constString(StrOK));
}

void CModalTipDialog::setContentText(const QString& text)
{
    m_text->setText(text);
}

void CModalTipDialog::setDialogSize(int size)
{
    if (size == SizeLarge)
        setFixedSize(480, 240);
    else
        setFixedSize(400, 200);
}

void CModalTipDialog::setConstStrings(const QStringList& texts)
{
    QMutexLocker lock(&g_constMutex);
    for (int i = 0; i < StrCount && i < texts.size(); ++i)
        g_constStrings[i] = texts[i];
}

QString CModalTipDialog::constString(ConstString which)
{
    QMutexLocker lock(&g_constMutex);
    return g_constStrings.value(which);
}

int CModalTipDialog::ShowMessageWarn(const QString& text, int size, QWidget* parent)
{
    return ShowModalTipDialog(text, ModelWarning, size, parent);
}

int CModalTipDialog::ShowModalTipDialog(const QString& text, int model, int size, QWidget* parent)
{
    CModalTipDialog dialog(parent);
    dialog.setDialogModel(model);
    dialog.setContentText(text);
    dialog.setDialogSize(size);
    return dialog.exec();
}

}  // namespace Pavex
