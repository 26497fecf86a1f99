// The main window and its two pages: sizes, progress drawing, page flow, closing, and the styles as
// they come out in pixels.
#include <gtest/gtest.h>

#include <QFrame>
#include <QImageReader>
#include <QLabel>
#include <QPushButton>
#include <QSemaphore>
#include <QSignalSpy>
#include <QStackedWidget>
#include <QTest>

#include "completed_page.h"
#include "install_process.h"
#include "installing_page.h"
#include "main_window.h"
#include "pavex/buttons.h"
#include "test_world.h"
#include "title_widget.h"
#include "upper_widget.h"

namespace appinstaller {
namespace {

using test::ScriptedFiles;
using test::TestWorld;

void SaveGrab(QWidget* widget, const QString& name)
{
    EXPECT_TRUE(widget->grab().save(test::ArtifactDir() + "/" + name + ".png"));
}

bool Near(QRgb actual, QColor expected, int tolerance = 8)
{
    return std::abs(qRed(actual) - expected.red()) <= tolerance &&
           std::abs(qGreen(actual) - expected.green()) <= tolerance &&
           std::abs(qBlue(actual) - expected.blue()) <= tolerance;
}

template <class Page>
void ExpectPageParts(Page* page)
{
    EXPECT_EQ(page->size(), QSize(720, 480));
    EXPECT_EQ(page->Ui().m_pUpperWidget->height(), 320);
    EXPECT_EQ(page->Ui().m_pBottomWidget->height(), 160);
    EXPECT_EQ(page->Ui().m_pUpperWidget->TitleWidget()->height(), 60);
    auto* icon = page->Ui().m_pUpperWidget->TitleWidget()->template findChild<QLabel*>("m_pIconLabel");
    ASSERT_NE(icon, nullptr);
    EXPECT_TRUE(icon->isHidden());
}

TEST(Pages, Sizes)
{
    MainWindow window;
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    EXPECT_EQ(window.size(), QSize(744, 504));
    EXPECT_EQ(window.Stack()->height(), 480);
    ExpectPageParts(window.ProgressPage());
    window.Stack()->setCurrentWidget(window.EndPage());
    ExpectPageParts(window.EndPage());
    EXPECT_EQ(window.ProgressPage()->Ui().m_pWidgetProcessBar->size(), QSize(648, 16));
}

TEST(Pages, FillWidths)
{
    MainWindow window;
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    InstallingPage* page = window.ProgressPage();
    const QPair<int, int> rows[] = {{0, 0}, {30, 192}, {60, 385}, {100, 642}};
    for (const auto& row : rows) {
        page->onProcessInfo(row.first, "step");
        EXPECT_EQ(page->Ui().frame->width(), row.second) << row.first;
        EXPECT_EQ(page->Ui().m_pInstallProgressLabel->text(), QString::number(row.first) + "%");
        EXPECT_EQ(page->Ui().m_pInstallingLabel->text(), "step");
    }
}

TEST(Pages, SvgPluginIsPresent)
{
    EXPECT_TRUE(QImageReader::supportedImageFormats().contains("svg"));
    EXPECT_FALSE(QImage(":/Uninstall/Images/common_close.svg").isNull());
    EXPECT_FALSE(QImage(":/Uninstall/Images/common_feedback_success_lg.svg").isNull());
}

TEST(Pages, StylesInPixels)
{
    MainWindow window;
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    InstallingPage* progress = window.ProgressPage();
    progress->onProcessInfo(60, QObject::tr("ClearTheRegistryeuyqTkYHjj"));

    const QImage bottom = progress->Ui().m_pBottomWidget->grab().toImage();
    EXPECT_TRUE(Near(bottom.pixel(20, 120), Qt::white));
    const QImage fill = progress->Ui().frame->grab().toImage();
    EXPECT_TRUE(Near(fill.pixel(fill.width() / 2, fill.height() / 2), Qt::red));

    // The background image fills the upper part pixel for pixel below the title bar.
    const QImage upper = progress->Ui().m_pUpperWidget->grab().toImage();
    const QImage background(":/Uninstall/Images/Background.png");
    for (const QPoint p : {QPoint(100, 250), QPoint(600, 250), QPoint(360, 100)})
        EXPECT_TRUE(Near(upper.pixel(p), background.pixel(p), 12)) << p.x() << "," << p.y();

    window.Stack()->setCurrentWidget(window.EndPage());
    const QImage label = window.EndPage()->Ui().m_pInstallInfoLabel->grab().toImage();
    bool green = false;
    for (int y = 0; y < label.height() && !green; ++y) {
        for (int x = 0; x < label.width() && !green; ++x)
            green = Near(label.pixel(x, y), QColor("#02BF0F"), 24);
    }
    EXPECT_TRUE(green);
    const QImage icon = window.EndPage()->Ui().m_pIconToolBtn->grab().toImage();
    EXPECT_TRUE(Near(icon.pixel(4, 16), QColor("#02BF0F"), 24)) << "success icon drawn";

    SaveGrab(progress, "progress-page-60");
    SaveGrab(window.EndPage(), "end-page");
}

// A world whose folder removal waits at a gate, so that the worker can be held while it runs.
class GatedRun : public ::testing::Test {
protected:
    void SetUp() override
    {
        world.WriteConfig();
        world.Populate();
        world.WriteKey();
        files.beforeRemoveTree = [this] {
            entered.release();
            gate.tryAcquire(1, 20000);
        };
        InstallProcessMgr::GetInstance()->SetFileOperations(&files);
    }

    // Shows the window, starts the uninstall with the gate open and waits for the end page.
    static bool RunToEndPage(MainWindow& window)
    {
        window.show();
        if (!QTest::qWaitForWindowExposed(&window))
            return false;
        QSignalSpy finished(window.ProgressPage(), &InstallingPage::signalunInstallFinished);
        window.onUninstall();
        return finished.wait(10000) && window.Stack()->currentWidget() == window.EndPage();
    }

    TestWorld world;
    ScriptedFiles files;
    QSemaphore entered, gate;
};

TEST_F(GatedRun, WindowRefusesToCloseWhileTheWorkerRuns)
{
    MainWindow window;
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    InstallingPage* progress = window.ProgressPage();
    QSignalSpy finished(progress, &InstallingPage::signalunInstallFinished);
    window.onUninstall();
    EXPECT_TRUE(progress->Ui().m_pCancelBtn->isHidden());
    ASSERT_TRUE(entered.tryAcquire(1, 10000));

    EXPECT_FALSE(window.close());
    auto* titleClose = progress->Ui().m_pUpperWidget->TitleWidget()->findChild<QPushButton*>("m_pCloseBtn");
    QTest::mouseClick(titleClose, Qt::LeftButton);
    EXPECT_TRUE(window.isVisible());
    EXPECT_TRUE(progress->IsUnInstalling());

    gate.release(16);  // the installation and both menu folders pass the gate
    ASSERT_TRUE(finished.wait(10000));
    EXPECT_EQ(window.Stack()->currentWidget(), window.EndPage());
    EXPECT_EQ(window.EndPage()->Ui().m_pInstallInfoLabel->text(), QCoreApplication::translate("UnInstallCompletedUI", "Uninstalled"));
    auto* endClose = window.EndPage()->Ui().m_pUpperWidget->TitleWidget()->findChild<QPushButton*>("m_pCloseBtn");
    QTest::mouseClick(endClose, Qt::LeftButton);
    EXPECT_FALSE(window.isVisible());
    world.ExpectCanariesIntact();
}

TEST_F(GatedRun, CompletedClosesTheWindow)
{
    gate.release(16);
    MainWindow window;
    ASSERT_TRUE(RunToEndPage(window));
    QTest::mouseClick(window.EndPage()->Ui().m_pCompletedBtn, Qt::LeftButton);
    EXPECT_FALSE(window.isVisible());
}

TEST_F(GatedRun, IncompleteEndPage)
{
    gate.release(16);
    files.failOn = [](const QString& path) { return path.endsWith("/inst"); };
    MainWindow window;
    ASSERT_TRUE(RunToEndPage(window));
    const QString text = window.EndPage()->Ui().m_pInstallInfoLabel->text();
    EXPECT_NE(text, QCoreApplication::translate("UnInstallCompletedUI", "Uninstalled"));
    EXPECT_TRUE(text.contains(QObject::tr("StepInstallFolder"))) << text.toStdString();
    EXPECT_TRUE(text.contains(QObject::tr("StepUninstallKey"))) << "the kept key is named";
    const QImage icon = window.EndPage()->Ui().m_pIconToolBtn->grab().toImage();
    EXPECT_TRUE(Near(icon.pixel(16, 27), QColor("#E6A23C"), 24)) << "warning icon drawn";
    SaveGrab(window.EndPage(), "end-page-incomplete");
}

}  // namespace
}  // namespace appinstaller
