// The uninstall sequence on a throw-away world: what goes, what stays, and every refusal.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QTest>
#include <QThread>

#include "app_config.h"
#include "install_process.h"
#include "registry.h"
#include "test_world.h"

namespace appinstaller {
namespace {

using test::ProductNames;
using test::ScriptedFiles;
using test::TestWorld;

// Checks the listed targets against the world's root; the sequence runs only when they pass.
UninstallResult RunChecked(TestWorld& world)
{
    const UninstallTargets targets = InstallProcessMgr::GetInstance()->ListTargets();
    QStringList acting = targets.shortcutFiles + targets.menuFolders + targets.menuLinks;
    if (targets.folder.state == FolderTarget::Remove)
        acting << targets.folder.path;
    for (const QString& path : acting) {
        if (!world.Inside(path)) {
            ADD_FAILURE() << "target outside the world: " << path.toStdString();
            return {};
        }
    }
    InstallProcessMgr::GetInstance()->UnInstall();
    return InstallProcessMgr::GetInstance()->LastResult();
}

// Entries that disappeared or changed between two snapshots.
QStringList Changed(const QMap<QString, QString>& before, const QMap<QString, QString>& after)
{
    QStringList changed;
    for (auto it = before.cbegin(); it != before.cend(); ++it) {
        if (after.value(it.key()) != it.value())
            changed << it.key();
    }
    for (auto it = after.cbegin(); it != after.cend(); ++it) {
        if (!before.contains(it.key()))
            changed << it.key();
    }
    return changed;
}

TEST(Sequence, FullRunRemovesTheProductAndKeepsTheRest)
{
    TestWorld world;
    world.WriteConfig();
    world.Populate();
    world.WriteKey();
    const auto before = world.Snapshot();

    struct Report {
        int percent;
        QString text;
        bool onGuiThread;
    };
    QList<Report> reports;
    QObject receiver;
    QObject::connect(InstallProcessMgr::GetInstance(), &InstallProcessMgr::signalProcess, &receiver,
                     [&](int percent, const QString& text) {
                         reports.append({percent, text, QThread::currentThread() == qApp->thread()});
                     });
    UnInstallThread worker;
    worker.start();
    ASSERT_TRUE(worker.wait(10000));
    QCoreApplication::processEvents();  // the queued reports

    ASSERT_EQ(reports.size(), 4);
    const QList<QPair<int, const char*>> expected{{0, "BeganToUnloadWkJrSaJaAq"},
                                                  {30, "DeleteShortcutULXVgdVTs"},
                                                  {60, "ClearTheRegistryeuyqTkYHjj"},
                                                  {100, "Uninstalled"}};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(reports[i].percent, expected[i].first);
        EXPECT_EQ(reports[i].text, QObject::tr(expected[i].second));
        EXPECT_TRUE(reports[i].onGuiThread);
    }
    EXPECT_TRUE(InstallProcessMgr::GetInstance()->LastResult().Complete());

    QStringList expectedGone{"/inst"};
    for (const QString& name : {world.Names().en, world.Names().ch, QString("ZEVA")})
        expectedGone << "/home/Desktop/" + name + ".desktop" << "/home/Desktop/" + name + ".lnk";
    for (const QString& name : {world.Names().en, world.Names().ch})
        expectedGone << "/data/applications/" + name;
    expectedGone << world.KeyFile().mid(world.Root().size());
    for (const QString& path : Changed(before, world.Snapshot())) {
        EXPECT_TRUE(std::any_of(expectedGone.begin(), expectedGone.end(),
                                [&](const QString& gone) { return path == gone || path.startsWith(gone + "/"); }))
            << "changed outside the targets: " << path.toStdString();
    }
    for (const QString& gone : expectedGone)
        EXPECT_FALSE(QFileInfo::exists(world.Root() + gone)) << gone.toStdString();
    world.ExpectCanariesIntact();
}

struct GuardCase {
    const char* name;
    ProductNames names;
    QString location;  // "%T" stands for the world's root; null: no InstallLocation value
    bool folderDone, shortcutsDone;
    QStringList mayChange;  // below the root; the product's own shortcuts may always go
    void (*prepare)(TestWorld&) = nullptr;
};

ProductNames Named(const QString& en, const QString& ch)
{
    ProductNames names;
    names.en = en;
    names.ch = ch;
    return names;
}

class GuardTable : public ::testing::TestWithParam<GuardCase> {};

TEST_P(GuardTable, ActsOnlyOnTheNamedTargets)
{
    const GuardCase& c = GetParam();
    TestWorld world(c.names);
    world.WriteConfig();
    world.Populate();
    if (c.location.isNull()) {
        world.WriteKey({"DisplayName=Tool"});
    } else {
        // Written through QSettings so that quotes and commas arrive as the text itself.
        QDir().mkpath(QFileInfo(world.KeyFile()).path());
        QSettings key(world.KeyFile(), QSettings::IniFormat);
        key.setValue("InstallLocation", QString(c.location).replace("%T", world.Root()));
    }
    if (c.prepare)
        c.prepare(world);
    const auto before = world.Snapshot();
    const UninstallResult result = RunChecked(world);
    EXPECT_EQ(result.folderDone, c.folderDone);
    EXPECT_EQ(result.shortcutsDone, c.shortcutsDone);
    EXPECT_EQ(QFileInfo::exists(world.KeyFile()), !c.folderDone) << "the key is kept exactly when the folder stays";

    QStringList allowed = c.mayChange;
    allowed << world.KeyFile().mid(world.Root().size());
    for (const QString& name : {c.names.en, c.names.ch, QString("ZEVA")}) {
        if (!name.isEmpty() && !name.contains('/') && name != "..") {
            allowed << "/home/Desktop/" + name + ".desktop" << "/home/Desktop/" + name + ".lnk"
                    << "/data/applications/" + name;
        }
    }
    for (const QString& path : Changed(before, world.Snapshot())) {
        EXPECT_TRUE(std::any_of(allowed.begin(), allowed.end(),
                                [&](const QString& a) { return path == a || path.startsWith(a + "/"); }))
            << "changed outside the targets: " << path.toStdString();
    }
    world.ExpectCanariesIntact();
}

void LinkInstall(TestWorld& world)
{
    QFile::link(world.Install(), world.Root() + "/instlink");
}

// Links in the middle of a location: to "/", and to the world's root, the parent of the home folder
// and of the key store; a link to itself cannot be resolved.
void LinkMiddles(TestWorld& world)
{
    QFile::link("/", world.Root() + "/fsroot");
    QFile::link(world.Root(), world.Root() + "/up");
    QFile::link(world.Root() + "/loop", world.Root() + "/loop");
}

// Unquoted commas, as a hand-written key may hold them.
void CommaKey(TestWorld& world)
{
    world.WriteKey({"InstallLocation=" + world.Install() + "," + world.Root() + "/sibling"});
}

void LinkMenuFolder(TestWorld& world)
{
    QDir(world.Applications() + "/" + world.Names().en).removeRecursively();
    QFile::link(world.Root() + "/sibling", world.Applications() + "/" + world.Names().en);
}

INSTANTIATE_TEST_SUITE_P(
    Sequence, GuardTable,
    ::testing::Values(
        GuardCase{"Plain", {}, "%T/inst", true, true, {"/inst"}},
        GuardCase{"QuotedLocation", {}, "\"%T/inst\"", true, true, {"/inst"}},
        GuardCase{"UncleanPath", {}, "%T/sibling/../inst/", true, true, {"/inst"}},
        GuardCase{"AlreadyGone", {}, "%T/gone", true, true, {}},
        GuardCase{"NoLocation", {}, QString(), false, true, {}},
        GuardCase{"EmptyLocation", {}, "", false, true, {}},
        GuardCase{"CommaList", {}, QString(), false, true, {}, CommaKey},
        GuardCase{"Relative", {}, "inst", false, true, {}},
        GuardCase{"FileSystemRoot", {}, "/", false, true, {}},
        GuardCase{"TopLevel", {}, "/usr", false, true, {}},
        GuardCase{"SystemFolder", {}, "/usr/share", false, true, {}},
        GuardCase{"Home", {}, "%T/home", false, true, {}},
        GuardCase{"AncestorOfHome", {}, "%T", false, true, {}},
        GuardCase{"Desktop", {}, "%T/home/Desktop", false, true, {}},
        GuardCase{"ApplicationsFolder", {}, "%T/data/applications", false, true, {}},
        GuardCase{"DataHome", {}, "%T/data", false, true, {}},
        GuardCase{"KeyStoreRoot", {}, "%T/keys", false, true, {}},
        GuardCase{"InsideKeyStoreRootIsAllowed", {}, "%T/keys/HKEY_LOCAL_MACHINE/SOFTWARE/Wow6432Node/Microsoft/"
                  "Windows/CurrentVersion/Uninstall/nothing", true, true, {}},
        GuardCase{"LinkedLocation", {}, "%T/instlink", false, true, {}, LinkInstall},
        GuardCase{"DotDotHome", {}, "%T/inst/../home", false, true, {}},
        GuardCase{"LinkedMiddleToRoot", {}, "%T/fsroot/srv", false, true, {}, LinkMiddles},
        GuardCase{"LinkedMiddleToHome", {}, "%T/up/home", false, true, {}, LinkMiddles},
        GuardCase{"LinkedMiddleToKeyStore", {}, "%T/up/keys", false, true, {}, LinkMiddles},
        GuardCase{"LinkLoopInTheMiddle", {}, "%T/loop/inst", false, true, {}, LinkMiddles},
        GuardCase{"LinkedMiddleToAPlainFolder", {}, "%T/up/inst", true, true, {"/inst"}, LinkMiddles},
        GuardCase{"EmptyNamesSkippedSilently", Named("Vantor Tool", ""), "%T/inst", true, true, {"/inst"}},
        GuardCase{"DotDotName", Named("Vantor Tool", ".."), "%T/inst", true, false, {"/inst"}},
        GuardCase{"DotName", Named(".", "Vantor Tool CH"), "%T/inst", true, false, {"/inst"}},
        GuardCase{"SlashName", Named("../../sibling", "Vantor Tool CH"), "%T/inst", true, false, {"/inst"}},
        GuardCase{"BackslashName", Named("a\\b", "Vantor Tool CH"), "%T/inst", true, false, {"/inst"}},
        GuardCase{"LinkedMenuFolderLosesOnlyTheLink", {}, "%T/inst", true, true, {"/inst"}, LinkMenuFolder}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Sequence, LinkedMenuFolderKeepsItsTarget)
{
    TestWorld world;
    world.WriteConfig();
    world.Populate();
    world.WriteKey();
    LinkMenuFolder(world);
    RunChecked(world);
    EXPECT_FALSE(QFileInfo(world.Applications() + "/" + world.Names().en).isSymLink());
    EXPECT_TRUE(QFileInfo::exists(world.Root() + "/sibling/keep.txt"));
}

struct FailureCase {
    const char* name;
    const char* failingSuffix;  // the file operation fails on paths ending so
    bool folderDone, shortcutsDone, keyDone;
};

class InjectedFailures : public ::testing::TestWithParam<FailureCase> {};

TEST_P(InjectedFailures, MakeTheRunIncomplete)
{
    const FailureCase& c = GetParam();
    TestWorld world;
    world.WriteConfig();
    world.Populate();
    world.WriteKey();
    ScriptedFiles files;
    files.failOn = [&](const QString& path) { return path.endsWith(c.failingSuffix); };
    InstallProcessMgr::GetInstance()->SetFileOperations(&files);
    const UninstallResult result = RunChecked(world);
    EXPECT_EQ(result.folderDone, c.folderDone);
    EXPECT_EQ(result.shortcutsDone, c.shortcutsDone);
    EXPECT_EQ(result.keyDone, c.keyDone);
    EXPECT_FALSE(result.Complete());
    EXPECT_EQ(QFileInfo::exists(world.KeyFile()), !c.keyDone);
    world.ExpectCanariesIntact();
}

INSTANTIATE_TEST_SUITE_P(Sequence, InjectedFailures,
                         ::testing::Values(FailureCase{"FolderNotEmptied", "/inst", false, true, false},
                                           FailureCase{"ShortcutStays", "ZEVA.lnk", true, false, true},
                                           FailureCase{"MenuFolderStays", "Vantor Tool CH", true, false, true}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Sequence, NonAsciiProductName)
{
    ASSERT_EQ(QFile::encodeName(QString::fromUtf8("\xE5\xB7\xA5")), QByteArray("\xE5\xB7\xA5"))
        << "the tests run under a UTF-8 locale";
    TestWorld world(Named("Vantor Tool", QString::fromUtf8("\xE7\xBB\xB4\xE6\xA3\x95\xE5\xB7\xA5\xE5\x85\xB7")));
    world.WriteConfig();
    world.Populate();
    world.WriteKey();
    const QString menu = world.Applications() + "/" + world.Names().ch;
    ASSERT_TRUE(QFileInfo::exists(menu));
    EXPECT_TRUE(RunChecked(world).Complete());
    EXPECT_FALSE(QFileInfo::exists(menu));
    EXPECT_FALSE(QFileInfo::exists(world.Desktop() + "/" + world.Names().ch + ".desktop"));
    world.ExpectCanariesIntact();
}

}  // namespace
}  // namespace appinstaller
