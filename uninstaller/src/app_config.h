#pragma once
// The product the uninstaller removes, as AppConfig.xml beside the program describes it.
#include <QList>
#include <QPair>
#include <QString>

#include "singleton.h"

namespace appinstaller {

class AppConfigMgr : public Base::CSingleton<AppConfigMgr> {
public:
    using Component = QPair<QString, QString>;  // (Name, FilePath)

    // Used when the file is readable but names no English product name.
    static constexpr char kDefaultProductName[] = "Vantor Device Suite";

    // Loads applicationDirPath + "/AppConfig.xml".
    void LoadConfig();
    // Replaces every value with what the file says (all empty when it cannot be opened).
    void LoadConfig(const QString& fileName);

    QString GetGuid() const { return m_guid; }
    QString GetProgramName() const { return m_programName; }
    QString GetSoftwareNameEN() const { return m_softwareNameEN; }
    QString GetSoftwareNameCH() const { return m_softwareNameCH; }
    // Kept as read; nothing in the uninstaller acts on them (the tests of the format read them).
    int GetTranslator() const { return m_translator; }
    QList<Component> GetComponents() const { return m_components; }

private:
    friend class Base::CSingleton<AppConfigMgr>;
    AppConfigMgr() { LoadConfig(); }

    QString m_guid;
    QString m_version;
    QString m_companyName;
    int m_translator = 0;
    int m_versionType = 0;
    QString m_softwareNameEN;
    QString m_softwareNameCH;
    QString m_legalCopyright;
    QList<Component> m_components;
    QString m_installPath;
    QString m_programName;
    QString m_settingFile;
};

}  // namespace appinstaller
