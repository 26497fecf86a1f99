#include "install_process.h"

#include <QDebug>
#include <QMutexLocker>

#include "app_config.h"
#include "file_ops.h"
#include "key_store.h"
#include "registry.h"

namespace appinstaller {

namespace {

FileOperations& DefaultFiles()
{
    static FileOperations files;
    return files;
}

}  // namespace

QStringList UninstallResult::FailedSteps() const
{
    QStringList steps;
    if (!folderDone)
        steps << QObject::tr("StepInstallFolder");
    if (!shortcutsDone)
        steps << QObject::tr("StepShortcuts");
    if (!keyDone)
        steps << QObject::tr("StepUninstallKey");
    return steps;
}

InstallProcessMgr::InstallProcessMgr() : m_files(&DefaultFiles()) {}

void InstallProcessMgr::SetFileOperations(FileOperations* files)
{
    m_files = files ? files : &DefaultFiles();
}

UninstallTargets InstallProcessMgr::ListTargets() const
{
    const AppConfigMgr* config = AppConfigMgr::GetInstance();
    const RegistryMgr* registry = RegistryMgr::GetInstance();
    const QStringList names{config->GetSoftwareNameEN(), config->GetSoftwareNameCH()};
    return appinstaller::ListTargets(names + QStringList{kToolShortcutName}, names,
                                     registry->GetInstallLocation(), registry->Store().Root());
}

bool InstallProcessMgr::RemoveFolder(const FolderTarget& folder)
{
    switch (folder.state) {
    case FolderTarget::Gone:
        return true;
    case FolderTarget::Refused:
        qWarning().noquote() << "Installation folder not removed:" << folder.path << "-" << folder.reason;
        return false;
    case FolderTarget::Remove:
        break;
    }
    if (m_files->RemoveTree(folder.path))
        return true;
    qWarning().noquote() << "Installation folder not fully removed:" << folder.path;
    return false;
}

bool InstallProcessMgr::DeleteShortcuts(const UninstallTargets& targets)
{
    bool done = targets.refusedNames.isEmpty();
    for (const QString& name : targets.refusedNames)
        qWarning().noquote() << "Shortcut name refused:" << name;
    for (const QString& file : targets.shortcutFiles + targets.menuLinks) {
        if (!m_files->RemoveFile(file)) {
            qWarning().noquote() << "Not removed:" << file;
            done = false;
        }
    }
    for (const QString& folder : targets.menuFolders) {
        if (!m_files->RemoveTree(folder)) {
            qWarning().noquote() << "Not removed:" << folder;
            done = false;
        }
    }
    return done;
}

void InstallProcessMgr::UnInstall()
{
    const UninstallTargets targets = ListTargets();
    UninstallResult result;

    emit signalProcess(0, QObject::tr("BeganToUnloadWkJrSaJaAq"));
    result.folderDone = RemoveFolder(targets.folder);
    emit signalProcess(30, QObject::tr("DeleteShortcutULXVgdVTs"));
    result.shortcutsDone = DeleteShortcuts(targets);
    emit signalProcess(60, QObject::tr("ClearTheRegistryeuyqTkYHjj"));
    // The key is the only record of a folder that could not be removed: keep it then.
    if (result.folderDone) {
        result.keyDone = RegistryMgr::GetInstance()->DeleteKey();
        if (!result.keyDone)
            qWarning() << "Uninstall key not cleared";
    }
    {
        QMutexLocker lock(&m_resultMutex);
        m_result = result;
    }
    emit signalProcess(100, QObject::tr("Uninstalled"));
}

UninstallResult InstallProcessMgr::LastResult() const
{
    QMutexLocker lock(&m_resultMutex);
    return m_result;
}

void UnInstallThread::run()
{
    InstallProcessMgr::GetInstance()->UnInstall();
}

}  // namespace appinstaller
