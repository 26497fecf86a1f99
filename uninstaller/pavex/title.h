#pragma once
// Pavex title frame for frameless windows: dragging it moves the window.
#include <QPoint>
#include <QWidget>

namespace Pavex {

// Carried by widgets whose size the library may adapt to the screen; it holds nothing here.
class CWidgetSizeFactory {
public:
    virtual ~CWidgetSizeFactory() = default;
};

class CFancyTitle : public QWidget {
    Q_OBJECT
public:
    explicit CFancyTitle(QWidget* parent = nullptr);

protected:
    void mousePressEvent(QMouseEvent* e) override;
    void mouseMoveEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    // Toggles the window between maximised and normal (a fixed-size window stays as it is).
    void mouseDoubleClickEvent(QMouseEvent* e) override;

private:
    bool m_dragging = false;
    QPoint m_grabOffset;  // press point relative to the window's top-left corner
};

}  // namespace Pavex
