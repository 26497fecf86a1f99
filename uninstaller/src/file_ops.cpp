#include "file_ops.h"

#include <QDir>
#include <QFile>

namespace appinstaller {

bool FileOperations::RemoveTree(const QString& dir)
{
    return QDir(dir).removeRecursively();
}

bool FileOperations::RemoveFile(const QString& path)
{
    return QFile::remove(path);
}

}  // namespace appinstaller
