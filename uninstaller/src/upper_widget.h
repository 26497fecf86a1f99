#pragma once
// The upper part of both pages: the background image with the title bar.
#include <QMargins>
#include <QWidget>

class QGridLayout;

namespace appinstaller {

class CustomTitleWidget;

struct UpperWidgeUI {
    QGridLayout* gridLayout;
    QWidget* m_pContainerWidget;
    QGridLayout* gridLayout_4;
    QWidget* m_pUpperWidget;
    QGridLayout* gridLayout_2;
    CustomTitleWidget* m_pTopTitleWidget;

    void setupUi(QWidget* upper);
};

class UpperWidget : public QWidget {
    Q_OBJECT
public:
    explicit UpperWidget(QWidget* parent = nullptr);
    CustomTitleWidget* TitleWidget() const { return m_ui.m_pTopTitleWidget; }

signals:
    void signalClose();

private:
    UpperWidgeUI m_ui;
};

// The two parts of a page inside its container grid: the upper widget (320 high) at (0, 0) and the
// white bottom widget (160 high) at (1, 0), whose grid layout gets the given margins.
struct PageParts {
    UpperWidget* upper;
    QWidget* bottom;
    QGridLayout* bottomGrid;
};
PageParts MakePageParts(QWidget* container, QGridLayout* containerGrid, QMargins bottomMargins);

}  // namespace appinstaller
