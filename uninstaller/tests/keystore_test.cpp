// The INI key store and the uninstall key on it: roots, hostile GUIDs, odd key files, clearing.
#include <gtest/gtest.h>

#include <QFile>
#include <QDir>
#include <QFileInfo>
#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <thread>

#include "app_config.h"
#include "install_process.h"
#include "key_store.h"
#include "registry.h"
#include "test_world.h"

namespace appinstaller {
namespace {

using test::ProductNames;
using test::TestWorld;

TEST(KeyStore, RootFollowsTheArchitecture)
{
    TestWorld world;
    RegistryMgr* registry = RegistryMgr::GetInstance();
    struct Row {
        const char* cpu;
        const char* file;
    };
    const Row rows[] = {
        {"x86_64", "/HKEY_LOCAL_MACHINE/SOFTWARE/Wow6432Node/Microsoft/Windows/CurrentVersion/Uninstall/{G}.ini"},
        {"ia64", "/HKEY_LOCAL_MACHINE/SOFTWARE/Wow6432Node/Microsoft/Windows/CurrentVersion/Uninstall/{G}.ini"},
        {"i386", "/HKEY_LOCAL_MACHINE/SOFTWARE/Microsoft/Windows/CurrentVersion/Uninstall/{G}.ini"},
        {"arm64", "/HKEY_LOCAL_MACHINE/SOFTWARE/Microsoft/Windows/CurrentVersion/Uninstall/{G}.ini"},
    };
    for (const Row& row : rows) {
        registry->SetArchitecture(RegistryMgr::ArchitectureOf(row.cpu));
        EXPECT_EQ(world.Keys().FileOf(registry->KeyPath("{G}")), world.KeyRoot() + row.file) << row.cpu;
    }
}

TEST(KeyStore, InstalledOnlyUnderTheRootOfTheArchitecture)
{
    TestWorld world;
    world.WriteConfig();
    world.WriteKey();
    RegistryMgr* registry = RegistryMgr::GetInstance();
    EXPECT_TRUE(registry->IsInstalled());
    EXPECT_EQ(registry->GetInstallLocation(), world.Install());
    registry->SetArchitecture(RegistryMgr::kArchIntel);
    EXPECT_FALSE(registry->IsInstalled());
    EXPECT_EQ(registry->GetInstallLocation(), QString());
}

TEST(KeyStore, DefaultRootComesFromTheEnvironment)
{
    TestWorld world;
    EXPECT_EQ(IniKeyStore::DefaultRoot(), world.KeyRoot());
    qunsetenv(IniKeyStore::kRootVariable);
    EXPECT_EQ(IniKeyStore::DefaultRoot(), QString(APPINSTALLER_KEYSTORE_ROOT_FOR_TESTS));
}

// A GUID that would leave the key's folder names no key: nothing is read, created or cleared.
TEST(KeyStore, HostileGuidsNameNoKey)
{
    for (const char* guid : {"", ".", "..", "a/b", "..\\..\\x", "../../../../keys-escape"}) {
        TestWorld world(ProductNames{guid});
        world.WriteConfig();
        // Keys that such GUIDs would reach if they were joined to the path.
        for (const char* path : {"/HKEY_LOCAL_MACHINE/SOFTWARE/Wow6432Node/Microsoft/Windows/CurrentVersion.ini",
                                 "/HKEY_LOCAL_MACHINE/SOFTWARE/Wow6432Node/Microsoft/Windows/CurrentVersion/"
                                 "Uninstall/a/b.ini"}) {
            QDir().mkpath(QFileInfo(world.KeyRoot() + path).path());
            QFile f(world.KeyRoot() + path);
            ASSERT_TRUE(f.open(QIODevice::WriteOnly));
            f.write("[General]\nInstallLocation=/\n");
        }
        const auto before = world.Snapshot();
        RegistryMgr* registry = RegistryMgr::GetInstance();
        EXPECT_FALSE(registry->IsInstalled()) << guid;
        EXPECT_EQ(registry->GetInstallLocation(), QString()) << guid;
        EXPECT_EQ(registry->GetValue(guid, "InstallLocation"), QString()) << guid;
        EXPECT_TRUE(registry->DeleteKey()) << guid;
        EXPECT_EQ(world.Snapshot(), before) << guid;
    }
}

struct KeyFileCase {
    const char* name;
    QByteArray content;  // null: no key file
    bool installed;
    QString location;    // "%I" stands for the installation folder
};

class KeyFileTable : public ::testing::TestWithParam<KeyFileCase> {};

TEST_P(KeyFileTable, Reads)
{
    const KeyFileCase& c = GetParam();
    TestWorld world;
    world.WriteConfig();
    if (!c.content.isNull()) {
        QDir().mkpath(QFileInfo(world.KeyFile()).path());
        QFile f(world.KeyFile());
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(QByteArray(c.content).replace("%I", world.Install().toUtf8()));
    }
    EXPECT_EQ(RegistryMgr::GetInstance()->IsInstalled(), c.installed);
    EXPECT_EQ(RegistryMgr::GetInstance()->GetInstallLocation(), QString(c.location).replace("%I", world.Install()));
}

INSTANTIATE_TEST_SUITE_P(
    KeyStore, KeyFileTable,
    ::testing::Values(KeyFileCase{"NoFile", QByteArray(), false, ""},
                      KeyFileCase{"EmptyFile", "", false, ""},
                      KeyFileCase{"SectionOnly", "[General]\n", false, ""},
                      KeyFileCase{"NoInstallLocation", "[General]\nDisplayName=Tool\n", true, ""},
                      KeyFileCase{"Location", "[General]\nInstallLocation=%I\n", true, "%I"},
                      KeyFileCase{"QuotedLocation", "[General]\nInstallLocation=\"%I\"\n", true, "%I"},
                      // Unquoted commas make a list, which reads as no text at all.
                      KeyFileCase{"CommaMakesAList", "[General]\nInstallLocation=%I,old\n", true, ""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(KeyStore, DeleteKeyClearsAndRemovesTheFile)
{
    TestWorld world;
    world.WriteConfig();
    world.WriteKey({"InstallLocation=" + world.Install(), "DisplayName=Tool", "Sub/Value=1"});
    ASSERT_TRUE(RegistryMgr::GetInstance()->IsInstalled());
    EXPECT_TRUE(RegistryMgr::GetInstance()->DeleteKey());
    EXPECT_FALSE(QFileInfo::exists(world.KeyFile()));
    EXPECT_FALSE(RegistryMgr::GetInstance()->IsInstalled());
    EXPECT_TRUE(RegistryMgr::GetInstance()->DeleteKey()) << "a key already gone counts as cleared";
    world.ExpectCanariesIntact();
}

// A store whose clear is refused, as the system would refuse it to a user without the rights.
class RefusingStore : public IniKeyStore {
public:
    using IniKeyStore::IniKeyStore;
    bool Clear(const QString&) override { return false; }
};

TEST(KeyStore, RefusedClearFailsTheRegistryStep)
{
    TestWorld world;
    world.WriteConfig();
    world.Populate();
    world.WriteKey();
    RefusingStore store(world.KeyRoot());
    RegistryMgr::GetInstance()->SetKeyStore(&store);
    EXPECT_FALSE(RegistryMgr::GetInstance()->DeleteKey());
    InstallProcessMgr::GetInstance()->UnInstall();
    const UninstallResult result = InstallProcessMgr::GetInstance()->LastResult();
    EXPECT_TRUE(result.folderDone);
    EXPECT_FALSE(result.keyDone);
    EXPECT_EQ(result.FailedSteps(), QStringList{QObject::tr("StepUninstallKey")});
    EXPECT_TRUE(QFileInfo::exists(world.KeyFile()));
}

// Runs fn on a thread without the capabilities that let root pass over file permissions.
// Capabilities belong to each thread, so the rest of the process keeps them.
template <typename Fn>
void WithoutRootFileRights(Fn fn)
{
    std::thread thread([&] {
        __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
        __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3] = {};
        ASSERT_EQ(syscall(SYS_capget, &header, data), 0);
        for (int cap : {CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH, CAP_FOWNER})
            data[CAP_TO_INDEX(cap)].effective &= ~CAP_TO_MASK(cap);
        ASSERT_EQ(syscall(SYS_capset, &header, data), 0);
        fn();
    });
    thread.join();
}

// The real refusal: the key's folder is read-only for the writer.
TEST(KeyStore, ReadOnlyFolderFailsTheClear)
{
    TestWorld world;
    world.WriteConfig();
    world.WriteKey();
    const QString folder = QFileInfo(world.KeyFile()).path();
    QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner);
    WithoutRootFileRights([] { EXPECT_FALSE(RegistryMgr::GetInstance()->DeleteKey()); });
    QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    // Read from the disk: this process's settings cache still holds the clear that failed to sync.
    QFile key(world.KeyFile());
    ASSERT_TRUE(key.open(QIODevice::ReadOnly));
    EXPECT_TRUE(key.readAll().contains("InstallLocation=" + world.Install().toUtf8()));
}

}  // namespace
}  // namespace appinstaller
