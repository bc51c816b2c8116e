#include "bookmarkstore.h"

#include "lockfile.h"
#include "replylimits.h"

#include "app/cookie.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QSaveFile>
#include <QSettings>
#include <QStandardPaths>

#include <cstdio>

namespace {

QString tr(const char *text) { return QCoreApplication::translate("BookmarkStore", text); }

QJsonObject entry(const QString &id, const QString &name, const QString &command, const QString &geometry)
{
    return QJsonObject{{QStringLiteral("id"), id},
                       {QStringLiteral("name"), name},
                       {QStringLiteral("command"), command},
                       {QStringLiteral("geometry"), geometry}};
}

// Stable ids for suggestions, so a client's selection survives a poll.
QString suggestionId(const QString &command)
{
    return QStringLiteral("suggestion-")
        + QString::fromLatin1(QCryptographicHash::hash(command.toUtf8(), QCryptographicHash::Sha1).toHex().left(16));
}

bool installed(const QString &program)
{
    if (program.isEmpty())
        return false;
    if (QDir::isAbsolutePath(program))
        return QFileInfo(program).isExecutable();
    return !QStandardPaths::findExecutable(program).isEmpty()
        || !QStandardPaths::findExecutable(program, {QStringLiteral("/usr/bin"), QStringLiteral("/usr/local/bin")}).isEmpty();
}

QString firstWord(const QString &command) { return command.simplified().section(QLatin1Char(' '), 0, 0); }

bool tooLong(const QString &name, const QString &command, const QString &geometry)
{
    return ReplyLimits::fieldTooLong(name) || ReplyLimits::fieldTooLong(command)
        || ReplyLimits::fieldTooLong(geometry);
}

// What the file holds must fit into one reply: the bookmarks as far as they
// fit, then the history from its newest entry, within the bounds.
int storedBytes(const QJsonArray &bookmarks, const QJsonArray &history)
{
    return ReplyLimits::jsonBytes(bookmarks) + ReplyLimits::jsonBytes(history);
}

void fit(QJsonArray &bookmarks, QJsonArray &history)
{
    while (!bookmarks.isEmpty() && ReplyLimits::jsonBytes(bookmarks) > ReplyLimits::StoredBookmarkBytes)
        bookmarks.removeLast();
    while (history.size() > BookmarkStore::MaxHistory)
        history.removeLast();
    while (!history.isEmpty() && storedBytes(bookmarks, history) > ReplyLimits::StoredBookmarkBytes)
        history.removeLast();
}

} // namespace

BookmarkStore::BookmarkStore(const QString &dataDir) : m_dataDir(dataDir) {}

QJsonArray BookmarkStore::suggestions() const
{
    QJsonArray list;
    // A desktop the host lists itself is not offered again under the same name (its entry
    // may name the program by its full path).
    QStringList seen;
    int bytes = 2;
    auto add = [&](const QString &name, const QString &command, const QString &geometry) {
        const QJsonObject suggestion = entry(suggestionId(command), name, command, geometry);
        const int size = ReplyLimits::jsonBytes(suggestion) + 1;
        if (seen.contains(command) || seen.contains(name) || bytes + size > ReplyLimits::SuggestionBytes)
            return;
        seen << command << name;
        bytes += size;
        list.append(suggestion);
    };
    // Desktop sessions the host offers to its display managers.
    const QDir sessions(QStringLiteral("/usr/share/xsessions"));
    const QStringList files = sessions.entryList({QStringLiteral("*.desktop")}, QDir::Files, QDir::Name);
    for (const QString &file : files) {
        QSettings desktop(sessions.filePath(file), QSettings::IniFormat);
        desktop.beginGroup(QStringLiteral("Desktop Entry"));
        const QString exec = desktop.value(QStringLiteral("Exec")).toString();
        const QString tryExec = desktop.value(QStringLiteral("TryExec")).toString();
        const QString name = desktop.value(QStringLiteral("Name")).toString();
        if (desktop.value(QStringLiteral("Hidden")).toString() == QLatin1String("true")
            || desktop.value(QStringLiteral("NoDisplay")).toString() == QLatin1String("true"))
            continue;
        if (exec.isEmpty() || !installed(firstWord(exec)) || (!tryExec.isEmpty() && !installed(tryExec)))
            continue;
        add(name.isEmpty() ? firstWord(exec) : name, exec, QStringLiteral("1280x800"));
    }
    // Well-known desktop starters where no session file names them.
    const QList<QPair<QString, QString>> desktops{
        {QStringLiteral("Xfce Desktop"), QStringLiteral("startxfce4")},
        {QStringLiteral("LXQt Desktop"), QStringLiteral("startlxqt")},
        {QStringLiteral("LXDE Desktop"), QStringLiteral("startlxde")},
        {QStringLiteral("MATE Desktop"), QStringLiteral("mate-session")},
        {QStringLiteral("Openbox"), QStringLiteral("openbox-session")},
        {QStringLiteral("IceWM"), QStringLiteral("icewm-session")},
    };
    for (const auto &desktop : desktops) {
        if (installed(desktop.second))
            add(desktop.first, desktop.second, QStringLiteral("1280x800"));
    }
    // A terminal alone, as a window of the user's own desktop.
    if (installed(QStringLiteral("xterm")))
        add(QStringLiteral("XTerm"), QStringLiteral("xterm -ls"), QStringLiteral("rootless"));
    return list;
}

BookmarkStore::Read BookmarkStore::read(QJsonArray &bookmarks, QJsonArray &history) const
{
    QFile file(m_dataDir + QStringLiteral("/bookmarks.json"));
    if (!file.open(QIODevice::ReadOnly))
        return file.exists() ? Read::Failed : Read::Ok;
    const QByteArray text = file.readAll();
    if (text.trimmed().isEmpty())
        return Read::Ok;
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(text, &error);
    if (!doc.isObject())
        return Read::Damaged;
    const QJsonObject root = doc.object();
    auto clean = [](const QJsonArray &in) {
        QJsonArray out;
        for (const QJsonValue &value : in) {
            const QJsonObject o = value.toObject();
            if (!o.value(QStringLiteral("id")).toString().isEmpty())
                out.append(entry(o.value(QStringLiteral("id")).toString(), o.value(QStringLiteral("name")).toString(),
                                 o.value(QStringLiteral("command")).toString(),
                                 o.value(QStringLiteral("geometry")).toString()));
        }
        return out;
    };
    bookmarks = clean(root.value(QStringLiteral("bookmarks")).toArray());
    history = clean(root.value(QStringLiteral("history")).toArray());
    return Read::Ok;
}

bool BookmarkStore::readForChange(QJsonArray &bookmarks, QJsonArray &history) const
{
    const Read state = read(bookmarks, history);
    if (state != Read::Damaged)
        return state == Read::Ok;
    // Start anew, but keep what cannot be read for the user to look at.
    const QString path = m_dataDir + QStringLiteral("/bookmarks.json");
    const QString aside = path + QStringLiteral(".damaged-")
        + QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-hhmmss"));
    if (!QFile::rename(path, aside))
        return false;
    std::fprintf(stderr, "nuvek2_sci: %s\n",
                 qPrintable(tr("%1 could not be read; it was kept as %2 and the bookmarks start anew.").arg(path, aside)));
    return true;
}

bool BookmarkStore::change(QString &error, const std::function<bool(QJsonArray &, QJsonArray &)> &apply) const
{
    QDir().mkpath(m_dataDir);
    LockFile lock(m_dataDir + QStringLiteral("/bookmarks.lock"));
    lock.tryLock(30000);
    QJsonArray bookmarks, history;
    if (!lock.isLocked() || !readForChange(bookmarks, history)) {
        error = tr("The bookmarks cannot be read.");
        return false;
    }
    if (!apply(bookmarks, history))
        return false;
    if (!write(bookmarks, history)) {
        error = tr("The bookmarks cannot be saved.");
        return false;
    }
    return true;
}

bool BookmarkStore::write(const QJsonArray &bookmarks, const QJsonArray &history) const
{
    QSaveFile file(m_dataDir + QStringLiteral("/bookmarks.json"));
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    file.write(QJsonDocument(QJsonObject{{QStringLiteral("bookmarks"), bookmarks},
                                         {QStringLiteral("history"), history}})
                   .toJson());
    return file.commit();
}

void BookmarkStore::lists(QJsonArray &bookmarks, QJsonArray &history) const
{
    bookmarks = QJsonArray();
    history = QJsonArray();
    read(bookmarks, history);
    fit(bookmarks, history);
}

bool BookmarkStore::edit(const QString &id, const QString &name, const QString &command, const QString &geometry,
                         QString &error)
{
    if (command.trimmed().isEmpty()) {
        error = tr("The command is empty.");
        return false;
    }
    if (tooLong(name, command, geometry)) {
        error = tr("The bookmark is too long.");
        return false;
    }
    return change(error, [&](QJsonArray &bookmarks, QJsonArray &history) {
        const int bytesBefore = ReplyLimits::jsonBytes(bookmarks);
        if (id.isEmpty()) {
            if (bookmarks.size() >= MaxBookmarks) {
                error = tr("There are too many bookmarks.");
                return false;
            }
            QString newId;
            if (!generateCookie(newId, error))
                return false;
            bookmarks.append(entry(newId, name, command, geometry));
        } else {
            int at = -1;
            for (int i = 0; i < bookmarks.size() && at < 0; ++i) {
                if (bookmarks[i].toObject().value(QStringLiteral("id")).toString() == id)
                    at = i;
            }
            if (at < 0) {
                error = tr("There is no such bookmark.");
                return false;
            }
            bookmarks[at] = entry(id, name, command, geometry);
        }
        // Bookmarks that grow beyond one reply are refused (a file of an older
        // version may hold more: it may still shrink).
        const int bytesAfter = ReplyLimits::jsonBytes(bookmarks);
        if (bytesAfter > ReplyLimits::StoredBookmarkBytes && bytesAfter > bytesBefore) {
            error = tr("There is no room for this bookmark: delete some bookmarks or make them shorter.");
            return false;
        }
        fit(bookmarks, history); // the oldest history makes room
        return true;
    });
}

bool BookmarkStore::remove(const QString &id, QString &error)
{
    return change(error, [&](QJsonArray &bookmarks, QJsonArray &history) {
        bool found = false;
        for (QJsonArray *list : {&bookmarks, &history}) {
            for (int i = list->size() - 1; i >= 0; --i) {
                if (!id.isEmpty() && list->at(i).toObject().value(QStringLiteral("id")).toString() == id) {
                    list->removeAt(i);
                    found = true;
                }
            }
        }
        if (!found)
            error = tr("There is no such bookmark.");
        return found;
    });
}

void BookmarkStore::addHistory(const QString &name, const QString &command, const QString &geometry)
{
    if (tooLong(name, command, geometry))
        return;
    QString error;
    change(error, [&](QJsonArray &bookmarks, QJsonArray &history) {
        QString id;
        for (int i = history.size() - 1; i >= 0; --i) {
            const QJsonObject o = history[i].toObject();
            if (o.value(QStringLiteral("command")).toString() == command
                && o.value(QStringLiteral("geometry")).toString() == geometry) {
                id = o.value(QStringLiteral("id")).toString();
                history.removeAt(i);
            }
        }
        if (id.isEmpty() && !generateCookie(id, error))
            return false;
        history.prepend(entry(id, name, command, geometry));
        fit(bookmarks, history);
        return true;
    });
}
