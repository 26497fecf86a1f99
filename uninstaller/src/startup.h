#pragma once
// Start-up after the application object exists: resources and style sheet, the privilege check,
// the running check, the installed check and the confirmation, then the uninstall.
#include <QApplication>

namespace appinstaller {

class FileOperations;
class KeyStore;
class ProcessLister;

class PrivilegeCheck {
public:
    virtual ~PrivilegeCheck() = default;
    // The uninstaller removes what an installer wrote as root: it runs as root only.
    virtual bool IsAdministrator() const;
};

// What start-up and the uninstall work with; tests pass their own.
struct Services {
    const PrivilegeCheck& privilege;
    const ProcessLister& processes;
    KeyStore& keys;
    FileOperations& files;
};

// The process exit code: -1 after a refusal; after a confirmed uninstall the event loop's result,
// or 1 when the uninstall was incomplete.
int RunUninstaller(QApplication& app, const Services& services);

}  // namespace appinstaller
