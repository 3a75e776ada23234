// The About dialog: product name and version, the web page and the contact address as links.
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <QDialog>
#include <QLabel>

namespace gq::app {

// A label that acts as a link: blue, underlined, hand pointer, and a Clicked signal.
class TLinkLabel : public QLabel {
    Q_OBJECT

public:
    explicit TLinkLabel(const QString& text, QWidget* parent = nullptr);

signals:
    void Clicked();

protected:
    void mouseReleaseEvent(QMouseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
};

class TFMAbout : public QDialog {
    Q_OBJECT

public:
    explicit TFMAbout(QWidget* owner = nullptr);

    QLabel* Label1;
    QLabel* Label4;
    TLinkLabel* Label5;
    QLabel* Label6;
    TLinkLabel* Label7;

    void FormShow();
    void Label5Click();
    void Label7Click();

protected:
    void showEvent(QShowEvent* event) override;
};

} // namespace gq::app
