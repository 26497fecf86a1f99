#include "test_world.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <QApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QStandardPaths>
#include <QTimer>
#include <QWidget>

#include "app_config.h"
#include "install_process.h"
#include "registry.h"

namespace appinstaller::test {

namespace {

const char* const kEnvNames[] = {"HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_RUNTIME_DIR", "XDG_CACHE_HOME",
                                 IniKeyStore::kRootVariable};

void WriteFile(const QString& path, const QByteArray& data)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(data) != data.size())
        ADD_FAILURE() << "cannot write " << path.toStdString();
}

QString MakeRoot()
{
    QByteArray pattern = QDir::tempPath().toUtf8() + "/uninstaller-test-XXXXXX";
    if (!mkdtemp(pattern.data()))
        return QString();
    return QFileInfo(QString::fromUtf8(pattern)).canonicalFilePath();
}

}  // namespace

TestWorld::TestWorld(const ProductNames& names) : m_root(MakeRoot()), m_names(names), m_keys(m_root + "/keys")
{
    if (m_root.isEmpty() || !m_root.startsWith(QDir::tempPath() + "/"))
        qFatal("test world: no temporary root");
    for (const char* name : kEnvNames)
        m_oldEnv[name] = qgetenv(name);
    for (const char* dir : {"/inst", "/home/Desktop", "/home/.config", "/data/applications", "/runtime", "/keys",
                            "/work", "/sibling"})
        QDir().mkpath(m_root + dir);
    QFile::setPermissions(m_root + "/runtime", QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    WriteFile(m_root + "/home/.config/user-dirs.dirs", "XDG_DESKTOP_DIR=\"$HOME/Desktop\"\n");
    qputenv("HOME", Home().toUtf8());
    qputenv("XDG_CONFIG_HOME", (Home() + "/.config").toUtf8());
    qputenv("XDG_CACHE_HOME", (Home() + "/.cache").toUtf8());
    qputenv("XDG_DATA_HOME", (m_root + "/data").toUtf8());
    qputenv("XDG_RUNTIME_DIR", (m_root + "/runtime").toUtf8());
    qputenv(IniKeyStore::kRootVariable, KeyRoot().toUtf8());
    m_oldCwd = QDir::currentPath();
    QDir::setCurrent(m_root + "/work");

    // The world is only used when every place the program may touch lies inside the root.
    for (const QString& place : {QDir::homePath(), QStandardPaths::writableLocation(QStandardPaths::DesktopLocation),
                                 QStandardPaths::writableLocation(QStandardPaths::ApplicationsLocation),
                                 QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation),
                                 IniKeyStore::DefaultRoot(), QDir::currentPath(), Install()}) {
        if (!Inside(place))
            qFatal("test world: %s lies outside %s", qPrintable(place), qPrintable(m_root));
    }

    // Canaries.
    WriteFile(m_root + "/sibling/keep.txt", "sibling of the installation\n");
    WriteFile(m_root + "/outside.txt", "linked from inside the installation\n");
    WriteFile(Desktop() + "/Other.desktop", "[Desktop Entry]\nName=Other\n");
    WriteFile(Desktop() + "/" + m_names.en + ".desktop.bak", "backup\n");
    WriteFile(Applications() + "/Other/other.desktop", "[Desktop Entry]\nName=Other\n");
    WriteFile(m_root + "/work/keep.txt", "working directory\n");
    WriteFile(m_keys.FileOf(RegistryMgr::GetInstance()->KeyPath("{OTHER-PRODUCT}")),
              "[General]\nInstallLocation=/opt/other\n");

    RegistryMgr::GetInstance()->SetKeyStore(&m_keys);
    RegistryMgr::GetInstance()->SetArchitecture(RegistryMgr::kArchAmd64);
    InstallProcessMgr::GetInstance()->SetFileOperations(nullptr);
}

TestWorld::~TestWorld()
{
    RegistryMgr::GetInstance()->SetKeyStore(nullptr);
    InstallProcessMgr::GetInstance()->SetFileOperations(nullptr);
    AppConfigMgr::GetInstance()->LoadConfig(QString());
    QDir::setCurrent(m_oldCwd);
    for (auto it = m_oldEnv.cbegin(); it != m_oldEnv.cend(); ++it) {
        if (it.value().isNull())
            qunsetenv(it.key());
        else
            qputenv(it.key(), it.value());
    }
    if (Inside(m_root))
        QDir(m_root).removeRecursively();
}

bool TestWorld::Inside(const QString& path) const
{
    QString resolved = QFileInfo(path).canonicalFilePath();
    if (resolved.isEmpty())  // not there yet: judge by the cleaned path
        resolved = QDir::cleanPath(QFileInfo(path).absoluteFilePath());
    return resolved == m_root || resolved.startsWith(m_root + "/");
}

QString TestWorld::KeyFile() const
{
    return m_keys.FileOf(RegistryMgr::GetInstance()->KeyPath(m_names.guid));
}

void TestWorld::WriteConfig()
{
    QString xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Product>\n";
    const QList<QPair<QString, QString>> items{{"GUID", m_names.guid},
                                               {"ProgramName", m_names.programName},
                                               {"SoftwareNameEN", m_names.en},
                                               {"SoftwareNameCH", m_names.ch}};
    for (const auto& item : items) {
        if (!item.second.isEmpty())
            xml += "  <" + item.first + ">" + item.second.toHtmlEscaped() + "</" + item.first + ">\n";
    }
    xml += "</Product>\n";
    WriteFile(m_root + "/AppConfig.xml", xml.toUtf8());
    AppConfigMgr::GetInstance()->LoadConfig(m_root + "/AppConfig.xml");
}

void TestWorld::WriteKey(const QStringList& lines)
{
    WriteFile(KeyFile(), ("[General]\n" + lines.join('\n') + "\n").toUtf8());
}

void TestWorld::Populate()
{
    WriteFile(Install() + "/" + m_names.programName, "tool\n");
    WriteFile(Install() + "/AppConfig.xml", "<Product/>\n");
    WriteFile(Install() + "/lib/deep/data.bin", QByteArray(4096, 'x'));
    if (!QFile::link(m_root + "/outside.txt", Install() + "/outside-link"))
        ADD_FAILURE() << "cannot link";
    for (const QString& name : {m_names.en, m_names.ch, QString("ZEVA")}) {
        if (name.isEmpty() || name.contains('/'))
            continue;
        WriteFile(Desktop() + "/" + name + ".desktop", "[Desktop Entry]\n");
        WriteFile(Desktop() + "/" + name + ".lnk", "shortcut\n");
    }
    for (const QString& name : {m_names.en, m_names.ch}) {
        if (!name.isEmpty() && !name.contains('/'))
            WriteFile(Applications() + "/" + name + "/" + name + ".desktop", "[Desktop Entry]\n");
    }
}

QMap<QString, QString> TestWorld::Snapshot() const
{
    QMap<QString, QString> listing;
    QDirIterator it(m_root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QFileInfo info = it.fileInfo();
        QString entry;
        if (info.isSymLink()) {
            entry = "link " + info.symLinkTarget();
        } else if (info.isDir()) {
            entry = "dir";
        } else {
            QFile file(path);
            file.open(QIODevice::ReadOnly);
            entry = QString("file %1 %2").arg(info.size()).arg(
                QString(QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256).toHex()));
        }
        listing[path.mid(m_root.size())] = entry;
    }
    return listing;
}

void TestWorld::ExpectCanariesIntact() const
{
    for (const QString& file : {m_root + "/sibling/keep.txt", m_root + "/outside.txt", Desktop() + "/Other.desktop",
                                Desktop() + "/" + m_names.en + ".desktop.bak", Applications() + "/Other/other.desktop",
                                m_root + "/work/keep.txt",
                                m_keys.FileOf(RegistryMgr::GetInstance()->KeyPath("{OTHER-PRODUCT}"))}) {
        EXPECT_TRUE(QFileInfo(file).isFile()) << "canary lost: " << file.toStdString();
    }
    QFile outside(m_root + "/outside.txt");
    outside.open(QIODevice::ReadOnly);
    EXPECT_EQ(outside.readAll(), QByteArray("linked from inside the installation\n"));
}

bool ScriptedFiles::RemoveTree(const QString& dir)
{
    beforeRemoveTree();
    return !failOn(dir) && FileOperations::RemoveTree(dir);
}

bool ScriptedFiles::RemoveFile(const QString& path)
{
    return !failOn(path) && FileOperations::RemoveFile(path);
}

void OnNextModal(std::function<void(QWidget*)> action)
{
    QTimer::singleShot(10, qApp, [action] {
        QWidget* modal = QApplication::activeModalWidget();
        if (modal && modal->isVisible())
            action(modal);
        else
            OnNextModal(action);
    });
}

QString ArtifactDir()
{
    QDir().mkpath(UNINSTALLER_ARTIFACT_DIR);
    return UNINSTALLER_ARTIFACT_DIR;
}

}  // namespace appinstaller::test
