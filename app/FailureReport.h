// The application's title, which its message boxes carry, and the failure report.
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace gq::app {

// The title taken from a program file's path: the folder and everything from the first "." of the
// file name are dropped, every character but the first is lower-cased and the first is capitalised
// ("/usr/bin/gridquilt" and "Gridquilt.exe" give "Gridquilt", "GQ.Tool.bin" gives "Gq").
std::string ApplicationTitleFrom(std::string_view programPath);

// The title of this running program, from its executable's file name.
std::string ApplicationTitle();

// The failure report's text: the message, with "." appended when the message is not empty and its
// last character's code is above that of ".".
std::string FailureReportText(const std::string& message);

// Shows the failure report (stop icon, OK, application title) for `message`.
void ShowFailureReport(const std::string& message);

// Where failure reports go instead of a message box (tests); returns the sink that was in place.
// An empty sink restores the message box.
using FailureReportSink = std::function<void(const std::string& title, const std::string& text)>;
FailureReportSink SetFailureReportSink(FailureReportSink sink);

// Reports the exception being handled (call only inside a catch block) with the failure report.
void ReportCurrentException() noexcept;

// Runs one event handler so that no exception leaves it: a failure is reported and the program
// goes on with the next event.
void RunGuarded(const std::function<void()>& handler) noexcept;

} // namespace gq::app
