#include "targets.h"

#include <limits.h>
#include <stdlib.h>

#include <cerrno>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

namespace appinstaller {

namespace {

// System folders below the top level (every top-level folder is refused anyway).
const char* const kSystemFolders[] = {
    "/usr/bin", "/usr/sbin", "/usr/lib", "/usr/lib32", "/usr/lib64", "/usr/libexec", "/usr/include",
    "/usr/share", "/usr/src", "/usr/local", "/usr/local/bin", "/usr/local/lib", "/usr/local/share",
    "/var/lib", "/var/log", "/var/cache", "/var/spool", "/var/tmp", "/var/mail", "/etc/opt",
    nullptr,
};

}  // namespace

QStringList ProtectedFolders(const QString& keyStoreRoot)
{
    QStringList folders{QDir::homePath(), keyStoreRoot};
    for (auto location : {QStandardPaths::DesktopLocation, QStandardPaths::DocumentsLocation,
                          QStandardPaths::MusicLocation, QStandardPaths::MoviesLocation,
                          QStandardPaths::PicturesLocation, QStandardPaths::DownloadLocation,
                          QStandardPaths::ApplicationsLocation, QStandardPaths::GenericDataLocation,
                          QStandardPaths::GenericConfigLocation, QStandardPaths::GenericCacheLocation,
                          QStandardPaths::RuntimeLocation}) {
        folders << QStandardPaths::writableLocation(location);
    }
    for (const char* const* f = kSystemFolders; *f; ++f)
        folders << QString::fromLatin1(*f);
    folders.removeAll(QString());
    return folders;
}

namespace {

// The path and, when it exists, its resolved form: either may coincide with a protected folder.
QStringList Forms(const QString& path)
{
    QStringList forms{QDir::cleanPath(path)};
    const QString canonical = QFileInfo(path).canonicalFilePath();
    if (!canonical.isEmpty() && canonical != forms.front())
        forms << canonical;
    return forms;
}

// The path with every link along it resolved, or empty when nothing is there. False when it
// cannot be resolved although something may be there (a link loop, a folder that cannot be read).
bool Resolve(const QString& path, QString* resolved)
{
    char buffer[PATH_MAX];
    resolved->clear();
    if (realpath(QFile::encodeName(path).constData(), buffer)) {
        *resolved = QFile::decodeName(buffer);
        return true;
    }
    return errno == ENOENT;
}

bool IsSameOrAncestor(const QString& ancestor, const QString& path)
{
    return path == ancestor || path.startsWith(ancestor + "/");
}

FolderTarget Refuse(const QString& path, const QString& reason)
{
    return {FolderTarget::Refused, path, reason};
}

}  // namespace

// A linked component anywhere on the way may lead to a folder the written form does not name.
// What is removed is the resolved folder that was checked, not the path followed again.
FolderTarget CheckInstallLocation(const QString& location, const QStringList& protectedFolders)
{
    QString path = location;
    if (path.size() >= 2 && path.startsWith('"') && path.endsWith('"'))
        path = path.mid(1, path.size() - 2);
    if (path.isEmpty())
        return Refuse(path, "empty location");
    if (!QDir::isAbsolutePath(path))
        return Refuse(path, "relative location");
    path = QDir::cleanPath(path);
    QString resolved;
    if (!Resolve(path, &resolved))
        return Refuse(path, "unresolvable location");
    QStringList forms{path};
    if (!resolved.isEmpty() && resolved != path)
        forms << resolved;
    for (const QString& form : forms) {
        if (form.count('/') < 2)
            return Refuse(path, "root or top-level folder " + form);
    }
    for (const QString& folder : protectedFolders) {
        for (const QString& protectedForm : Forms(folder)) {
            for (const QString& form : forms) {
                if (IsSameOrAncestor(form, protectedForm))
                    return Refuse(path, "protected folder " + protectedForm);
            }
        }
    }
    if (QFileInfo(path).isSymLink())
        return Refuse(path, "linked location");
    if (resolved.isEmpty())
        return {FolderTarget::Gone, path, QString()};
    return {FolderTarget::Remove, resolved, QString()};
}

bool IsRefusedName(const QString& name)
{
    return name == "." || name == ".." || name.contains('/') || name.contains('\\');
}

UninstallTargets ListTargets(const QStringList& desktopNames, const QStringList& menuNames,
                             const QString& location, const QString& keyStoreRoot)
{
    UninstallTargets targets;
    targets.folder = CheckInstallLocation(location, ProtectedFolders(keyStoreRoot));

    const QString desktop = QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
    for (const QString& name : desktopNames) {
        if (name.isEmpty())
            continue;
        if (IsRefusedName(name)) {
            targets.refusedNames << name;
            continue;
        }
        for (const char* suffix : {".desktop", ".lnk"}) {
            const QFileInfo file(desktop + "/" + name + suffix);
            if (file.exists() || file.isSymLink())
                targets.shortcutFiles << file.filePath();
        }
    }

    const QString programs = QStandardPaths::writableLocation(QStandardPaths::ApplicationsLocation);
    for (const QString& name : menuNames) {
        if (name.isEmpty())
            continue;
        if (IsRefusedName(name)) {
            if (!targets.refusedNames.contains(name))
                targets.refusedNames << name;
            continue;
        }
        const QFileInfo folder(programs + "/" + name);
        if (folder.isSymLink())
            targets.menuLinks << folder.filePath();
        else if (folder.exists())
            targets.menuFolders << folder.filePath();
    }
    return targets;
}

}  // namespace appinstaller
