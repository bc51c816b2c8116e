#include "sessions/startsessiondialog.h"

#include "sessions/servermethods.h"
#include "sessions/windowmodewidget.h"

#include <QAction>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QRegularExpression>
#include <QRegularExpressionValidator>
#include <QSpacerItem>

StartSessionDialog::StartSessionDialog(JsonRpcHandler *handler, QWidget *parent)
    : QDialog(parent)
    , m_pendingCalls(handler)
{
    setObjectName(QStringLiteral("StartSessionDialog"));
    resize(400, 140);

    auto *gridLayout = new QGridLayout(this);
    gridLayout->setObjectName(QStringLiteral("gridLayout"));

    auto *formLayout = new QFormLayout;
    formLayout->setObjectName(QStringLiteral("formLayout"));
    formLayout->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);

    auto *label = new QLabel(this);
    label->setObjectName(QStringLiteral("label"));
    label->setText(tr("<html><head/><body><p>Command<span style=\" color:#aa0000;\">*</span></p></body></html>"));
    m_commandLineEdit = new QLineEdit(this);
    m_commandLineEdit->setObjectName(QStringLiteral("CommandLineEdit"));
    m_commandLineEdit->setPlaceholderText(tr("xterm -ls"));
    formLayout->setWidget(0, QFormLayout::LabelRole, label);
    formLayout->setWidget(0, QFormLayout::FieldRole, m_commandLineEdit);

    m_windowModeEdit = new WindowModeWidget(this);
    m_windowModeEdit->setObjectName(QStringLiteral("WindowModeEdit"));
    formLayout->setWidget(1, QFormLayout::SpanningRole, m_windowModeEdit);

    gridLayout->addLayout(formLayout, 0, 0);
    gridLayout->addItem(new QSpacerItem(20, 40, QSizePolicy::Minimum, QSizePolicy::Expanding), 2, 0);

    m_buttonBox = new QDialogButtonBox(this);
    m_buttonBox->setObjectName(QStringLiteral("ButtonBox"));
    m_buttonBox->setOrientation(Qt::Horizontal);
    m_buttonBox->setStandardButtons(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    gridLayout->addWidget(m_buttonBox, 3, 0);

    connect(m_buttonBox, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(m_buttonBox, &QDialogButtonBox::rejected, this, &QDialog::reject);
    setTabOrder(m_commandLineEdit, m_buttonBox);
    QMetaObject::connectSlotsByName(this);

    m_commandLineEdit->setValidator(new QRegularExpressionValidator(
        QRegularExpression(QStringLiteral("\\S.*")), m_commandLineEdit));
    m_buttonBox->button(QDialogButtonBox::Ok)->setEnabled(false);

    m_pendingCalls.call(QLatin1String(ServerMethod::Bookmark), bookmarkListParams(),
                        [this](const QString &, const QJsonValue &result, const QJsonValue &) {
                            handleBookmarkReply(result);
                        });
}

void StartSessionDialog::done(int result)
{
    if (result == QDialog::Accepted) {
        if (!m_commandLineEdit->hasAcceptableInput())
            return;
        const QString command = m_commandLineEdit->text();
        const QString geometry = m_windowModeEdit->modeOrGeometry();
        // The name only goes with an entry that was picked and left unchanged.
        if (command != m_sessionCommand || geometry != m_sessionGeometry)
            m_sessionName.clear();
        m_sessionCommand = command;
        m_sessionGeometry = geometry;
    }
    QDialog::done(result);
}

void StartSessionDialog::on_CommandLineEdit_textChanged()
{
    m_buttonBox->button(QDialogButtonBox::Ok)->setEnabled(m_commandLineEdit->hasAcceptableInput());
}

void StartSessionDialog::on_BookmarkButtonMenu_triggered(QAction *action)
{
    const QString id = action->data().toString();
    if (id.isEmpty())
        return;
    for (const Bookmark &entry : qAsConst(m_entries)) {
        if (entry.id != id)
            continue;
        m_sessionCommand = entry.command;
        m_sessionGeometry = entry.geometry;
        m_sessionName = entry.name;
        m_commandLineEdit->setText(entry.command);
        m_windowModeEdit->setModeOrGeometry(entry.geometry);
        return;
    }
}

void StartSessionDialog::handleBookmarkReply(const QJsonValue &result)
{
    if (!result.isObject())
        return;

    const QJsonObject object = result.toObject();
    const QList<Bookmark> suggestions = readBookmarkList(object.value(QLatin1String("suggestions")));
    const QList<Bookmark> bookmarks = readBookmarkList(object.value(QLatin1String("bookmarks")));
    const QList<Bookmark> history = readBookmarkList(object.value(QLatin1String("history")));

    auto *menu = new QMenu(this);
    menu->setObjectName(QStringLiteral("BookmarkButtonMenu"));
    connect(menu, &QMenu::triggered, this, &StartSessionDialog::on_BookmarkButtonMenu_triggered);

    const auto addSection = [this, menu](const QString &title, const QList<Bookmark> &list) {
        if (list.isEmpty())
            return;
        menu->addAction(title)->setEnabled(false);
        for (const Bookmark &entry : list) {
            QString text;
            if (!entry.name.isEmpty()) {
                text = tr("   %1").arg(entry.name);
            } else {
                const QString mode = entry.geometry == QLatin1String("rootless")
                    ? tr("Single Application") : entry.geometry;
                text = tr("   %1 (%2)").arg(entry.command, mode);
            }
            menu->addAction(text)->setData(entry.id);
        }
    };
    addSection(tr("Suggestions"), suggestions);
    addSection(tr("Bookmarks"), bookmarks);
    addSection(tr("History"), history);

    if (m_suggestionsButton) {
        m_buttonBox->removeButton(m_suggestionsButton);
        delete m_suggestionsButton->menu();
        delete m_suggestionsButton;
        m_suggestionsButton = nullptr;
    }

    if (menu->isEmpty()) {
        delete menu;
    } else {
        m_suggestionsButton = m_buttonBox->addButton(tr("Suggestions"), QDialogButtonBox::ActionRole);
        m_suggestionsButton->setObjectName(QStringLiteral("SuggestionsButton"));
        m_suggestionsButton->setMenu(menu);
    }

    m_entries = suggestions + bookmarks + history;
}
