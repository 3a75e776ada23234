// The user prompts of the application over Qt.
// SPDX-License-Identifier: Apache-2.0
#include "app/QtUserPrompts.h"

#include "app/FailureReport.h"
#include "app/Translations.h"
#include "app/uFunction.h"

#include <QFileDialog>
#include <QGuiApplication>
#include <QLabel>
#include <QMessageBox>

#include <algorithm>

namespace gq::app {

QStringList QtNameFilters(const std::string& filter)
{
    const QStringList parts = QString::fromStdString(filter).split('|');
    QStringList out;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        const QString description = parts[i].trimmed();
        QStringList patterns = parts[i + 1].split(';', Qt::SkipEmptyParts);
        for (QString& pattern : patterns) {
            pattern = pattern.trimmed();
        }
        const QString bracketed = "(" + patterns.join(' ') + ")";
        // Qt reads the patterns from the last brackets, so a description that shows them already
        // needs nothing more.
        out << (description.endsWith(bracketed) ? description : (description + " " + bracketed).trimmed());
    }
    return out;
}

QString NameFilterSuffix(const QString& nameFilter)
{
    const qsizetype openParen = nameFilter.lastIndexOf('(');
    const qsizetype closeParen = nameFilter.lastIndexOf(')');
    const QString patterns = openParen >= 0 && closeParen > openParen
                                 ? nameFilter.mid(openParen + 1, closeParen - openParen - 1)
                                 : nameFilter;
    const QString first = patterns.split(' ', Qt::SkipEmptyParts).value(0);
    if (!first.startsWith("*.")) {
        return {};
    }
    const QString suffix = first.mid(2);
    for (const QChar c : suffix) {
        if (!c.isLetterOrNumber()) {
            return {};
        }
    }
    return suffix;
}

void QtUserPrompts::ShowMessage(const std::string& text, const std::string& details)
{
    QMessageBox box(QMessageBox::NoIcon, QString::fromStdString(ApplicationTitle()), TranslatedMessage(text),
                    QMessageBox::Ok, m_owner);
    if (!details.empty()) {
        box.setDetailedText(QString::fromStdString(details));
    }
    WidenForTitle(box);
    box.exec();
}

void QtUserPrompts::ShowError(const std::string& text)
{
    QMessageBox box(QMessageBox::Critical, QString::fromStdString(ApplicationTitle()), QString::fromStdString(text),
                    QMessageBox::Ok, m_owner);
    WidenForTitle(box);
    box.exec();
}

bool QtUserPrompts::AskYesNo(const std::string& text, const std::string& caption)
{
    QMessageBox box(QMessageBox::Question, Translated(caption.c_str()), Translated(text.c_str()),
                    QMessageBox::Yes | QMessageBox::No, m_owner);
    return box.exec() == QMessageBox::Yes;
}

bool QtUserPrompts::ChooseSaveFile(const std::string& defaultExtension, const std::string& filter,
                                   const std::string& initialName, std::string& chosenPath)
{
    // A fresh dialog for every call: nothing of an earlier choice carries over.
    QFileDialog dialog(m_owner);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    // The program asks its own question about an existing file.
    dialog.setOption(QFileDialog::DontConfirmOverwrite, true);
    QString suffix = QString::fromStdString(defaultExtension);
    if (suffix.startsWith('.')) {
        suffix.remove(0, 1);
    }
    dialog.setDefaultSuffix(suffix);
    const QStringList filters = QtNameFilters(filter);
    if (!filters.isEmpty()) {
        dialog.setNameFilters(filters);
        // The file type the user chooses gives the extension of a name typed without one, so that
        // choosing the second type and typing "report" gives "report.xlsx", not "report.xls".
        QObject::connect(&dialog, &QFileDialog::filterSelected, &dialog, [&dialog](const QString& chosen) {
            const QString chosenSuffix = NameFilterSuffix(chosen);
            if (!chosenSuffix.isEmpty()) {
                dialog.setDefaultSuffix(chosenSuffix);
            }
        });
    }
    if (!initialName.empty()) {
        dialog.selectFile(QString::fromStdString(initialName));
    }
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return false;
    }
    chosenPath = dialog.selectedFiles().constFirst().toStdString();
    return true;
}

void WidenForTitle(QMessageBox& box)
{
    // A box sizes itself to its text, and a short text ("Merge Completed!") makes a box whose
    // title bar cuts the title off. The title bar's font is the window manager's; the application
    // font a fifth larger, with room for the title bar's buttons, stands in for it.
    QFont titleFont = box.font();
    titleFont.setPointSizeF(titleFont.pointSizeF() * 1.2);
    const int wanted = QFontMetrics(titleFont).horizontalAdvance(box.windowTitle()) + 120;
    if (auto* label = box.findChild<QLabel*>("qt_msgbox_label")) {
        const int others = box.sizeHint().width() - label->sizeHint().width();
        label->setMinimumWidth(std::max(label->minimumWidth(), wanted - others));
    }
}

void QtUserPrompts::BeginHourglass()
{
    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
}

void QtUserPrompts::EndHourglass()
{
    QGuiApplication::restoreOverrideCursor();
}

void QtUserPrompts::ShowBusy(bool show, bool cancelVisible)
{
    app::ShowBusy(show, cancelVisible);
}

} // namespace gq::app
