#include "registry.h"

#include <QSysInfo>

#include "app_config.h"
#include "key_store.h"

namespace appinstaller {

namespace {

IniKeyStore& DefaultStore()
{
    static IniKeyStore store;
    return store;
}

}  // namespace

int RegistryMgr::ArchitectureOf(const QString& cpuArchitecture)
{
    if (cpuArchitecture == "x86_64")
        return kArchAmd64;
    if (cpuArchitecture == "ia64")
        return kArchIa64;
    return kArchIntel;
}

RegistryMgr::RegistryMgr()
    : m_store(&DefaultStore()), m_architecture(ArchitectureOf(QSysInfo::currentCpuArchitecture()))
{
}

void RegistryMgr::SetKeyStore(KeyStore* store)
{
    m_store = store ? store : &DefaultStore();
}

void RegistryMgr::SetArchitecture(int architecture)
{
    m_architecture = architecture;
}

KeyStore& RegistryMgr::Store() const
{
    return *m_store;
}

QString RegistryMgr::GetUninstallRoot() const
{
    if (m_architecture == kArchAmd64 || m_architecture == kArchIa64)
        return "SOFTWARE\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
    return "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
}

bool RegistryMgr::IsUsableGuid(const QString& guid)
{
    return !guid.isEmpty() && guid != "." && guid != ".." && !guid.contains('/') && !guid.contains('\\');
}

QString RegistryMgr::KeyPath(const QString& guid) const
{
    return "HKEY_LOCAL_MACHINE\\" + GetUninstallRoot() + guid;
}

bool RegistryMgr::KeyExists(const QString& guid) const
{
    return IsUsableGuid(guid) && !m_store->Keys(KeyPath(guid)).isEmpty();
}

bool RegistryMgr::IsInstalled() const
{
    return KeyExists(AppConfigMgr::GetInstance()->GetGuid());
}

QString RegistryMgr::GetValue(const QString& guid, const QString& name) const
{
    if (!IsUsableGuid(guid))
        return QString();
    return m_store->Value(KeyPath(guid), name).toString();
}

QString RegistryMgr::GetInstallLocation() const
{
    const QString guid = AppConfigMgr::GetInstance()->GetGuid();
    return KeyExists(guid) ? GetValue(guid, "InstallLocation") : QString();
}

bool RegistryMgr::DeleteKey()
{
    const QString guid = AppConfigMgr::GetInstance()->GetGuid();
    return !IsUsableGuid(guid) || m_store->Clear(KeyPath(guid));
}

}  // namespace appinstaller
