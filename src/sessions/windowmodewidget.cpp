#include "sessions/windowmodewidget.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QLineEdit>

namespace {
const QString Rootless = QStringLiteral("rootless");
}

WindowModeWidget::WindowModeWidget(QWidget *parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("WindowModeWidget"));
    resize(300, 29);

    auto *layout = new QGridLayout(this);
    layout->setObjectName(QStringLiteral("gridLayout"));
    layout->setContentsMargins(0, 0, 0, 0);

    m_singleApplicationBox = new QCheckBox(tr("Single Application"), this);
    m_singleApplicationBox->setObjectName(QStringLiteral("SingleApplicationBox"));
    layout->addWidget(m_singleApplicationBox, 0, 0);

    m_geometryLineEdit = new QLineEdit(this);
    m_geometryLineEdit->setObjectName(QStringLiteral("GeometryLineEdit"));
    layout->addWidget(m_geometryLineEdit, 0, 1);

    connect(m_singleApplicationBox, &QCheckBox::toggled, m_geometryLineEdit, &QLineEdit::setDisabled);
    QMetaObject::connectSlotsByName(this);
}

void WindowModeWidget::setModeOrGeometry(const QString &value)
{
    if (value == Rootless) {
        m_singleApplicationBox->setChecked(true);
        return;
    }
    m_singleApplicationBox->setChecked(false);
    m_geometryLineEdit->setText(value);
}

QString WindowModeWidget::modeOrGeometry() const
{
    if (m_singleApplicationBox->isChecked())
        return Rootless;
    return m_geometryLineEdit->hasAcceptableInput() ? m_geometryLineEdit->text() : QString();
}

void WindowModeWidget::on_SingleApplicationBox_toggled(bool checked)
{
    if (checked)
        return;
    m_geometryLineEdit->selectAll();
    m_geometryLineEdit->setFocus(Qt::OtherFocusReason);
}
