#pragma once

#include <QWidget>

class QCheckBox;
class QLineEdit;

// The compound field for a session's window mode: a "Single Application" check
// box and, beside it, the desktop size (greyed out while the box is checked).
class WindowModeWidget : public QWidget
{
    Q_OBJECT

public:
    explicit WindowModeWidget(QWidget *parent = nullptr);

    // "rootless" checks the box and leaves the size alone; any other value
    // unchecks it and becomes the size text.
    void setModeOrGeometry(const QString &value);
    // "rootless" while the box is checked, else the size text as typed.
    QString modeOrGeometry() const;

private slots:
    void on_SingleApplicationBox_toggled(bool checked);

private:
    QCheckBox *m_singleApplicationBox;
    QLineEdit *m_geometryLineEdit;
};
