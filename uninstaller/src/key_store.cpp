#include "key_store.h"

#include <QFile>
#include <QFileInfo>
#include <QSettings>

namespace appinstaller {

QString IniKeyStore::DefaultRoot()
{
    const QString fromEnv = qEnvironmentVariable(kRootVariable);
    return fromEnv.isEmpty() ? QStringLiteral(APPINSTALLER_KEYSTORE_ROOT) : fromEnv;
}

QString IniKeyStore::FileOf(const QString& keyPath) const
{
    return m_root + "/" + QString(keyPath).replace('\\', '/') + ".ini";
}

// Reading never creates anything: a key whose file is missing simply does not exist.
QStringList IniKeyStore::Keys(const QString& keyPath) const
{
    const QString file = FileOf(keyPath);
    if (!QFileInfo(file).isFile())
        return {};
    return QSettings(file, QSettings::IniFormat).allKeys();
}

QVariant IniKeyStore::Value(const QString& keyPath, const QString& name) const
{
    const QString file = FileOf(keyPath);
    if (!QFileInfo(file).isFile())
        return {};
    return QSettings(file, QSettings::IniFormat).value(name);
}

bool IniKeyStore::Clear(const QString& keyPath)
{
    const QString file = FileOf(keyPath);
    if (!QFileInfo::exists(file))
        return true;
    {
        QSettings settings(file, QSettings::IniFormat);
        settings.clear();
        settings.sync();
        if (settings.status() != QSettings::NoError)
            return false;
    }
    return QFile::remove(file);
}

}  // namespace appinstaller
