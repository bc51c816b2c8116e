#pragma once

#include "connections/connection.h"

#include <QDialog>

class QAbstractButton;
class QCheckBox;
class QDialogButtonBox;
class QLineEdit;

// The dialog in which a profile is created or changed. The record is copied in and
// overwritten with the fields only when the dialog is accepted with valid input.
class ConnectionEditor : public QDialog
{
    Q_OBJECT

public:
    ConnectionEditor(const Connection &connection, QWidget *parent = nullptr);

    const Connection &connection() const { return m_connection; }
    // Whether the profile was saved with "Save As Global".
    const bool &isGlobal() const { return m_global; }

    // Offers saving the new profile into the machine-wide folder.
    void addSaveAsGlobalButton();

public slots:
    void done(int result) override;

private slots:
    void on_ButtonBox_clicked(QAbstractButton *button);
    void on_HostLineEdit_textChanged();
    void on_NameLineEdit_textChanged();
    void on_PortLineEdit_textChanged();

private:
    void buildForm();
    void fillFields();
    bool requiredFieldsAcceptable() const;
    void updateSaveButtons();

    Connection m_connection;
    bool m_global = false;

    QLineEdit *m_nameLineEdit = nullptr;
    QLineEdit *m_hostLineEdit = nullptr;
    QLineEdit *m_portLineEdit = nullptr;
    QLineEdit *m_userLineEdit = nullptr;
    QLineEdit *m_sciLineEdit = nullptr;
    QCheckBox *m_fipsCheckBox = nullptr;
    QDialogButtonBox *m_buttonBox = nullptr;
};
