// The application's title and the failure report.
// SPDX-License-Identifier: Apache-2.0
#include "app/FailureReport.h"

#include <QApplication>
#include <QMessageBox>
#include <QString>

#include <exception>

namespace gq::app {

namespace {

FailureReportSink& InstalledFailureReportSink()
{
    static FailureReportSink sink;
    return sink;
}

} // namespace

std::string ApplicationTitleFrom(std::string_view programPath)
{
    std::string_view name = programPath;
    if (const auto slash = name.rfind('/'); slash != std::string_view::npos) {
        name.remove_prefix(slash + 1);
    }
    if (const auto dot = name.find('.'); dot != std::string_view::npos) {
        name = name.substr(0, dot);
    }
    const QString text = QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size()));
    if (text.isEmpty()) {
        return {};
    }
    // The first character is never lowered; it is raised so that the usual lower-case Linux
    // executable "gridquilt" gets the title that "Gridquilt.exe" gets on Windows. A surrogate
    // pair counts as one character.
    const qsizetype firstLength = (text.size() > 1 && text.at(0).isHighSurrogate()) ? 2 : 1;
    return (text.left(firstLength).toUpper() + text.mid(firstLength).toLower()).toStdString();
}

std::string ApplicationTitle()
{
    return ApplicationTitleFrom(QCoreApplication::applicationFilePath().toStdString());
}

std::string FailureReportText(const std::string& message)
{
    if (!message.empty() && static_cast<unsigned char>(message.back()) > static_cast<unsigned char>('.')) {
        return message + ".";
    }
    return message;
}

void ShowFailureReport(const std::string& message)
{
    const std::string title = ApplicationTitle();
    const std::string text = FailureReportText(message);
    if (InstalledFailureReportSink()) {
        InstalledFailureReportSink()(title, text);
        return;
    }
    QMessageBox box(QMessageBox::Critical, QString::fromStdString(title), QString::fromStdString(text), QMessageBox::Ok,
                    QApplication::activeWindow());
    box.exec();
}

FailureReportSink SetFailureReportSink(FailureReportSink sink)
{
    FailureReportSink previous = std::move(InstalledFailureReportSink());
    InstalledFailureReportSink() = std::move(sink);
    return previous;
}

void ReportCurrentException() noexcept
{
    try {
        try {
            throw;
        } catch (const std::exception& failure) {
            ShowFailureReport(failure.what());
        } catch (...) {
            ShowFailureReport("An unexpected failure occurred");
        }
    } catch (...) {
        // Showing the report itself failed (no memory, say): the event loop must still go on.
    }
}

void RunGuarded(const std::function<void()>& handler) noexcept
{
    try {
        handler();
    } catch (...) {
        ReportCurrentException();
    }
}

} // namespace gq::app
