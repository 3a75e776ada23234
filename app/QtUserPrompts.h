// The user prompts of the application over Qt: message boxes, the save-file dialog, the hourglass
// and the busy window.
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "common/UserPrompts.h"

#include <QStringList>

#include <string>

class QMessageBox;
class QWidget;

namespace gq::app {

// Turns a filter written as "Description|*.ext|Description|*.a;*.b" into Qt name filters
// ("Description (*.ext)"); a description that already ends with its patterns in brackets is kept.
QStringList QtNameFilters(const std::string& filter);

// The extension, without its dot, that a Qt name filter gives a file name typed without one: that
// of its first pattern when it is a plain "*.ext", else empty ("All files (*)" gives none).
QString NameFilterSuffix(const QString& nameFilter);

// Makes a message box wide enough that its title bar shows the whole title.
void WidenForTitle(QMessageBox& box);

class QtUserPrompts : public UserPrompts {
public:
    // `owner` parents the dialogs (may be null).
    explicit QtUserPrompts(QWidget* owner = nullptr) : m_owner(owner) {}

    void ShowMessage(const std::string& text, const std::string& details = {}) override;
    void ShowError(const std::string& text) override;
    bool AskYesNo(const std::string& text, const std::string& caption) override;
    bool ChooseSaveFile(const std::string& defaultExtension, const std::string& filter, const std::string& initialName,
                        std::string& chosenPath) override;
    void BeginHourglass() override;
    void EndHourglass() override;
    void ShowBusy(bool show, bool cancelVisible) override;

private:
    QWidget* m_owner;
};

} // namespace gq::app
