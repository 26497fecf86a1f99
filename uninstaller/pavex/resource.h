#pragma once
// Pavex resource helpers: where the program lives, the external resource file and its style sheets.
#include <QString>
#include <QStringList>

namespace Pavex {

// Resource directory in which InitResource looks for the library's style sheets (*.qss).
inline constexpr char kQssPrefix[] = ":/Pavex/Qss/";

// The program's directory, ending in "/".
QString GetTargetPath();

// Registers the binary resource file at rccPath and fills qss with its style sheets joined in name
// order (empty when the file is missing or holds none). False when the file could not be registered.
// reload changes nothing: registering the same file twice is harmless.
bool InitResource(const QString& rccPath, QString& qss, bool reload);

class CFile {
public:
    // The texts of the files, in list order, each read from dir + name and joined with a newline.
    // Files that cannot be read add nothing.
    static QString ReadAll(const QStringList& files, const QString& dir);
};

}  // namespace Pavex
