#pragma once
// Pavex push buttons. The look comes from the library's style sheet; the buttons only keep the
// "hovered" and "pressed" properties current so that the sheet can follow them.
#include <QPushButton>

namespace Pavex {

class CPushButton : public QPushButton {
    Q_OBJECT
public:
    explicit CPushButton(QWidget* parent = nullptr);

protected:
    bool event(QEvent* e) override;
    void enterEvent(QEvent* e) override;
    void leaveEvent(QEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* e) override;

private:
    void setState(const char* name, bool on);
};

// The primary action (filled).
class CCommandButton : public CPushButton {
    Q_OBJECT
public:
    explicit CCommandButton(QWidget* parent = nullptr) : CPushButton(parent) {}
};

// The secondary action (outlined).
class CSecondCommandButton : public CPushButton {
    Q_OBJECT
public:
    explicit CSecondCommandButton(QWidget* parent = nullptr) : CPushButton(parent) {}
};

}  // namespace Pavex
