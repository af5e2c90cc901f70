#pragma once
// The program's diagnostic log: one file per start day ("yyyymmdd.log") in the log
// folder, START/END banners and time-stamped entries, CR LF line ends. Any thread may log.
#include <exception>
#include <string>

namespace fv {

// Opens today's log in the folder (nothing when the folder is missing) after pruning
// old logs to seven, and writes the START banner. The folder is made owner-only (0700) and the
// file is created and kept owner-only (0600). Raises the stream errors of the file layer.
void OpenCorvaLog(const std::string& logFolder);
// Writes the END banner and closes the file; the file is released even when the banner fails.
void CloseCorvaLog();
bool IsCorvaLogOpen();
// Path of the open log file, empty when none is open.
std::string CorvaLogFileName();

void WriteLog(const std::string& message);
void WriteLogText(const std::string& label, const std::string& text);
void WriteLogException(const std::string& label, const std::exception& e);
void WriteLogFailed(const std::string& operation, const std::exception& e);
void WriteLogExceptionDetail(const std::string& label, const std::string& detail, const std::exception& e);

// The session id as log lines show it: a short prefix, the rest masked.
std::string MaskSessionId(const std::string& sessionId);
// A parameter text (command line, forwarded parameters, URL query) as the log shows it: the value
// of every "SessionId=" item, in any case, masked as MaskSessionId does. Every log entry and the
// START banner pass through it.
std::string MaskLoggedParams(const std::string& text);

// Deletes the oldest "*.log" files of the folder until seven remain.
void DeleteOldLogFiles(const std::string& folder);

// The command line written under START; the program sets it from main() (defaults to /proc/self/cmdline).
void SetLogCommandLine(const std::string& commandLine);

}  // namespace fv
