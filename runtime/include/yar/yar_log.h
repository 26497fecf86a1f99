/* The runtime's own diagnostic log. Lines go to a 2 MiB in-memory ring and are written by one
 * writer thread to the enabled outputs: the console, the debugger output (yar_debug.h) and rolling
 * 2 MiB files "./yarlog/yar_log_<n>.log" (the one being written carries "_w"). No output is on
 * until YAR_Log_EnableOutput. Each line reads
 *     [YYYY-MM-DD HH:MM:SS.mmm][LEVEL][FILE:name][LINE:n] text\r\n */
#ifndef YAR_LOG_H
#define YAR_LOG_H

#include "yar_base.h"

enum { YAR_LOG_DISABLE = 0, YAR_LOG_ERR = 1, YAR_LOG_DBG = 2, YAR_LOG_INF = 3 };
enum { YAR_LOG_OUTPUT_CONSOLE = 0, YAR_LOG_OUTPUT_DEBUGGER = 1, YAR_LOG_OUTPUT_FILE = 2 };

YAR_BEGIN_DECLS

/* Queues one line: 0; -3 level above the threshold (3); -5 no output on; -6 null file name or
 * format, a level below 0 or a line that reaches 2048 bytes; -7 formatting failed or the text
 * does not fit; -1 or -2 the writer could not start (-2: the log is closed); -2 or -4 (ring full)
 * from the queue. */
int32_t YAR_LogPrint(int32_t level, const char *file, int32_t line, const char *format, ...)
    __attribute__((format(printf, 4, 5)));
/* 0, or -6 for an unknown output. Enabling the file output makes the file numbers grow without
 * wrapping. */
int32_t YAR_Log_EnableOutput(int32_t output);
/* 0, or -6. Lines queued so far still reach the output; disabling the last output stops the
 * writer. */
int32_t YAR_Log_DisableOutput(int32_t output);
int32_t YAR_Log_ResetLevel(void);
/* Close stops the writer (as the runtime's last stop does); lines then fail with -2 until Open. */
int32_t YAR_Log_Open(void);
int32_t YAR_Log_Close(void);
/* Backslashes become '/', and a '/' is appended when missing. Null is left alone. */
void YAR_Log_NormalizeDir(char *path);

YAR_END_DECLS

#endif
