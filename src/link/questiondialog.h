#pragma once

#include <QDialog>

class QDialogButtonBox;
class QLabel;
class QPushButton;

// A small yes/no dialog: one question and buttons whose texts the caller chooses.
// An accepting button accepts the dialog, a rejecting one rejects it.
class QuestionDialog : public QDialog
{
    Q_OBJECT

public:
    explicit QuestionDialog(QWidget *parent = nullptr);

    void setQuestion(const QString &question);
    QPushButton *addAcceptButton(const QString &text);
    QPushButton *addRejectButton(const QString &text);

private:
    QLabel *m_questionLabel = nullptr;
    QDialogButtonBox *m_buttonBox = nullptr;
};
