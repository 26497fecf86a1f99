// AppConfig.xml as the uninstaller reads it, including files that are broken or hostile.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QFile>
#include <QTemporaryDir>

#include "app_config.h"

namespace appinstaller {
namespace {

struct ConfigCase {
    const char* name;
    QByteArray content;  // null: no file at all
    QString guid, programName, en, ch;
    int translator = 0;
    int components = 0;
};

QByteArray Latin1Config()
{
    return QByteArray("<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\n<P><GUID>{L}</GUID><SoftwareNameEN>Caf") +
           char(0xE9) + "</SoftwareNameEN></P>\n";
}

class ConfigTable : public ::testing::TestWithParam<ConfigCase> {};

TEST_P(ConfigTable, ReadsTheValues)
{
    const ConfigCase& c = GetParam();
    QTemporaryDir dir;
    const QString file = dir.filePath("AppConfig.xml");
    ASSERT_EQ(mkfifo(QFile::encodeName(dir.filePath("dtd.fifo")).constData(), 0600), 0);
    if (!c.content.isNull()) {
        QFile out(file);
        ASSERT_TRUE(out.open(QIODevice::WriteOnly));
        out.write(QByteArray(c.content).replace("%DIR%", QFile::encodeName(dir.path())));
    }
    AppConfigMgr* config = AppConfigMgr::GetInstance();
    config->LoadConfig(file);
    EXPECT_EQ(config->GetGuid(), c.guid);
    EXPECT_EQ(config->GetProgramName(), c.programName);
    EXPECT_EQ(config->GetSoftwareNameEN(), c.en);
    EXPECT_EQ(config->GetSoftwareNameCH(), c.ch);
    EXPECT_EQ(config->GetTranslator(), c.translator);
    EXPECT_EQ(config->GetComponents().size(), c.components);
}

const QString kDefault = AppConfigMgr::kDefaultProductName;

INSTANTIATE_TEST_SUITE_P(
    AppConfig, ConfigTable,
    ::testing::Values(
        ConfigCase{"Plain",
                   "<P><GUID>{A}</GUID><ProgramName>dir/Tool</ProgramName><SoftwareNameEN>En</SoftwareNameEN>"
                   "<SoftwareNameCH>Ch</SoftwareNameCH><Translator>7</Translator></P>",
                   "{A}", "dir/Tool", "En", "Ch", 7},
        ConfigCase{"NestedTwoLevels", "<P><a><b><GUID>{N}</GUID></b></a></P>", "{N}", "", kDefault, ""},
        ConfigCase{"FirstOfTwoWins", "<P><GUID>{1}</GUID><x><GUID>{2}</GUID></x></P>", "{1}", "", kDefault, ""},
        ConfigCase{"CommentBeforeText", "<P><GUID><!-- c -->{C}</GUID></P>", "{C}", "", kDefault, ""},
        ConfigCase{"TextSplitByChildTakesFirstPiece", "<P><GUID>{A<i/>B}</GUID></P>", "{A", "", kDefault, ""},
        ConfigCase{"NamesAreCaseSensitive", "<P><guid>{x}</guid></P>", "", "", kDefault, ""},
        ConfigCase{"EmptyEnglishNameTakesDefault", "<P><SoftwareNameEN></SoftwareNameEN></P>", "", "", kDefault, ""},
        ConfigCase{"TranslatorNotANumber", "<P><Translator>abc</Translator></P>", "", "", kDefault, "", 0},
        ConfigCase{"ComponentsWithTextBetween",
                   "<P><Components><c><Name>a</Name><FilePath>/a</FilePath></c> text <c><Name>b</Name></c>"
                   "<!-- x --><c/></Components></P>",
                   "", "", kDefault, "", 0, 3},
        ConfigCase{"MissingFile", QByteArray(), "", "", "", ""},
        ConfigCase{"EmptyFile", "", "", "", kDefault, ""},
        ConfigCase{"NotXml", "GUID={A}\nthis is no XML\n", "", "", kDefault, ""},
        ConfigCase{"Truncated", "<P><GUID>{T}</GUID><SoftwareNameEN>Tr", "", "", kDefault, ""},
        ConfigCase{"EntityBomb",
                   "<?xml version=\"1.0\"?><!DOCTYPE P [<!ENTITY a \"aaaaaaaaaa\">"
                   "<!ENTITY b \"&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;\"><!ENTITY c \"&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;\">"
                   "<!ENTITY d \"&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;\"><!ENTITY e \"&d;&d;&d;&d;&d;&d;&d;&d;&d;&d;\">"
                   "<!ENTITY f \"&e;&e;&e;&e;&e;&e;&e;&e;&e;&e;\"><!ENTITY g \"&f;&f;&f;&f;&f;&f;&f;&f;&f;&f;\">"
                   "<!ENTITY h \"&g;&g;&g;&g;&g;&g;&g;&g;&g;&g;\">]><P><GUID>&h;</GUID></P>",
                   "", "", kDefault, ""},
        // The DTD names a FIFO with no writer: reading it would block the test.
        ConfigCase{"ExternalDoctypeNeverRead",
                   "<?xml version=\"1.0\"?><!DOCTYPE P SYSTEM \"%DIR%/dtd.fifo\"><P><GUID>{E}</GUID></P>", "{E}",
                   "", kDefault, ""},
        ConfigCase{"DeclaredLatin1", Latin1Config(), "{L}", "", QString::fromUtf8("Caf\xC3\xA9"), ""}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace appinstaller
