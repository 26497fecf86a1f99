// Before the window: --help and a missing display end the real program at once, as root and as
// another user, without reading or removing anything of an installation that is there to remove.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <iostream>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStringList>

#include "preflight.h"
#include "test_world.h"

namespace appinstaller {
namespace {

using test::TestWorld;

const char* const kDisplayVariables[] = {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"};

// Sets the display variables for one case and puts back what the test program had.
class DisplayEnvironment {
public:
    explicit DisplayEnvironment(const QMap<QByteArray, QByteArray>& values)
    {
        for (const char* name : kDisplayVariables) {
            m_old[name] = qgetenv(name);
            m_wasSet[name] = qEnvironmentVariableIsSet(name);
            if (values.contains(name))
                qputenv(name, values[name]);
            else
                qunsetenv(name);
        }
    }
    ~DisplayEnvironment()
    {
        for (const char* name : kDisplayVariables) {
            if (m_wasSet[name])
                qputenv(name, m_old[name]);
            else
                qunsetenv(name);
        }
    }

private:
    QMap<QByteArray, QByteArray> m_old;
    QMap<QByteArray, bool> m_wasSet;
};

TEST(Preflight, DisplayFromTheEnvironmentOrQtOptions)
{
    struct Case {
        QMap<QByteArray, QByteArray> env;
        std::vector<const char*> args;
        bool display;
    };
    const Case cases[] = {
        {{}, {}, false},
        {{{"DISPLAY", ""}, {"WAYLAND_DISPLAY", ""}, {"QT_QPA_PLATFORM", ""}}, {}, false},
        {{{"DISPLAY", ":0"}}, {}, true},
        {{{"WAYLAND_DISPLAY", "wayland-0"}}, {}, true},
        {{{"QT_QPA_PLATFORM", "offscreen"}}, {}, true},
        {{}, {"-platform", "offscreen"}, true},
        {{}, {"--platform", "offscreen"}, true},
        {{}, {"-display", ":1"}, true},
        {{}, {"-platform"}, false},  // no value: Qt takes nothing from it
        {{}, {"platform", "offscreen"}, false},
        {{}, {"-platformx", "offscreen"}, false},
    };
    for (const Case& c : cases) {
        const DisplayEnvironment env(c.env);
        std::vector<const char*> argv{"uninstall"};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        QStringList words;
        for (const char* arg : argv)
            words << arg;
        EXPECT_EQ(HasDisplay(static_cast<int>(argv.size()), argv.data()), c.display)
            << words.join(' ').toStdString() << " with " << c.env.keys().join(',').toStdString();
    }
}

// An installation the program would remove when it ran: the program itself with its resource
// file and catalogue, AppConfig.xml naming the product, and its key.
class RealProgram : public ::testing::Test {
protected:
    void SetUp() override
    {
        world.Populate();
        for (const char* dir : {"/rcc", "/translations"})
            QDir().mkpath(world.Install() + dir);
        const QString build = UNINSTALLER_BUILD_DIR;
        ASSERT_TRUE(QFile::copy(build + "/uninstall", Program()));
        ASSERT_TRUE(QFile::copy(build + "/rcc/guiresource.rcc", world.Install() + "/rcc/guiresource.rcc"));
        ASSERT_TRUE(QFile::copy(build + "/translations/uninstall_en.qm",
                                world.Install() + "/translations/uninstall_en.qm"));
        const test::ProductNames& names = world.Names();
        QFile config(world.Install() + "/AppConfig.xml");
        ASSERT_TRUE(config.open(QIODevice::WriteOnly | QIODevice::Truncate));
        config.write(QString("<Product><GUID>%1</GUID><ProgramName>%2</ProgramName><SoftwareNameEN>%3"
                             "</SoftwareNameEN></Product>\n")
                         .arg(names.guid, names.programName, names.en)
                         .toUtf8());
        config.close();
        world.WriteKey();
        // Another user reaches the program through the world's root (mkdtemp makes it 0700).
        ASSERT_EQ(chmod(world.Root().toUtf8().constData(), 0755), 0);
    }

    QString Program() const { return world.Install() + "/uninstall"; }
    // What the program would read first.
    QStringList Inputs() const
    {
        return {world.Install() + "/AppConfig.xml", world.KeyFile(), world.Install() + "/rcc/guiresource.rcc",
                world.Install() + "/translations/uninstall_en.qm"};
    }

    TestWorld world;
};

// An access time before the last change, so that the next read of the file moves it forward (also
// where the file system updates it only then, "relatime").
void AgeAccessTime(const QString& file)
{
    const timespec times[2] = {{946684800, 0}, {0, UTIME_OMIT}};  // 2000-01-01, mtime kept
    ASSERT_EQ(utimensat(AT_FDCWD, file.toUtf8().constData(), times, 0), 0) << file.toStdString();
}

bool AccessedSinceAged(const QString& file)
{
    struct stat st {};
    return stat(file.toUtf8().constData(), &st) == 0 && st.st_atim.tv_sec != 946684800;
}

// True when a read shows in the access time here (not on a file system mounted "noatime").
bool ReadsShowInAccessTimes(const QString& folder)
{
    const QString probe = folder + "/atime-probe";
    QFile file(probe);
    if (!file.open(QIODevice::WriteOnly) || file.write("probe\n") != 6)
        return false;
    file.close();
    AgeAccessTime(probe);
    file.open(QIODevice::ReadOnly);
    file.readAll();
    file.close();
    const bool shows = AccessedSinceAged(probe);
    QFile::remove(probe);
    return shows;
}

struct Finished {
    int status = -1;
    QString out, err;
};

Finished RunProgram(const QString& program, const QStringList& args, const QMap<QString, QString>& display,
               bool asOtherUser)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* name : kDisplayVariables)
        env.remove(name);
    for (auto it = display.cbegin(); it != display.cend(); ++it)
        env.insert(it.key(), it.value());
    QProcess process;
    process.setProcessEnvironment(env);
    if (asOtherUser)
        process.start("setpriv", QStringList{"--reuid=65534", "--regid=65534", "--clear-groups", program} + args);
    else
        process.start(program, args);
    Finished run;
    if (!process.waitForFinished(30000)) {
        process.kill();
        process.waitForFinished();
        ADD_FAILURE() << "the program did not end: " << program.toStdString();
        return run;
    }
    run.status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.out = QString::fromUtf8(process.readAllStandardOutput());
    run.err = QString::fromUtf8(process.readAllStandardError());
    return run;
}

TEST_F(RealProgram, HelpAndNoDisplayEndBeforeReadingAnything)
{
    struct Case {
        const char* what;
        QStringList args;
        QMap<QString, QString> display;
        int status;
        const char* out;  // what standard output starts with; empty: nothing
        const char* err;  // what standard error holds; empty: nothing
    };
    const Case cases[] = {
        {"no display", {}, {}, kExitNoDisplay, "", "needs a graphical display"},
        {"empty display variables", {}, {{"DISPLAY", ""}, {"WAYLAND_DISPLAY", ""}, {"QT_QPA_PLATFORM", ""}},
         kExitNoDisplay, "", "Nothing was read or changed."},
        {"--help", {"--help"}, {}, 0, "usage: uninstall", ""},
        {"-h", {"-h"}, {}, 0, "usage: uninstall", ""},
        // A display no server answers: had it opened a window, Qt would have failed on it.
        {"--help with a display", {"--help"}, {{"DISPLAY", ":97"}}, 0, "usage: uninstall", ""},
    };
    const bool readsShow = ReadsShowInAccessTimes(world.Root());
    if (!readsShow)
        std::cerr << "access times do not show reads here: only removals are checked\n";
    const auto before = world.Snapshot();
    for (const QString& file : Inputs())
        AgeAccessTime(file);

    std::vector<bool> users{false};
    if (geteuid() == 0)
        users.push_back(true);  // as nobody as well
    for (const bool asOtherUser : users) {
        for (const Case& c : cases) {
            const std::string what = std::string(c.what) + (asOtherUser ? ", as nobody" : "");
            const Finished run = RunProgram(Program(), c.args, c.display, asOtherUser);
            EXPECT_EQ(run.status, c.status) << what << ": " << run.err.toStdString();
            if (*c.out)
                EXPECT_TRUE(run.out.startsWith(c.out)) << what << ": " << run.out.toStdString();
            else
                EXPECT_EQ(run.out, "") << what;
            if (*c.err)
                EXPECT_TRUE(run.err.contains(c.err)) << what << ": " << run.err.toStdString();
            else
                EXPECT_EQ(run.err, "") << what;
        }
    }

    if (readsShow) {
        for (const QString& file : Inputs())
            EXPECT_FALSE(AccessedSinceAged(file)) << "read: " << file.toStdString();
    }
    EXPECT_EQ(world.Snapshot(), before) << "nothing is removed or changed";
    world.ExpectCanariesIntact();
}

}  // namespace
}  // namespace appinstaller
