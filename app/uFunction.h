// Small shared routines of the application: the web links and the busy window.
#pragma once

#include <QUrl>

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

} // namespace gq::app
