// The frame of every export: the calling thread is marked as an export thread (only such threads
// write the last error the host reads), and a locked export holds the interface lock and writes
// its "in" and "out" lines.
#pragma once

#include "base/GlobalCtrl.h"

#define ZEVA_DASHES "--------------------------"

namespace ZEVA {

class CLockedExport {
public:
    // With pDetail, the lines carry it: "[name] in [detail]".
    explicit CLockedExport(const char *pName, const char *pDetail = nullptr);
    ~CLockedExport();
    CLockedExport(const CLockedExport &) = delete;
    CLockedExport &operator=(const CLockedExport &) = delete;

private:
    CExportScope m_scope;
    const char *m_pName;
    const char *m_pDetail;
};

// Sets the last error to 2005 with the argument failure's line; always 0.
int FailArgument(const char *pLine);

}  // namespace ZEVA
