// The user's language: loading the translations, and translating the texts that reach the window
// from the parts below it, which know no Qt.
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <QLocale>
#include <QString>
#include <QStringList>

#include <string>

namespace gq::app {

// Where the translations (gridquilt_LANG.qm) are looked for: beside an installed program in
// share/gridquilt/translations, and in the build folder's app/translations.
QStringList TranslationFolders();

// Loads Qt's own translation (dialog buttons, the file dialog) and Gridquilt's for `locale`, the
// first found in `folders`. A language without a translation, English above all, keeps the texts
// exactly as they are written. A QCoreApplication must exist; calling it again replaces them.
void InstallTranslations(const QLocale& locale, const QStringList& folders);

// A fixed text of the parts below the window ("Merge Completed!", a question), in the user's
// language.
QString Translated(const char* text);

// A message composed below the window, with each line that is a fixed text or a count of sheets
// translated; what names a sheet, a file or a reason stays as it is.
QString TranslatedMessage(const std::string& text);

} // namespace gq::app
