#include "startup.h"

#include <unistd.h>

#include <QMessageBox>
#include <QPushButton>
#include <QScreen>

#include "app_config.h"
#include "install_process.h"
#include "main_window.h"
#include "pavex/dialogs.h"
#include "pavex/resource.h"
#include "process_check.h"
#include "registry.h"

namespace appinstaller {

bool PrivilegeCheck::IsAdministrator() const
{
    return geteuid() == 0;
}

namespace {

void SetDialogStrings()
{
    QStringList texts;
    for (const char* text : {"OK", "Cancel", "Close", "Success", "Error", "Warning", "Message"})
        texts << QObject::tr(text);
    Pavex::CModalTipDialog::setConstStrings(texts);
}

int Refuse(const QString& text)
{
    SetDialogStrings();
    Pavex::CModalTipDialog::ShowMessageWarn(text, Pavex::CModalTipDialog::SizeSmall, nullptr);
    return -1;
}

bool Confirmed()
{
    Pavex::CModalTipDialog dialog;
    dialog.setDialogModel(Pavex::CModalTipDialog::ModelConfirm);
    dialog.setContentText(QObject::tr("DetermineTheUninstalfYANYiIa"));
    dialog.setDialogSize(Pavex::CModalTipDialog::SizeLarge);
    dialog.SetYesAndNoText(QObject::tr("Confirm"), QObject::tr("Cancel"));
    dialog.GetConfirmBtn()->setStyleSheet("QPushButton {background-color: #19549d;border: 2px solid #19549d;}");
    return dialog.exec() != 0;
}

int NotInstalled()
{
    QMessageBox box(QMessageBox::Warning, QString(), QObject::tr("ThisSoftwareIsNotCurmXqDCfI"), QMessageBox::Ok);
    box.setObjectName("notInstalledBox");
    box.setDefaultButton(QMessageBox::Ok);
    box.exec();
    return -1;
}

}  // namespace

int RunUninstaller(QApplication& app, const Services& services)
{
    QString qss;
    Pavex::InitResource(QCoreApplication::applicationDirPath() + "/rcc/guiresource.rcc", qss, false);
    app.setStyleSheet(qss);

    if (!services.privilege.IsAdministrator())
        return Refuse(QObject::tr("NeedsAdministratorRights"));

    RegistryMgr::GetInstance()->SetKeyStore(&services.keys);
    InstallProcessMgr::GetInstance()->SetFileOperations(&services.files);

    MainWindow window;
    if (IsProcessRunning(AppConfigMgr::GetInstance()->GetProgramName(), services.processes))
        return Refuse(QObject::tr("TheClientIsRunningPrnptTrdtT"));
    if (!RegistryMgr::GetInstance()->IsInstalled())
        return NotInstalled();
    if (!Confirmed())
        return -1;

    if (const QScreen* screen = QGuiApplication::primaryScreen())
        window.move(screen->availableGeometry().center() - window.rect().center());
    window.show();
    window.onUninstall();
    const int result = app.exec();
    if (result != 0)
        return result;
    return InstallProcessMgr::GetInstance()->LastResult().Complete() ? 0 : 1;
}

}  // namespace appinstaller
