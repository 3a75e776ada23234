// The application object: a QApplication whose event dispatch reports any failure that escapes
// an event handler and then goes on with the next event.
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <QApplication>

namespace gq::app {

// The desktop entry's id without ".desktop": the AppStream id, in reverse-DNS form.
inline constexpr const char* kDesktopFileName = "org.gridquilt.Gridquilt";

class TApplication : public QApplication {
    Q_OBJECT

public:
    TApplication(int& argc, char** argv);

    bool notify(QObject* receiver, QEvent* event) override;
};

} // namespace gq::app
