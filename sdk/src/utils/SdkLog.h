// The SDK writes its log lines into the core library's log (levels 1 ERR, 2 DBG, 3 INF).
#pragma once

#include "morva/ComInterfaceMorva.h"

#define ZEVA_LOG_ERR(...) Morva_LogPrintPos(1, __FILE__, __LINE__, __VA_ARGS__)
#define ZEVA_LOG_DBG(...) Morva_LogPrintPos(2, __FILE__, __LINE__, __VA_ARGS__)
#define ZEVA_LOG_INF(...) Morva_LogPrintPos(3, __FILE__, __LINE__, __VA_ARGS__)
// Log texts keep their 32-bit "0x%x" of an address; pass pointers through this, never directly.
#define ZEVA_PTR_ARG(p) MORVA_PTR_ARG(p)
// A line already built, written as it stands.
#define ZEVA_LOG_TEXT(level, text) Morva_LogPrintText(level, __FILE__, __LINE__, text)
