#pragma once
// The uninstall sequence (installation folder, shortcuts and menu folders, uninstall key) and the
// worker thread that runs it.
#include <QMutex>
#include <QObject>
#include <QStringList>
#include <QThread>

#include "singleton.h"
#include "targets.h"

namespace appinstaller {

class FileOperations;

// What the last run achieved. A step that had nothing to remove counts as done.
struct UninstallResult {
    bool folderDone = false;
    bool shortcutsDone = false;
    bool keyDone = false;  // false also when the key was kept because the folder step failed
    bool Complete() const { return folderDone && shortcutsDone && keyDone; }
    // Translated names of the steps that did not succeed, in order.
    QStringList FailedSteps() const;
};

class InstallProcessMgr : public QObject, public Base::CSingleton<InstallProcessMgr> {
    Q_OBJECT
public:
    // The desktop name every installation of the tool carries besides its own product names.
    static constexpr char kToolShortcutName[] = "ZEVA";

    // Defaults to the real file operations; tests replace them.
    void SetFileOperations(FileOperations* files);

    // The targets of the configured product, checked, before anything is removed.
    UninstallTargets ListTargets() const;
    void UnInstall();
    // The shortcut step over the listed targets: true when every shortcut and menu folder is gone
    // and no name was refused.
    bool DeleteShortcuts(const UninstallTargets& targets);
    UninstallResult LastResult() const;

signals:
    void signalProcess(int iProcess, QString strProcessName);

private:
    friend class Base::CSingleton<InstallProcessMgr>;
    InstallProcessMgr();
    bool RemoveFolder(const FolderTarget& folder);

    FileOperations* m_files;
    mutable QMutex m_resultMutex;
    UninstallResult m_result;
};

class UnInstallThread : public QThread {
    Q_OBJECT
public:
    explicit UnInstallThread(QObject* parent = nullptr) : QThread(parent) {}

protected:
    void run() override;
};

}  // namespace appinstaller
