// The uninstaller: removes the installed desktop tool after a confirmation.
#include <QLocale>

#include "application.h"
#include "file_ops.h"
#include "key_store.h"
#include "preflight.h"
#include "process_check.h"
#include "startup.h"

int main(int argc, char** argv)
{
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    if (const std::optional<int> status = appinstaller::BeforeApplication(argc, argv))
        return *status;
    appinstaller::Application app(argc, argv);

    const appinstaller::PrivilegeCheck privilege;
    const appinstaller::ProcProcessLister processes;
    appinstaller::IniKeyStore keys;
    appinstaller::FileOperations files;
    // A refusal's -1 leaves the process with status 255.
    return appinstaller::RunUninstaller(app, {privilege, processes, keys, files});
}
