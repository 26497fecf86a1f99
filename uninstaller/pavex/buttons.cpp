#include "pavex/buttons.h"

#include <QEvent>
#include <QStyle>
#include <QVariant>

namespace Pavex {

CPushButton::CPushButton(QWidget* parent) : QPushButton(parent)
{
    setCursor(Qt::PointingHandCursor);
    installEventFilter(this);
}

void CPushButton::setState(const char* name, bool on)
{
    if (property(name).toBool() == on)
        return;
    setProperty(name, on);
    // Dynamic properties only reach the style sheet after a re-polish.
    style()->unpolish(this);
    style()->polish(this);
    update();
}

bool CPushButton::event(QEvent* e)
{
    if (e->type() == QEvent::EnabledChange && !isEnabled()) {
        setState("hovered", false);
        setState("pressed", false);
    }
    return QPushButton::event(e);
}

void CPushButton::enterEvent(QEvent* e)
{
    setState("hovered", true);
    QPushButton::enterEvent(e);
}

void CPushButton::leaveEvent(QEvent* e)
{
    setState("hovered", false);
    QPushButton::leaveEvent(e);
}

bool CPushButton::eventFilter(QObject* watched, QEvent* e)
{
    if (watched == this) {
        if (e->type() == QEvent::MouseButtonPress)
            setState("pressed", true);
        else if (e->type() == QEvent::MouseButtonRelease)
            setState("pressed", false);
    }
    return QPushButton::eventFilter(watched, e);
}

}  // namespace Pavex
