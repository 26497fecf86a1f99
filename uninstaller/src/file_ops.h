#pragma once
// The file operations of the uninstall sequence; tests replace them to make steps fail.
#include <QString>

namespace appinstaller {

class FileOperations {
public:
    virtual ~FileOperations() = default;
    // Removes the directory with everything below it; links inside are removed, not followed.
    virtual bool RemoveTree(const QString& dir);
    // Removes a file or a symbolic link (never what the link points to).
    virtual bool RemoveFile(const QString& path);
};

}  // namespace appinstaller
