#pragma once
// The product's uninstall key: whether it exists, where the product lies, and clearing it.
#include <QString>

#include "singleton.h"

namespace appinstaller {

class KeyStore;

class RegistryMgr : public Base::CSingleton<RegistryMgr> {
public:
    // Processor architecture numbers as the system reports them.
    enum { kArchIntel = 0, kArchIa64 = 6, kArchAmd64 = 9 };
    static int ArchitectureOf(const QString& cpuArchitecture);

    // The store and the architecture default to the real ones; tests replace them.
    void SetKeyStore(KeyStore* store);
    void SetArchitecture(int architecture);
    KeyStore& Store() const;

    QString GetUninstallRoot() const;
    // A GUID that is empty, holds "/" or "\", or is "." or "..", names no key.
    static bool IsUsableGuid(const QString& guid);
    QString KeyPath(const QString& guid) const;

    bool KeyExists(const QString& guid) const;
    bool IsInstalled() const;
    QString GetValue(const QString& guid, const QString& name) const;
    QString GetInstallLocation() const;
    // True when the key is gone afterwards (also when there was none).
    bool DeleteKey();

private:
    friend class Base::CSingleton<RegistryMgr>;
    RegistryMgr();

    KeyStore* m_store;
    int m_architecture;
};

}  // namespace appinstaller
