#include "app_config.h"

#include <QCoreApplication>
#include <QDir>

#include "xml_document.h"

namespace appinstaller {

void AppConfigMgr::LoadConfig()
{
    LoadConfig(QCoreApplication::applicationDirPath() + QDir::separator() + "AppConfig.xml");
}

void AppConfigMgr::LoadConfig(const QString& fileName)
{
    m_guid = m_version = m_companyName = m_softwareNameEN = m_softwareNameCH = QString();
    m_legalCopyright = m_installPath = m_programName = m_settingFile = QString();
    m_translator = m_versionType = 0;
    m_components.clear();
    XmlDocument doc;
    if (!doc.Load(fileName))
        return;
    auto text = [&doc](const char* tag) { return XmlDocument::GetText(doc.FindElement(tag).Element()); };

    m_guid = text("GUID");
    m_translator = text("Translator").toInt();
    m_versionType = text("VersionType").toInt();
    m_softwareNameEN = text("SoftwareNameEN");
    m_softwareNameCH = text("SoftwareNameCH");
    m_settingFile = text("SettingFile");
    if (m_softwareNameEN.isEmpty())
        m_softwareNameEN = kDefaultProductName;
    m_version = text("Version");
    m_companyName = text("CompanyName");
    m_legalCopyright = text("LegalCopyright");
    m_installPath = text("InstallPath");
    m_programName = text("ProgramName");

    const QDomElement components = doc.FindElement("Components").Element();
    for (int i = 0; i < XmlDocument::ChildCount(components); ++i) {
        XmlDocument item(QDomDocument(), XmlDocument::ChildElementAt(components, i));
        m_components.append({XmlDocument::GetText(item.FindElement("Name").Element()),
                             XmlDocument::GetText(item.FindElement("FilePath").Element())});
    }
}

}  // namespace appinstaller
