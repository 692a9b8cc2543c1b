// Logging library: per-module level masks, daily debug and access files, lines written by a background
// thread.
#pragma once

#include <cstdarg>

// Level bit whose lines go to the access file; every other level goes to the debug file.
constexpr unsigned LOG_LEVEL_ACCESS = 64;

// Prepares logging into `folder` (which must exist). Non-zero when logging is ready.
int log_init(const char* folder);

// Module names, indexed by module number (at most 32 are kept).
void log_setmodules(const char* const* names, int count);

// File name patterns; %yyyy, %MM and %dd expand to the day the line was written.
void log_setdebugfname(const char* pattern);
void log_setaccessfname(const char* pattern);

// Sets the level mask of one module (module 0: of every module) and the line format:
// %d date, %t time, %s message, %m module name, %l source line, %% a percent sign.
void log_setlevel(int module, unsigned level_mask, const char* line_format);

// True when a line of this module and level would be written.
bool log_enable(int module, unsigned level);

// Formats one line and queues it for writing; it never waits for the disk.
void log_write(int module, unsigned level, int source_line, const char* format, ...)
    __attribute__((format(printf, 4, 5)));
void log_vwrite(int module, unsigned level, int source_line, const char* format, va_list args);

// Writes everything queued, closes the files and ends logging until the next log_init.
void log_free();
