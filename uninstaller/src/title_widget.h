#pragma once
// The title bar of the pages: hidden icon, product title and a close button, over a draggable frame.
#include "pavex/title.h"

class QHBoxLayout;
class QLabel;
class QPushButton;

namespace appinstaller {

class CustomTitleWidget : public Pavex::CFancyTitle, public Pavex::CWidgetSizeFactory {
    Q_OBJECT
public:
    explicit CustomTitleWidget(QWidget* parent = nullptr);

signals:
    void signalClose();

private:
    QLabel* m_pIconLabel;
    QLabel* m_pTitleLabel;
    QPushButton* m_pCloseBtn;
    QHBoxLayout* m_pLayout;
};

}  // namespace appinstaller
