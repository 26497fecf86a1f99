#pragma once
// A throw-away world for tests that delete: installation folder, HOME with its XDG folders, key
// store and working directory, all under one fresh temporary root, with canaries that must survive.
#include <QMap>
#include <QString>
#include <QStringList>
#include <functional>

#include "file_ops.h"
#include "key_store.h"

namespace appinstaller::test {

struct ProductNames {
    QString guid = "{6F1B2C3D-0000-4000-8000-0123456789AB}";
    QString programName = "VantorTool";
    QString en = "Vantor Tool";
    QString ch = "Vantor Tool CH";
};

class TestWorld {
public:
    explicit TestWorld(const ProductNames& names = ProductNames());
    ~TestWorld();
    TestWorld(const TestWorld&) = delete;
    TestWorld& operator=(const TestWorld&) = delete;

    const QString& Root() const { return m_root; }
    QString Install() const { return m_root + "/inst"; }
    QString Home() const { return m_root + "/home"; }
    QString Desktop() const { return Home() + "/Desktop"; }
    QString Applications() const { return m_root + "/data/applications"; }
    QString KeyRoot() const { return m_root + "/keys"; }
    QString KeyFile() const;
    const ProductNames& Names() const { return m_names; }
    IniKeyStore& Keys() { return m_keys; }

    // Writes AppConfig.xml from the names (an empty text leaves its element out) and loads it.
    void WriteConfig();
    // Writes the product's key with these lines under [General] (the default records the location).
    void WriteKey(const QStringList& lines);
    void WriteKey() { WriteKey({"InstallLocation=" + Install()}); }
    // The installation folder, shortcuts and menu folders of the product.
    void Populate();

    // Relative path -> type, size and hash of everything below the root except the working folder.
    QMap<QString, QString> Snapshot() const;
    // Fails the running test unless every canary is as it was made.
    void ExpectCanariesIntact() const;
    // True when the path (resolved) lies inside the root.
    bool Inside(const QString& path) const;

private:
    QString m_root;
    QString m_oldCwd;
    QMap<QByteArray, QByteArray> m_oldEnv;
    ProductNames m_names;
    IniKeyStore m_keys;
};

// File operations that fail on paths the predicate picks, and may hold the caller at a gate.
class ScriptedFiles : public FileOperations {
public:
    std::function<bool(const QString&)> failOn = [](const QString&) { return false; };
    std::function<void()> beforeRemoveTree = [] {};
    bool RemoveTree(const QString& dir) override;
    bool RemoveFile(const QString& path) override;
};

// Runs action on the next modal dialog once it is shown (polling from the event loop).
void OnNextModal(std::function<void(QWidget*)> action);

// Directory where tests save grabs of pages and dialogs.
QString ArtifactDir();

}  // namespace appinstaller::test
