#pragma once
// The key store that stands in for the system registry: one INI file per key,
// <root>/<key path with "\" turned into "/">.ini.
#include <QString>
#include <QStringList>
#include <QVariant>

namespace appinstaller {

class KeyStore {
public:
    virtual ~KeyStore() = default;
    // The directory below which the keys live.
    virtual QString Root() const = 0;
    // Every value name under the key; empty when the key does not exist.
    virtual QStringList Keys(const QString& keyPath) const = 0;
    // An invalid variant when the value (or the key) is absent.
    virtual QVariant Value(const QString& keyPath, const QString& name) const = 0;
    // Removes every value and then the key itself. True when the key is gone afterwards.
    virtual bool Clear(const QString& keyPath) = 0;
};

class IniKeyStore : public KeyStore {
public:
    // Environment variable that moves the key store; the build fixes the default root.
    static constexpr char kRootVariable[] = "APPINSTALLER_KEYSTORE_ROOT";
    static QString DefaultRoot();

    explicit IniKeyStore(const QString& root = DefaultRoot()) : m_root(root) {}

    QString Root() const override { return m_root; }
    QStringList Keys(const QString& keyPath) const override;
    QVariant Value(const QString& keyPath, const QString& name) const override;
    bool Clear(const QString& keyPath) override;

    QString FileOf(const QString& keyPath) const;

private:
    QString m_root;
};

}  // namespace appinstaller
