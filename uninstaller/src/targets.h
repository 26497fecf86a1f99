#pragma once
// What the uninstall sequence will remove, listed and checked before anything is touched.
#include <QString>
#include <QStringList>

namespace appinstaller {

// Folders the installation folder must neither be nor contain: the user's home and XDG folders,
// the key-store root and a short list of system folders.
QStringList ProtectedFolders(const QString& keyStoreRoot);

struct FolderTarget {
    enum State { Remove, Gone, Refused };
    State state = Refused;
    QString path;    // the resolved folder to remove; else the cleaned location
    QString reason;  // why it is refused
};

// Decides about the install location read from the key: one pair of surrounding quotes is
// stripped; it must be absolute, not a link, not "/" or a top-level folder, and not one of the
// protected folders or an ancestor of one, both as written and with every link on its way
// resolved. A location that cannot be resolved is refused; one that does not exist is already gone.
FolderTarget CheckInstallLocation(const QString& location, const QStringList& protectedFolders);

// Refused shortcut names hold a separator or are "." or ".."; an empty name is skipped silently.
bool IsRefusedName(const QString& name);

struct UninstallTargets {
    FolderTarget folder;
    QStringList shortcutFiles;  // existing shortcut files (or links) on the desktop
    QStringList menuFolders;    // existing menu folders, removed with their contents
    QStringList menuLinks;      // menu folders that are links: only the link goes
    QStringList refusedNames;   // names skipped because they would leave their folder
};

// Lists the targets for the product names in the current user's desktop and applications folders.
UninstallTargets ListTargets(const QStringList& desktopNames, const QStringList& menuNames,
                             const QString& location, const QString& keyStoreRoot);

}  // namespace appinstaller
