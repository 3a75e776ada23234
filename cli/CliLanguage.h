// The command line in the user's language: gettext catalogues of the text domain "gridquilt-cli".
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>

// Marks an English text for the catalogues (xgettext --keyword=GQ_TEXT) where it is translated
// later than it is written: a help text, a message pattern.
#define GQ_TEXT(text) text

namespace gq::cli {

inline constexpr const char* kTextDomain = "gridquilt-cli";

// Follows the user's language (LANGUAGE, LC_ALL, LC_MESSAGES, LANG) for messages only: numbers and
// character classes stay those of the C locale, so that what the commands print for programs to
// read is the same in every language. The catalogues are looked for in share/locale beside the
// program's own folder, where the package installs them and where the build puts them.
void FollowUserLanguage();

// The translation of an English text; the text itself where there is none (in an English or C
// locale always).
const char* Tr(const char* english);

// The translation of `pattern`, with each "%s" in it replaced in turn by the next of `values`.
std::string Tr(const char* pattern, std::initializer_list<std::string_view> values);

// A message the commands made in English, in the user's language, line by line: a line is looked
// up whole, else matched against the catalogue's patterns (whose "%s" parts are translated in turn
// where they are known texts themselves, as a skip reason inside "%s: skipped: %s" is). A line the
// catalogue does not know stays as it is.
std::string TranslatedMessage(std::string_view message);

} // namespace gq::cli
