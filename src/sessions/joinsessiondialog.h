#pragma once

#include <QDialog>
#include <QString>

class QCheckBox;
class QDialogButtonBox;
class QLineEdit;

// Asks a viewer for the name to show to the others and for the sharing key of the session
// to join. The values are read once the dialog was accepted.
class JoinSessionDialog : public QDialog
{
    Q_OBJECT

public:
    explicit JoinSessionDialog(QWidget *parent = nullptr);

    QString viewerName() const { return m_viewerName; }
    QString sharingKey() const { return m_sharingKey; }
    bool fips() const { return m_fips; }

public slots:
    // Accepting needs both fields filled in; the values are taken then.
    void done(int result) override;

private slots:
    void on_IdLineEdit_textChanged();
    void on_SharingKeyLineEdit_textChanged();

private:
    void buildForm();
    bool isComplete() const;

    QLineEdit *idLineEdit = nullptr;
    QLineEdit *sharingKeyLineEdit = nullptr;
    QCheckBox *fipsCheckBox = nullptr;
    QDialogButtonBox *buttonBox = nullptr;

    QString m_viewerName;
    QString m_sharingKey;
    bool m_fips = false;
};
