// The user's language.
// SPDX-License-Identifier: Apache-2.0
#include "app/Translations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QRegularExpression>
#include <QTranslator>

#include <memory>
#include <vector>

namespace gq::app {

namespace {

// The fixed texts of the parts below the window, for the translation tools to find; they are
// looked up by their English text in the context "Messages".
[[maybe_unused]] const char* const kFixedTexts[] = {
    QT_TRANSLATE_NOOP("Messages", "Merge Completed!"),
    QT_TRANSLATE_NOOP("Messages", "No File need to merge!"),
    QT_TRANSLATE_NOOP("Messages", "You must intall MS Excel first!"),
    QT_TRANSLATE_NOOP("Messages", "Are you sure to delete the file from disk?"),
    QT_TRANSLATE_NOOP("Messages", "Warning"),
    QT_TRANSLATE_NOOP("Messages", "One sheet was not merged:"),
    QT_TRANSLATE_NOOP("Messages", "One sheet was merged with changes:"),
    QT_TRANSLATE_NOOP("Messages", "%1 sheets were not merged:"),
    QT_TRANSLATE_NOOP("Messages", "%1 sheets were merged with changes:"),
};

std::vector<std::unique_ptr<QTranslator>>& InstalledTranslators()
{
    static std::vector<std::unique_ptr<QTranslator>> translators;
    return translators;
}

} // namespace

QStringList TranslationFolders()
{
    const QString here = QCoreApplication::applicationDirPath();
    return {here + "/../share/gridquilt/translations", here + "/translations", here + "/../app/translations"};
}

void InstallTranslations(const QLocale& locale, const QStringList& folders)
{
    for (const auto& translator : InstalledTranslators()) {
        QCoreApplication::removeTranslator(translator.get());
    }
    InstalledTranslators().clear();
    auto qtTranslator = std::make_unique<QTranslator>();
    if (qtTranslator->load(locale, "qtbase", "_", QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        QCoreApplication::installTranslator(qtTranslator.get());
        InstalledTranslators().push_back(std::move(qtTranslator));
    }
    for (const QString& folder : folders) {
        auto ownTranslator = std::make_unique<QTranslator>();
        if (ownTranslator->load(locale, "gridquilt", "_", folder)) {
            QCoreApplication::installTranslator(ownTranslator.get());
            InstalledTranslators().push_back(std::move(ownTranslator));
            break;
        }
    }
}

QString Translated(const char* text)
{
    return QCoreApplication::translate("Messages", text);
}

QString TranslatedMessage(const std::string& text)
{
    static const QRegularExpression countedHeading(
        R"(^([0-9][0-9,]*) (sheets were not merged:|sheets were merged with changes:)$)");
    QStringList lines = QString::fromStdString(text).split('\n');
    for (QString& line : lines) {
        if (const QRegularExpressionMatch match = countedHeading.match(line); match.hasMatch()) {
            const QString source = "%1 " + match.captured(2);
            line = QCoreApplication::translate("Messages", source.toUtf8().constData()).arg(match.captured(1));
        } else if (!line.isEmpty()) {
            line = QCoreApplication::translate("Messages", line.toUtf8().constData());
        }
    }
    return lines.join('\n');
}

} // namespace gq::app
