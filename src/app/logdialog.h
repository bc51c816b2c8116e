#pragma once

#include <QDialog>

class QDialogButtonBox;
class QGridLayout;
class QTextBrowser;

// Shows a read-only text, the diagnostic log of a connection's SSH client.
// The caller sets the title.
class LogDialog : public QDialog
{
    Q_OBJECT

public:
    explicit LogDialog(QWidget *parent = nullptr);

public slots:
    // Adds `text` unchanged at the end; line breaks in it start new lines.
    void append(const QString &text);

private:
    QGridLayout *gridLayout;
    QTextBrowser *TextBrowser;
    QDialogButtonBox *ButtonBox;
};
