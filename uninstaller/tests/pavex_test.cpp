// Pavex: dialog results and texts, button restyling, resource registration and the title drag.
#include <gtest/gtest.h>

#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QMouseEvent>
#include <QProcess>
#include <QPushButton>
#include <QResource>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include "pavex/pavex.h"
#include "test_world.h"

namespace Pavex {
namespace {

void Write(const QString& path, const QByteArray& data)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(data);
}

enum class Act { Confirm, Cancel, CloseButton, Escape, Return };

int ExecAnd(CModalTipDialog& dialog, Act act)
{
    QTimer::singleShot(0, &dialog, [&dialog, act] {
        switch (act) {
        case Act::Confirm: QTest::mouseClick(dialog.GetConfirmBtn(), Qt::LeftButton); break;
        case Act::Cancel: QTest::mouseClick(dialog.GetCancelBtn(), Qt::LeftButton); break;
        case Act::CloseButton: dialog.findChild<QPushButton*>("pavexCloseBtn")->click(); break;
        case Act::Escape: QTest::keyClick(&dialog, Qt::Key_Escape); break;
        case Act::Return: QTest::keyClick(&dialog, Qt::Key_Return); break;
        }
    });
    return dialog.exec();
}

TEST(Pavex, DialogResults)
{
    const QPair<Act, bool> rows[] = {{Act::Confirm, true},      {Act::Cancel, false}, {Act::CloseButton, false},
                                     {Act::Escape, false},       {Act::Return, true}};
    for (const auto& row : rows) {
        CModalTipDialog dialog;
        dialog.setDialogModel(CModalTipDialog::ModelConfirm);
        dialog.setDialogSize(CModalTipDialog::SizeLarge);
        dialog.SetYesAndNoText("Yes", "No");
        EXPECT_TRUE(dialog.GetConfirmBtn()->isDefault());
        EXPECT_EQ(ExecAnd(dialog, row.first) != 0, row.second) << int(row.first);
        EXPECT_EQ(dialog.size(), QSize(480, 240));
        EXPECT_EQ(dialog.GetConfirmBtn()->text(), "Yes");
        EXPECT_EQ(dialog.GetCancelBtn()->text(), "No");
    }
}

TEST(Pavex, ConstStringsReachTheWarning)
{
    CModalTipDialog::setConstStrings({"Okay", "Nope", "Shut", "Yay", "Oops", "Careful", "Note"});
    QString caption, button, text, closeTip;
    bool cancelShown = true;
    appinstaller::test::OnNextModal([&](QWidget* modal) {
        caption = modal->windowTitle();
        button = modal->findChild<QPushButton*>("pavexConfirmBtn")->text();
        cancelShown = modal->findChild<QPushButton*>("pavexCancelBtn")->isVisible();
        closeTip = modal->findChild<QPushButton*>("pavexCloseBtn")->toolTip();
        text = modal->findChild<QLabel*>("pavexContentLabel")->text();
        EXPECT_TRUE(modal->grab().save(appinstaller::test::ArtifactDir() + "/pavex-warning.png"));
        modal->findChild<QPushButton*>("pavexConfirmBtn")->click();
    });
    CModalTipDialog::ShowMessageWarn("Watch out", CModalTipDialog::SizeSmall, nullptr);
    CModalTipDialog::setConstStrings({"OK", "Cancel", "Close", "Success", "Error", "Warning", "Message"});
    EXPECT_EQ(caption, "Careful");
    EXPECT_EQ(button, "Okay");
    EXPECT_EQ(closeTip, "Shut");
    EXPECT_EQ(text, "Watch out");
    EXPECT_FALSE(cancelShown);
}

TEST(Pavex, ConfirmButtonCanBeRestyled)
{
    CModalTipDialog dialog;
    dialog.setDialogModel(CModalTipDialog::ModelConfirm);
    dialog.GetConfirmBtn()->setStyleSheet("QPushButton {background-color: #19549d;border: 2px solid #19549d;}");
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
    const QImage button = dialog.GetConfirmBtn()->grab().toImage();
    EXPECT_EQ(QColor(button.pixel(4, button.height() / 2)), QColor("#19549d"));
    EXPECT_TRUE(dialog.grab().save(appinstaller::test::ArtifactDir() + "/pavex-confirm.png"));
}

TEST(Pavex, InitResourceJoinsTheSheetsOfTheResourceFile)
{
    QString qss = "stale";
    EXPECT_FALSE(InitResource("/nonexistent/guiresource.rcc", qss, false));
    EXPECT_EQ(qss, QString());

    const QString shipped = UNINSTALLER_BUILD_DIR "/rcc/guiresource.rcc";
    ASSERT_TRUE(InitResource(shipped, qss, false));
    EXPECT_TRUE(qss.contains("Pavex--CCommandButton"));
    ASSERT_TRUE(QResource::unregisterResource(shipped));

    QTemporaryDir dir;
    QDir(dir.path()).mkpath("Qss");
    Write(dir.filePath("Qss/b.qss"), "B {}");
    Write(dir.filePath("Qss/a.qss"), "A {}");
    Write(dir.filePath("Qss/notes.txt"), "not a sheet");
    Write(dir.filePath("test.qrc"), "<RCC><qresource prefix=\"/Pavex\"><file>Qss/b.qss</file><file>Qss/a.qss</file>"
                                    "<file>Qss/notes.txt</file></qresource></RCC>");
    const QString rcc = dir.filePath("test.rcc");
    ASSERT_EQ(QProcess::execute("rcc", {"-binary", dir.filePath("test.qrc"), "-o", rcc}), 0);
    ASSERT_TRUE(InitResource(rcc, qss, false));
    EXPECT_EQ(qss, "A {}\nB {}");
    QResource::unregisterResource(rcc);
}

TEST(Pavex, ReadAllKeepsTheListOrder)
{
    QTemporaryDir dir;
    Write(dir.filePath("one.qss"), "one");
    Write(dir.filePath("two.qss"), "two");
    EXPECT_EQ(CFile::ReadAll({"two.qss", "missing.qss", "one.qss"}, dir.path() + "/"), "two\none");
    EXPECT_EQ(CFile::ReadAll({}, dir.path() + "/"), QString());
}

TEST(Pavex, TitleDragMovesTheWindow)
{
    QWidget window(nullptr, Qt::FramelessWindowHint);
    window.resize(300, 200);
    auto* title = new CFancyTitle(&window);
    title->setGeometry(0, 0, 300, 40);
    window.move(100, 100);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    const QPoint start = window.pos();
    const QPoint grip(20, 20);
    QMouseEvent press(QEvent::MouseButtonPress, grip, title->mapToGlobal(grip), Qt::LeftButton, Qt::LeftButton,
                      Qt::NoModifier);
    QApplication::sendEvent(title, &press);
    const QPoint to = title->mapToGlobal(grip) + QPoint(50, 30);
    QMouseEvent move(QEvent::MouseMove, title->mapFromGlobal(to), to, Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(title, &move);
    QMouseEvent release(QEvent::MouseButtonRelease, title->mapFromGlobal(to), to, Qt::LeftButton, Qt::NoButton,
                        Qt::NoModifier);
    QApplication::sendEvent(title, &release);
    EXPECT_EQ(window.pos(), start + QPoint(50, 30));

    // Moving without a pressed button moves nothing.
    QMouseEvent hover(QEvent::MouseMove, grip, title->mapToGlobal(grip) + QPoint(80, 80), Qt::NoButton,
                      Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(title, &hover);
    EXPECT_EQ(window.pos(), start + QPoint(50, 30));
}

}  // namespace
}  // namespace Pavex
