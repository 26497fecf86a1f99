<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en_US">
<context>
    <name>QObject</name>
    <message>
        <source>OK</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>Close</translation>
    </message>
    <message>
        <source>Success</source>
        <translation>Success</translation>
    </message>
    <message>
        <source>Error</source>
        <translation>Error</translation>
    </message>
    <message>
        <source>Warning</source>
        <translation>Warning</translation>
    </message>
    <message>
        <source>Message</source>
        <translation>Message</translation>
    </message>
    <message>
        <source>Confirm</source>
        <translation>Confirm</translation>
    </message>
    <message>
        <source>NeedsAdministratorRights</source>
        <translation>The uninstaller must run as root (administrator). Start it again with root rights.</translation>
    </message>
    <message>
        <source>TheClientIsRunningPrnptTrdtT</source>
        <translation>The tool is running. Close it, then start the uninstaller again.</translation>
    </message>
    <message>
        <source>DetermineTheUninstalfYANYiIa</source>
        <translation>Do you really want to uninstall the tool and remove all of its files?</translation>
    </message>
    <message>
        <source>ThisSoftwareIsNotCurmXqDCfI</source>
        <translation>This software is not installed on this computer.</translation>
    </message>
    <message>
        <source>BeganToUnloadWkJrSaJaAq</source>
        <translation>Removing the installation folder...</translation>
    </message>
    <message>
        <source>DeleteShortcutULXVgdVTs</source>
        <translation>Deleting shortcuts...</translation>
    </message>
    <message>
        <source>ClearTheRegistryeuyqTkYHjj</source>
        <translation>Clearing the uninstall key...</translation>
    </message>
    <message>
        <source>Uninstalled</source>
        <translation>Uninstalled</translation>
    </message>
    <message>
        <source>StepInstallFolder</source>
        <translation>installation folder</translation>
    </message>
    <message>
        <source>StepShortcuts</source>
        <translation>shortcuts</translation>
    </message>
    <message>
        <source>StepUninstallKey</source>
        <translation>uninstall key</translation>
    </message>
</context>
<context>
    <name>MainWindowUI</name>
    <message>
        <source>MainWindowUI</source>
        <translation>Uninstaller</translation>
    </message>
</context>
<context>
    <name>UpperWidgeUI</name>
    <message>
        <source>MainWindowUI</source>
        <translation>Uninstaller</translation>
    </message>
</context>
<context>
    <name>InstallingUI</name>
    <message>
        <source>MainWindowUI</source>
        <translation>Uninstaller</translation>
    </message>
    <message>
        <source>UndoMerge</source>
        <translation>Cancel</translation>
    </message>
</context>
<context>
    <name>UnInstallCompletedUI</name>
    <message>
        <source>MainWindowUI</source>
        <translation>Uninstaller</translation>
    </message>
    <message>
        <source>Uninstalled</source>
        <translation>Uninstalled</translation>
    </message>
    <message>
        <source>Completed</source>
        <translation>Completed</translation>
    </message>
    <message>
        <source>UninstallIncompleteFailedSteps %1</source>
        <translation>Not fully uninstalled. Not removed: %1</translation>
    </message>
</context>
<context>
    <name>appinstaller::CustomTitleWidget</name>
    <message>
        <source>DRAVTool</source>
        <translation>Vantor Device Suite</translation>
    </message>
</context>
<context>
    <name>appinstaller::InstallingPage</name>
    <message>
        <source>ConfirmUninstallOemAjtmnj</source>
        <translation>Do you want to cancel the uninstall?</translation>
    </message>
</context>
</TS>
