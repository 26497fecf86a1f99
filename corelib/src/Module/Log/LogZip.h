// Zip archives of finished log files through minizip, loaded at run time. Without minizip (or
// without the zlib it needs) no archive is made and the files stay as they are.
#pragma once

#include <string>
#include <vector>

namespace Vorezi {

class CLogZip {
public:
    // True when minizip could be loaded and bound.
    static bool IsAvailable();
    // Adds the files, in order, to a new archive; entries carry the file names without their
    // directory. False (and no archive left behind) when any step fails.
    static bool ZipFiles(const std::string &zipPath, const std::vector<std::string> &files);
    // The library name tried by the next load (tests point it at a missing library).
    static void SetLibraryName(const char *pName);
};

}  // namespace Vorezi
