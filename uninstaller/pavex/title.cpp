#include "pavex/title.h"

#include <QMouseEvent>

namespace Pavex {

CFancyTitle::CFancyTitle(QWidget* parent) : QWidget(parent) {}

void CFancyTitle::mousePressEvent(QMouseEvent* e)
{
    if (e->button() == Qt::LeftButton) {
        m_dragging = true;
        m_grabOffset = e->globalPos() - window()->frameGeometry().topLeft();
        e->accept();
        return;
    }
    QWidget::mousePressEvent(e);
}

void CFancyTitle::mouseMoveEvent(QMouseEvent* e)
{
    if (m_dragging && (e->buttons() & Qt::LeftButton) && !window()->isMaximized()) {
        window()->move(e->globalPos() - m_grabOffset);
        e->accept();
        return;
    }
    QWidget::mouseMoveEvent(e);
}

void CFancyTitle::mouseReleaseEvent(QMouseEvent* e)
{
    if (e->button() == Qt::LeftButton)
        m_dragging = false;
    QWidget::mouseReleaseEvent(e);
}

void CFancyTitle::mouseDoubleClickEvent(QMouseEvent* e)
{
    QWidget* w = window();
    if (e->button() == Qt::LeftButton && w->minimumSize() != w->maximumSize()) {
        w->isMaximized() ? w->showNormal() : w->showMaximized();
        e->accept();
        return;
    }
    QWidget::mouseDoubleClickEvent(e);
}

}  // namespace Pavex
