#pragma once
// One road for "what happened" lines (--verbose, VELMORA_DEBUG=1), open to every layer. The
// application decides where the lines go by setting a sink once at start-up; until it does, and
// whenever it sets none, a line costs one load and nothing is formatted.
//
// Any thread may log; the sink must be safe to call from several threads at once. Logging
// never fails in a way a caller can see.

#include <string>
#include <string_view>

using LogSink = void (*)(std::string_view line);

// Installs the sink (null: lines are dropped). Meant to be called once, before any worker
// thread starts.
void SetLogSink(LogSink sink);
// Whether a sink is installed: lets a caller skip gathering what it would log.
bool LogEnabled();

// printf-style; the finished line (UTF-8, no trailing newline) goes to the sink.
void LogLine(const char* format, ...) __attribute__((format(printf, 1, 2)));
// A wide text for a log line: UTF-8 with each carried byte and each control character
// (IsControlCharacter) shown as U+FFFD.
std::string LogText(std::wstring_view text);
