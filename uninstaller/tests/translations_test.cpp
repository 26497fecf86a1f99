// Catalogues: the shipped one covers every key the program shows; loading follows the locale.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QDomDocument>
#include <QFile>
#include <QLabel>
#include <QLocale>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QTranslator>

#include "application.h"
#include "completed_page.h"
#include "install_process.h"
#include "installing_page.h"
#include "main_window.h"
#include "pavex/buttons.h"
#include "title_widget.h"

namespace appinstaller {
namespace {

const QString kShipped = UNINSTALLER_BUILD_DIR "/translations";

struct Message {
    QString context, source, translation;
};

QList<Message> ReadTs(const QString& file)
{
    QFile in(file);
    EXPECT_TRUE(in.open(QIODevice::ReadOnly)) << file.toStdString();
    QDomDocument doc;
    EXPECT_TRUE(doc.setContent(&in));
    QList<Message> messages;
    const QDomNodeList contexts = doc.elementsByTagName("context");
    for (int i = 0; i < contexts.size(); ++i) {
        const QDomElement context = contexts.item(i).toElement();
        const QString name = context.firstChildElement("name").text();
        for (QDomElement m = context.firstChildElement("message"); !m.isNull(); m = m.nextSiblingElement("message"))
            messages.append({name, m.firstChildElement("source").text(), m.firstChildElement("translation").text()});
    }
    return messages;
}

// Writes a catalogue source and builds it with lrelease.
void BuildCatalogue(const QString& qm, const QList<Message>& messages)
{
    QString ts = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<!DOCTYPE TS>\n<TS version=\"2.1\">\n";
    for (const Message& m : messages) {
        ts += "<context><name>" + m.context.toHtmlEscaped() + "</name><message><source>" + m.source.toHtmlEscaped() +
              "</source><translation>" + m.translation.toHtmlEscaped() + "</translation></message></context>\n";
    }
    ts += "</TS>\n";
    const QString tsFile = qm + ".ts";
    QFile out(tsFile);
    ASSERT_TRUE(out.open(QIODevice::WriteOnly));
    out.write(ts.toUtf8());
    out.close();
    ASSERT_EQ(QProcess::execute("lrelease", {"-silent", tsFile, "-qm", qm}), 0);
}

class Translations : public ::testing::Test {
protected:
    void TearDown() override
    {
        for (QTranslator* t : qApp->findChildren<QTranslator*>()) {
            QCoreApplication::removeTranslator(t);
            delete t;
        }
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    }

    static QStringList VisibleTexts(QWidget* root)
    {
        QStringList texts{root->windowTitle()};
        for (QLabel* label : root->findChildren<QLabel*>())
            texts << label->text();
        for (QAbstractButton* button : root->findChildren<QAbstractButton*>())
            texts << button->text();
        texts.removeAll(QString());
        return texts;
    }
};

TEST_F(Translations, ShippedCatalogueCoversEveryKeyInTheSources)
{
    Application::LoadTranslators(kShipped);
    ASSERT_EQ(qApp->findChildren<QTranslator*>().size(), 1);

    // lupdate finds every literal key; the dialog texts passed as variables are listed by hand.
    QTemporaryDir dir;
    const QString extracted = dir.filePath("keys.ts");
    ASSERT_EQ(QProcess::execute("lupdate", {"-silent", UNINSTALLER_SOURCE_DIR "/src", "-ts", extracted}), 0);
    QList<Message> keys = ReadTs(extracted);
    for (const char* text : {"OK", "Cancel", "Close", "Success", "Error", "Warning", "Message"})
        keys.append({"QObject", text, QString()});
    ASSERT_GT(keys.size(), 20);
    for (const Message& key : keys) {
        EXPECT_FALSE(qApp->findChildren<QTranslator*>().front()->translate(
                             key.context.toUtf8(), key.source.toUtf8()).isEmpty())
            << "untranslated: " << key.context.toStdString() << " / " << key.source.toStdString();
    }
}

TEST_F(Translations, PagesShowOnlyCatalogueTexts)
{
    Application::LoadTranslators(kShipped);
    QStringList translations;
    for (const Message& m : ReadTs(UNINSTALLER_SOURCE_DIR "/translations/uninstall_en.ts"))
        translations << m.translation;

    MainWindow window;
    window.ProgressPage()->onProcessInfo(30, QObject::tr("DeleteShortcutULXVgdVTs"));
    UninstallResult incomplete;
    window.EndPage()->ShowResult(incomplete);
    for (const QString& text : VisibleTexts(&window)) {
        const bool fromCatalogue = std::any_of(translations.begin(), translations.end(), [&](QString t) {
            return text == t || text.startsWith(t.remove("%1"));
        });
        EXPECT_TRUE(fromCatalogue || text == "30%") << "not from the catalogue: " << text.toStdString();
    }
    EXPECT_EQ(window.ProgressPage()->Ui().m_pInstallingLabel->text(), "Deleting shortcuts...");
}

TEST_F(Translations, CatalogueBuiltHereIsLoaded)
{
    QTemporaryDir dir;
    BuildCatalogue(dir.filePath("probe_en.qm"), {{"UnInstallCompletedUI", "Completed", "Done-EN"}});
    BuildCatalogue(dir.filePath("probe_zh.qm"), {{"UnInstallCompletedUI", "Completed", "Done-ZH"}});
    Application::LoadTranslators(dir.path());
    UnInstallCompletedPage page;
    EXPECT_EQ(page.Ui().m_pCompletedBtn->text(), "Done-EN");
}

TEST_F(Translations, ChineseDefaultLocaleLoadsTheChineseCatalogues)
{
    QTemporaryDir dir;
    BuildCatalogue(dir.filePath("probe_en.qm"), {{"UnInstallCompletedUI", "Completed", "Done-EN"}});
    BuildCatalogue(dir.filePath("probe_zh.qm"), {{"UnInstallCompletedUI", "Completed", "Done-ZH"}});
    QLocale::setDefault(QLocale(QLocale::Chinese, QLocale::China));
    Application::LoadTranslators(dir.path());
    UnInstallCompletedPage page;
    EXPECT_EQ(page.Ui().m_pCompletedBtn->text(), "Done-ZH");
}

TEST_F(Translations, EmptyOrMissingFolderShowsTheKeys)
{
    QTemporaryDir dir;
    for (const QString& folder : {dir.path(), dir.filePath("missing")}) {
        Application::LoadTranslators(folder);
        EXPECT_TRUE(qApp->findChildren<QTranslator*>().isEmpty());
        CustomTitleWidget title;
        EXPECT_TRUE(VisibleTexts(&title).contains("DRAVTool"));
    }
}

}  // namespace
}  // namespace appinstaller
