#include "process_check.h"

#include <unistd.h>

#include <algorithm>

#include <QDir>
#include <QFile>

namespace appinstaller {

namespace {

QString BaseName(const QString& path)
{
    return path.mid(path.lastIndexOf('/') + 1);
}

}  // namespace

QString ExecutableName(const QString& programName)
{
    const int cut = std::max(programName.lastIndexOf('/'), programName.lastIndexOf('\\'));
    return programName.mid(cut + 1);
}

QString ProcProcessLister::NameOf(const QString& pidDir) const
{
    QString exe = QFile::symLinkTarget(pidDir + "/exe");
    if (!exe.isEmpty()) {
        static const QString kDeleted = " (deleted)";
        if (exe.endsWith(kDeleted))
            exe.chop(kDeleted.size());
        return BaseName(exe);
    }
    QFile cmdline(pidDir + "/cmdline");
    if (!cmdline.open(QIODevice::ReadOnly))
        return QString();
    const QByteArray args = cmdline.read(4096);
    return BaseName(QString::fromLocal8Bit(args.left(args.indexOf('\0'))));
}

std::optional<QList<ProcessEntry>> ProcProcessLister::Snapshot() const
{
    QDir proc(m_procRoot);
    if (!proc.exists())
        return std::nullopt;
    QList<ProcessEntry> entries;
    for (const QString& entry : proc.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        bool numeric = false;
        const qint64 pid = entry.toLongLong(&numeric);
        if (!numeric)
            continue;
        // A process that ended during the walk leaves no name and is skipped.
        const QString name = NameOf(proc.filePath(entry));
        if (!name.isEmpty())
            entries.append({pid, name});
    }
    return entries;
}

qint64 ProcProcessLister::OwnPid() const
{
    return getpid();
}

bool IsProcessRunning(const QString& programName, const ProcessLister& lister)
{
    const QString exeName = ExecutableName(programName);
    // Processes without a readable name (kernel threads) must not match an empty name.
    if (exeName.isEmpty())
        return false;
    const auto processes = lister.Snapshot();
    if (!processes)
        return false;
    const qint64 own = lister.OwnPid();
    for (const ProcessEntry& p : *processes) {
        if (p.pid != own && p.name == exeName)
            return true;
    }
    return false;
}

bool IsProcessRunning(const QString& programName)
{
    return IsProcessRunning(programName, ProcProcessLister());
}

}  // namespace appinstaller
