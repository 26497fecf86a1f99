// Start-up outcomes through the start-up function: the dialog shown, the exit code, and an
// untouched tree after every refusal.
#include <gtest/gtest.h>

#include <QApplication>
#include <QFileInfo>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QStackedWidget>
#include <QTimer>

#include "completed_page.h"
#include "main_window.h"
#include "pavex/buttons.h"
#include "pavex/dialogs.h"
#include "process_check.h"
#include "startup.h"
#include "test_world.h"

namespace appinstaller {
namespace {

using test::ScriptedFiles;
using test::TestWorld;

class FixedPrivilege : public PrivilegeCheck {
public:
    explicit FixedPrivilege(bool admin) : m_admin(admin) {}
    bool IsAdministrator() const override { return m_admin; }

private:
    bool m_admin;
};

class FixedLister : public ProcessLister {
public:
    QList<ProcessEntry> processes;
    std::optional<QList<ProcessEntry>> Snapshot() const override { return processes; }
    qint64 OwnPid() const override { return 1; }
};

// Counts every look into the store, to show that a refused start reads nothing.
class CountingStore : public IniKeyStore {
public:
    using IniKeyStore::IniKeyStore;
    mutable int reads = 0;
    QStringList Keys(const QString& key) const override { return ++reads, IniKeyStore::Keys(key); }
    QVariant Value(const QString& key, const QString& name) const override
    {
        return ++reads, IniKeyStore::Value(key, name);
    }
};

enum class Answer { Confirm, Cancel };

struct Outcome {
    QString dialogClass;  // the modal widget that was shown first
    QString dialogText;
    int exitCode = 0;
};

// Runs start-up, answering the first modal dialog, and clicking Completed once the end page shows.
Outcome RunStartUp(const Services& services, Answer answer)
{
    Outcome outcome;
    test::OnNextModal([&](QWidget* modal) {
        outcome.dialogClass = modal->metaObject()->className();
        if (auto* box = qobject_cast<QMessageBox*>(modal)) {
            outcome.dialogText = box->text();
            box->button(QMessageBox::Ok)->click();
            return;
        }
        outcome.dialogText = modal->findChild<QLabel*>("pavexContentLabel")->text();
        const char* button = answer == Answer::Confirm ? "pavexConfirmBtn" : "pavexCancelBtn";
        modal->findChild<QPushButton*>(button)->click();
    });
    QTimer completer;
    QObject::connect(&completer, &QTimer::timeout, [] {
        for (QWidget* top : QApplication::topLevelWidgets()) {
            auto* window = qobject_cast<MainWindow*>(top);
            if (window && window->isVisible() && window->Stack()->currentWidget() == window->EndPage())
                window->EndPage()->Ui().m_pCompletedBtn->click();
        }
    });
    completer.start(20);
    outcome.exitCode = RunUninstaller(*qApp, services);
    return outcome;
}

struct StartCase {
    const char* name;
    bool admin;
    bool running;
    bool installed;
    Answer answer;
    const char* dialogClass;
    const char* dialogText;  // translation key, context QObject
    int exitCode;
    bool failingFolder = false;
};

class StartupTable : public ::testing::TestWithParam<StartCase> {};

TEST_P(StartupTable, Outcome)
{
    const StartCase& c = GetParam();
    TestWorld world;
    world.WriteConfig();
    world.Populate();
    if (c.installed)
        world.WriteKey();
    const auto before = world.Snapshot();

    FixedPrivilege privilege(c.admin);
    FixedLister lister;
    if (c.running)
        lister.processes = {{1, "ours"}, {4242, world.Names().programName}};
    CountingStore store(world.KeyRoot());
    ScriptedFiles files;
    if (c.failingFolder)
        files.failOn = [](const QString& path) { return path.endsWith("/inst"); };

    const Outcome outcome = RunStartUp({privilege, lister, store, files}, c.answer);
    EXPECT_EQ(outcome.dialogClass, c.dialogClass);
    EXPECT_EQ(outcome.dialogText, QObject::tr(c.dialogText));
    EXPECT_EQ(outcome.exitCode, c.exitCode);
    if (c.exitCode == -1) {
        EXPECT_EQ(world.Snapshot(), before) << "a refusal touches nothing";
    }
    if (!c.admin) {
        EXPECT_EQ(store.reads, 0) << "without rights nothing is read";
    }
    if (c.exitCode == 0) {
        EXPECT_FALSE(QFileInfo::exists(world.Install()));
        EXPECT_FALSE(QFileInfo::exists(world.KeyFile()));
    }
    if (c.exitCode == 1) {
        EXPECT_TRUE(QFileInfo::exists(world.Install()));
        EXPECT_TRUE(QFileInfo::exists(world.KeyFile())) << "the key stays with the folder";
    }
    world.ExpectCanariesIntact();
}

INSTANTIATE_TEST_SUITE_P(
    Startup, StartupTable,
    ::testing::Values(
        StartCase{"NotRoot", false, false, true, Answer::Confirm, "Pavex::CModalTipDialog",
                  "NeedsAdministratorRights", -1},
        StartCase{"ToolRunning", true, true, true, Answer::Confirm, "Pavex::CModalTipDialog",
                  "TheClientIsRunningPrnptTrdtT", -1},
        StartCase{"NotInstalled", true, false, false, Answer::Confirm, "QMessageBox", "ThisSoftwareIsNotCurmXqDCfI",
                  -1},
        StartCase{"Rejected", true, false, true, Answer::Cancel, "Pavex::CModalTipDialog",
                  "DetermineTheUninstalfYANYiIa", -1},
        StartCase{"Confirmed", true, false, true, Answer::Confirm, "Pavex::CModalTipDialog",
                  "DetermineTheUninstalfYANYiIa", 0},
        StartCase{"ConfirmedIncomplete", true, false, true, Answer::Confirm, "Pavex::CModalTipDialog",
                  "DetermineTheUninstalfYANYiIa", 1, true}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace appinstaller
