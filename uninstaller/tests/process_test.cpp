// The running check: the name rule against an injected process list, and against real processes.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include "process_check.h"

namespace appinstaller {
namespace {

class FakeLister : public ProcessLister {
public:
    QList<ProcessEntry> processes;
    bool fails = false;
    std::optional<QList<ProcessEntry>> Snapshot() const override
    {
        return fails ? std::nullopt : std::optional<QList<ProcessEntry>>(processes);
    }
    qint64 OwnPid() const override { return 100; }
};

struct NameCase {
    const char* programName;
    QList<ProcessEntry> processes;
    bool running;
};

TEST(ProcessCheck, NameRuleTable)
{
    const NameCase cases[] = {
        {"Tool", {{1, "Tool"}}, true},
        {"bin/Tool", {{1, "Tool"}}, true},
        {"C:\\Program Files\\Vantor\\Tool", {{1, "Tool"}}, true},  // both separators split
        {"/opt/a\\b/Tool", {{1, "Tool"}}, true},
        {"Tool", {{1, "tool"}, {2, "TOOL"}}, false},                  // case-sensitive
        {"Tool", {{1, "Tool2"}, {2, "Too"}}, false},                  // whole name only
        {"Tool", {{100, "Tool"}}, false},                             // our own process
        {"Tool", {{100, "Tool"}, {7, "Tool"}}, true},
        {"", {{1, ""}, {2, "Tool"}}, false},                          // empty names never match
        {"dir/", {{1, ""}}, false},
        {"Tool", {}, false},
    };
    for (const NameCase& c : cases) {
        FakeLister lister;
        lister.processes = c.processes;
        EXPECT_EQ(IsProcessRunning(c.programName, lister), c.running) << c.programName;
    }
    FakeLister broken;
    broken.fails = true;
    broken.processes = {{1, "Tool"}};
    EXPECT_FALSE(IsProcessRunning("Tool", broken)) << "no snapshot answers not running";
}

// Starts a copy of sleep at path and waits until the process runs that executable.
pid_t StartSleepAs(const QString& path)
{
    EXPECT_TRUE(QFile::copy("/bin/sleep", path));
    QFile::setPermissions(path, QFile::ReadOwner | QFile::ExeOwner);
    const QByteArray file = QFile::encodeName(path);
    const pid_t pid = fork();
    if (pid == 0) {
        execl(file.constData(), file.constData(), "60", static_cast<char*>(nullptr));
        _exit(127);
    }
    const QString exe = QString("/proc/%1/exe").arg(pid);
    EXPECT_TRUE(QTest::qWaitFor([&] { return QFile::symLinkTarget(exe) == path; }));
    return pid;
}

void Stop(pid_t pid)
{
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
}

// Copies of sleep run under the names; they end with the test.
class Sleepers {
public:
    explicit Sleepers(const QStringList& names)
    {
        for (const QString& name : names)
            m_pids << StartSleepAs(m_dir.filePath(name));
    }
    ~Sleepers()
    {
        for (const pid_t pid : m_pids)
            Stop(pid);
    }

private:
    QTemporaryDir m_dir;
    QList<pid_t> m_pids;
};

TEST(ProcessCheck, RealProcesses)
{
    const QString longName = "VantorDeviceToolLongName";  // longer than the kernel's 15-character name
    Sleepers sleepers({"VantorTool", "vantortool2", longName});
    EXPECT_TRUE(IsProcessRunning("/opt/vantor/VantorTool"));
    EXPECT_TRUE(IsProcessRunning(longName));
    EXPECT_FALSE(IsProcessRunning(longName.left(15)));
    EXPECT_FALSE(IsProcessRunning("VANTORTOOL2"));
    EXPECT_FALSE(IsProcessRunning("vantortool"));
}

// Other copies of this test program may run at the same time, so only the walk's view of this
// process is checked here; the exclusion itself is in the table above.
TEST(ProcessCheck, WalkSeesThisProcessUnderItsExecutableName)
{
    const QString self = QFile::symLinkTarget("/proc/self/exe");
    EXPECT_EQ(ProcProcessLister().OwnPid(), getpid());
    const auto all = ProcProcessLister().Snapshot();
    ASSERT_TRUE(all.has_value());
    const QString base = self.mid(self.lastIndexOf('/') + 1);
    EXPECT_TRUE(std::any_of(all->begin(), all->end(), [&](const ProcessEntry& p) {
        return p.pid == getpid() && p.name == base;
    }));
}

TEST(ProcessCheck, DeletedExecutableKeepsItsName)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("GoneTool");
    const pid_t pid = StartSleepAs(path);
    QFile::remove(path);
    EXPECT_TRUE(QFile::symLinkTarget(QString("/proc/%1/exe").arg(pid)).endsWith(" (deleted)"));
    EXPECT_TRUE(IsProcessRunning("GoneTool"));
    Stop(pid);
}

TEST(ProcessCheck, MissingProcFolderAnswersNotRunning)
{
    EXPECT_FALSE(ProcProcessLister("/nonexistent-proc").Snapshot().has_value());
}

}  // namespace
}  // namespace appinstaller
