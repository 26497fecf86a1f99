#include "pavex/resource.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QResource>

namespace Pavex {

QString GetTargetPath()
{
    return QCoreApplication::applicationDirPath() + "/";
}

bool InitResource(const QString& rccPath, QString& qss, bool /*reload*/)
{
    bool registered = QResource::registerResource(rccPath);
    QStringList sheets = QDir(kQssPrefix).entryList({"*.qss"}, QDir::Files, QDir::Name);
    qss = CFile::ReadAll(sheets, kQssPrefix);
    return registered;
}

QString CFile::ReadAll(const QStringList& files, const QString& dir)
{
    QStringList texts;
    for (const QString& name : files) {
        QFile file(dir + name);
        if (file.open(QIODevice::ReadOnly | QIODevice::Text))
            texts << QString::fromUtf8(file.readAll());
    }
    return texts.join('\n');
}

}  // namespace Pavex
