// The user's language: English keeps every text exactly as written, each other language of the
// program translates the window, its questions and its messages.
// SPDX-License-Identifier: Apache-2.0
#include "app/Translations.h"
#include "app/TfmMain.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QHeaderView>
#include <QLabel>
#include <QMenuBar>
#include <QPushButton>
#include <QRadioButton>
#include <QToolButton>

namespace gq::app {
namespace {

const QStringList kFolders{GQ_BINARY_DIR "/app/translations"};

// The texts a user reads in the window, in one list.
QStringList WindowTexts()
{
    TfmMain window;
    QStringList texts{window.btnMerge->text(),  window.m1->text(),          window.Help1->text(),
                      window.Label1->text(),    window.rbMulty->text(),     window.rbSingle->text(),
                      window.btnAdd->toolTip(), window.btnBottom->toolTip()};
    for (int column = 0; column < 2; ++column) {
        texts << window.vtSrc->model()->headerData(column, Qt::Horizontal).toString();
    }
    return texts;
}

const std::string kReport = "Merge Completed!\n\n12 sheets were not merged:\n\u2022 \"Sales\" in /a.xlsx: gone\n";

TEST(Translations, EnglishKeepsEveryTextAndTheOtherLanguagesTranslate)
{
    InstallTranslations(QLocale("en_US"), kFolders);
    const QStringList english = WindowTexts();
    EXPECT_EQ(english.first(), "Click here to merge");
    EXPECT_EQ(english.at(3), QString::fromUtf8("\u2191 Drop Excel Files or Folders Here  \u2191"));
    EXPECT_EQ(TranslatedMessage(kReport), QString::fromStdString(kReport));
    EXPECT_EQ(Translated("Merge Completed!"), "Merge Completed!");
    for (const char* language : {"en_GB", "de", "fr", "es", "it", "pt_BR", "ru", "zh_CN", "ja"}) {
        InstallTranslations(QLocale(language), kFolders);
        const QStringList texts = WindowTexts();
        const QString report = TranslatedMessage(kReport);
        const bool isEnglish = QLocale(language).language() == QLocale::English;
        for (qsizetype i = 0; i < texts.size(); ++i) {
            EXPECT_EQ(texts[i] == english[i], isEnglish) << language << ": " << texts[i].toStdString();
        }
        EXPECT_EQ(report == QString::fromStdString(kReport), isEnglish) << language;
        EXPECT_TRUE(report.contains("12") && report.contains("\"Sales\" in /a.xlsx: gone")) << language;
    }
    InstallTranslations(QLocale("de_DE"), kFolders);
    EXPECT_EQ(WindowTexts().first(), QString::fromUtf8("Hier klicken zum Zusammenführen"));
    InstallTranslations(QLocale("en_US"), kFolders);
}

// Every text of every translation source has its translation.
TEST(Translations, EverySourceIsTranslated)
{
    for (const char* language : {"de", "fr", "es", "it", "pt_BR", "ru", "zh_CN", "ja"}) {
        QFile file(QString(GQ_SOURCE_DIR "/app/translations/gridquilt_%1.ts").arg(language));
        ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << language;
        const QString ts = QString::fromUtf8(file.readAll());
        EXPECT_FALSE(ts.contains("type=\"unfinished\"")) << language;
        EXPECT_FALSE(ts.contains("<translation></translation>")) << language;
        EXPECT_GE(ts.count("<translation>"), 35) << language;
    }
}

} // namespace
} // namespace gq::app
