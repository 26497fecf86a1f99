#pragma once
// Is the tool running? A walk over the running processes, comparing executable names.
#include <QList>
#include <QString>
#include <optional>

namespace appinstaller {

struct ProcessEntry {
    qint64 pid;
    QString name;  // executable file name, without directories
};

class ProcessLister {
public:
    virtual ~ProcessLister() = default;
    // Every process, or nothing when no snapshot can be taken.
    virtual std::optional<QList<ProcessEntry>> Snapshot() const = 0;
    virtual qint64 OwnPid() const = 0;
};

// Reads /proc. The name is the base name of the executable link (without the " (deleted)" mark of
// a replaced file), else of argv[0]; never the kernel's short name, which is cut at 15 characters.
class ProcProcessLister : public ProcessLister {
public:
    explicit ProcProcessLister(const QString& procRoot = "/proc") : m_procRoot(procRoot) {}
    std::optional<QList<ProcessEntry>> Snapshot() const override;
    qint64 OwnPid() const override;

private:
    QString NameOf(const QString& pidDir) const;
    QString m_procRoot;
};

// The executable name of a program name: the text after its last "/" or "\".
QString ExecutableName(const QString& programName);

// True when another process runs under exactly (case-sensitive) the program's executable name.
bool IsProcessRunning(const QString& programName, const ProcessLister& lister);
bool IsProcessRunning(const QString& programName);

}  // namespace appinstaller
