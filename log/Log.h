#pragma once
// The diagnostics log: levelled, time-stamped lines in one file, safe from any thread.
// These free functions are the only entry points the rest of the program uses.

constexpr int LOG_DEBUG = 0;
constexpr int LOG_INFO = 4;
constexpr int LOG_WARNING = 8;
constexpr int LOG_ERROR = 12;

// Creates the process-wide log with the given file name; a second call changes nothing.
void LogOpen(const char* fileName);
// Sets the threshold when it is at most 16; larger values are ignored.
void LogSetLevel(int level);
// printf-style; does nothing without a log or below the threshold.
void LogWrite(int level, const char* format, ...) __attribute__((format(printf, 2, 3)));
// Messages that passed the threshold since LogOpen but never reached the file; 0 without a log.
long LogLostLines();
// Closes the file and destroys the log. Safe against late writers on other threads.
void LogClose();
