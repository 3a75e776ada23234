// Small shared routines of the application: the web links and the busy window.
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <QUrl>

class QLabel;
class QWidget;

#include <functional>

namespace gq::app {

// The product's web page and the maker's contact address.
inline constexpr const char* HomePageUrl = "https://gridquilt.example.org/";
inline constexpr const char* ContactMailUrl = "mailto:support@gridquilt.example.org";

// Hands an address to the desktop (browser or mail program); the result is ignored.
using UrlOpener = std::function<void(const QUrl& url)>;
// Replaces the hand-off (tests observe it); returns the one in place. Empty restores the default,
// QDesktopServices::openUrl.
UrlOpener SetUrlOpener(UrlOpener opener);

// Open the web page / a new mail to the contact address. Neither reports anything back.
void OpenHomePage();
void OpenMailTo();

// Shows the busy window WaitForm (with or without its Cancel button) or hides it if it is shown.
void ShowBusy(bool show, bool cancelVisible);

// Narrows the font of a label of fixed size until its text fits its width: the layout fixes the
// sizes, while the face the desktop has in place of the one laid out for is often wider.
void FitTextToWidth(QLabel* label);

// Centres a top-level window, outer frame included, on its screen. The window manager adds its
// frame only once the window is shown, so the window is centred at once from what is known then
// and once more when it first appears on screen, from the frame it then has.
void CentreOnScreen(QWidget* window);

} // namespace gq::app
