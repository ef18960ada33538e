// SPDX-License-Identifier: GPL-3.0-or-later

// Two machines that share the database folder through Syncthing: a window on
// each instance's folder, driven as two users would, and the wait for the
// sync asked of Syncthing's REST interface. Started by scripts/sync_test.sh
// (`make test-sync`), which starts the two instances and names them in the
// environment.
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QtTest>

#include "main_window/database_view.h"
#include "record_store/database_session.h"
#include "record_store/record_store.h"
#include "tests/window_driver.h"

using namespace RecordStore;
using namespace TestSupport;

namespace {

const QString kFolder = QStringLiteral("stockbook");

// One Syncthing instance through its REST interface.
class Syncthing
{
public:
    explicit Syncthing(const char *side)
        : folder(qEnvironmentVariable(QByteArray("STOCKBOOK_SYNC_FOLDER_").append(side))),
          m_rest(qEnvironmentVariable(QByteArray("STOCKBOOK_SYNC_REST_").append(side))),
          m_key(qEnvironmentVariable("STOCKBOOK_SYNC_API_KEY").toUtf8())
    {
    }

    QJsonValue call(const QByteArray &verb, const QString &path, const QJsonObject &body = {})
    {
        QNetworkRequest request(QUrl(m_rest + path));
        request.setRawHeader("X-API-Key", m_key);
        request.setHeader(QNetworkRequest::ContentTypeHeader, "application/json");
        request.setTransferTimeout(20000);
        QNetworkReply *reply = m_network.sendCustomRequest(
            request, verb, body.isEmpty() ? QByteArray() : QJsonDocument(body).toJson());
        QEventLoop loop;
        QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
        loop.exec();
        reply->deleteLater();
        if (reply->error() != QNetworkReply::NoError)
            return QJsonValue();
        const QJsonDocument answer = QJsonDocument::fromJson(reply->readAll());
        return answer.isArray() ? QJsonValue(answer.array()) : QJsonValue(answer.object());
    }
    QJsonObject get(const QString &path)
    {
        return call("GET", path).toObject();
    }
    QJsonObject status()
    {
        return get("/rest/db/status?folder=" + kFolder);
    }
    double completionOf(const QString &device)
    {
        const QJsonObject c = get("/rest/db/completion?folder=" + kFolder + "&device=" + device);
        return c.value("needItems").toInt(-1) == 0 ? c.value("completion").toDouble() : -1;
    }
    void setPaused(bool paused)
    {
        call("PATCH", "/rest/config/folders/" + kFolder, {{"paused", paused}});
    }
    // The newest event's id, after which LocalIndexUpdated is awaited.
    qint64 lastEvent()
    {
        const QJsonArray events = call("GET", "/rest/events?limit=1&timeout=0").toArray();
        return events.isEmpty() ? 0 : events.last()["id"].toInteger();
    }
    // Waits (at most 30 s) for an event of `type` after event `since`, for
    // LocalIndexUpdated one that took in a change of stockbook.txt; the
    // milliseconds it took, or -1.
    qint64 awaitEvent(qint64 since, const QString &type = "LocalIndexUpdated")
    {
        QElapsedTimer waited;
        waited.start();
        while (waited.elapsed() < 30000) {
            const QJsonArray events =
                call("GET", QString("/rest/events?since=%1&timeout=1").arg(since)).toArray();
            for (const QJsonValue &event : events) {
                since = qMax(since, event["id"].toInteger());
                if (event["type"] == type &&
                    (type != "LocalIndexUpdated" ||
                     event["data"]["filenames"].toArray().contains(QString("stockbook.txt"))))
                    return waited.elapsed();
            }
        }
        return -1;
    }
    const QString folder;

private:
    QString m_rest;
    QByteArray m_key;
    QNetworkAccessManager m_network;
};

QByteArray fileOf(const QString &folder)
{
    QFile file(DatabaseFilePath(folder));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(no file)");
}

// What a scenario gathers as it goes: the lines that must be in both files
// afterwards, and the milliseconds from a write to its scan, and to the
// settled state.
struct Outcome
{
    bool scanned(qint64 ms)
    {
        timings << QString("scan %1").arg(ms);
        return ms >= 0;
    }
    // Clicks Save or Update; when the file changed, waits for the scan that
    // takes it in (not while the folder is paused).
    bool write(Syncthing &side, WindowDriver &w, Command command, bool paused = false)
    {
        const QByteArray before = fileOf(side.folder);
        const qint64 since = side.lastEvent();
        w.click(command);
        return fileOf(side.folder) == before || paused || scanned(side.awaitEvent(since));
    }
    // Adds `n` records of the user `who`.
    void records(WindowDriver &w, const QString &who, int n)
    {
        for (int k = 1; k <= n; ++k) {
            w.add(tag + who + QString::number(k), "part");
            expected << ComposeRecordLine(tag + who + QString::number(k), "part", "0", "...");
        }
    }

    const QString tag;
    QStringList expected;
    // Lines that were changed or removed on one side: none may stay.
    QStringList replaced;
    QStringList timings;
};

} // namespace

class SyncTest final : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void scenario_data();
    void scenario();

private:
    // Waits until both instances are idle, need nothing and each holds all
    // that the other has; the milliseconds it took, or -1 after two minutes.
    qint64 awaitSettled();
    void settle(Outcome &outcome);
    void pick(WindowDriver &w, int line, const QString &count);
    void addOnBoth(Outcome &outcome, WindowDriver &a, WindowDriver &b);
    void updateOnBoth(Outcome &outcome, WindowDriver &a, WindowDriver &b, bool sameRecord);
    void changeWhilePaused(Outcome &outcome, WindowDriver &a, WindowDriver &b, bool removal);
    void restoreWhileRunning(Outcome &outcome, WindowDriver &a, WindowDriver &b);
    QStringList faults(const Outcome &outcome, char kind, const QStringList &told) const;

    Syncthing m_a{"A"};
    Syncthing m_b{"B"};
    const QString m_idA = qEnvironmentVariable("STOCKBOOK_SYNC_DEVICE_A");
    const QString m_idB = qEnvironmentVariable("STOCKBOOK_SYNC_DEVICE_B");
};

void SyncTest::initTestCase()
{
    QVERIFY2(!m_a.folder.isEmpty(), "start through scripts/sync_test.sh");
    QElapsedTimer waited;
    waited.start();
    for (Syncthing *s : {&m_a, &m_b}) {
        while (s->get("/rest/system/ping")["ping"] != QString("pong") && waited.elapsed() < 60000)
            QTest::qWait(100);
        const QJsonObject options = s->get("/rest/config").value("options").toObject();
        for (const char *off : {"globalAnnounceEnabled", "localAnnounceEnabled", "relaysEnabled",
                                "natEnabled", "crashReportingEnabled"})
            QVERIFY2(!options.value(off).toBool(true), off);
        QCOMPARE(options.value("urAccepted").toInt(), -1);
        QCOMPARE(options.value("autoUpgradeIntervalH").toInt(), 0);
        QVERIFY(s->get("/rest/system/discovery").isEmpty());
    }
    while (!m_a.get("/rest/system/connections")["connections"][m_idB]["connected"].toBool() &&
           waited.elapsed() < 60000)
        QTest::qWait(200);
    QVERIFY2(waited.elapsed() < 60000, "the two instances did not connect");
    qInfo("up and connected after %lld ms", waited.elapsed());
    // What each listens on and has dialled: the other's loopback address only.
    for (Syncthing *s : {&m_a, &m_b}) {
        const QJsonObject status = s->get("/rest/system/status");
        for (const char *kind : {"connectionServiceStatus", "lastDialStatus"}) {
            QVERIFY(!status[kind].toObject().isEmpty());
            for (const QString &address : status[kind].toObject().keys())
                QVERIFY2(address.startsWith("tcp://127.0.0.1:"), qPrintable(address));
        }
    }
    const QString seed = ComposeRecordLine("S1", "10k", "5", "Resistor") +
                         ComposeRecordLine("S2", "BC547", "7", "Transistor") +
                         ComposeRecordLine("S3", "NE555", "2", "IC") + "\r\n";
    const qint64 since = m_b.lastEvent();
    QFile file(DatabaseFilePath(m_a.folder));
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(seed.toUtf8()) > 0);
    file.close();
    QVERIFY(m_b.awaitEvent(since) >= 0 || fileOf(m_b.folder) == seed.toUtf8());
    QVERIFY(awaitSettled() >= 0);
}

qint64 SyncTest::awaitSettled()
{
    QElapsedTimer waited;
    waited.start();
    int settledPolls = 0;
    while (waited.elapsed() < 120000) {
        const QJsonObject a = m_a.status();
        const QJsonObject b = m_b.status();
        const bool settled =
            a["state"] == QString("idle") && b["state"] == QString("idle") &&
            a["needTotalItems"].toInt(-1) == 0 && b["needTotalItems"].toInt(-1) == 0 &&
            m_a.completionOf(m_idB) == 100 && m_b.completionOf(m_idA) == 100 &&
            a["globalFiles"] == b["globalFiles"] && a["inSyncFiles"] == a["globalFiles"] &&
            b["inSyncFiles"] == b["globalFiles"];
        // Twice in a row, a quarter of a second apart.
        settledPolls = settled ? settledPolls + 1 : 0;
        if (settledPolls == 2)
            return waited.elapsed() - 250;
        QTest::qWait(250);
    }
    return -1;
}

void SyncTest::pick(WindowDriver &w, int line, const QString &count)
{
    w.clickLine(line, 3);
    w.typeInto(Count, count);
}

void SyncTest::scenario_data()
{
    QTest::addColumn<char>("kind");
    QTest::newRow("a: A adds 3 and saves, then B, opened before, adds 2 and saves") << 'a';
    QTest::newRow("b: both Update different records within a second") << 'b';
    QTest::newRow("c: both Update the same record") << 'c';
    QTest::newRow("d: B paused while both Update, Add and save, then resumed") << 'd';
    QTest::newRow("e: B paused while A Updates a record that B removes, both Add and save") << 'e';
    QTest::newRow("f: A restores an earlier version while A and B hold an unsaved Add") << 'f';
}

void SyncTest::scenario()
{
    QFETCH(char, kind);
    // Leftovers of an earlier scenario are taken in first, as a Save takes
    // them in: each copy's content is kept as a version and the copy removed.
    m_b.setPaused(false);
    if (!ListConflictCopies(m_a.folder).isEmpty()) {
        DatabaseSession leftovers(m_a.folder);
        const FileResult<QString> loaded = leftovers.load();
        QVERIFY(loaded.okOrNoFile() && leftovers.save(loaded.value).ok());
    }
    QVERIFY(awaitSettled() >= 0);
    Outcome outcome{QString(QChar(kind)).toUpper(), {}, {}, {}};
    WindowDriver a(m_a.folder);
    WindowDriver b(m_b.folder);
    MessageCatcher catcher;
    QElapsedTimer scenarioTime;
    scenarioTime.start();
    if (kind == 'a')
        addOnBoth(outcome, a, b);
    else if (kind == 'b' || kind == 'c')
        updateOnBoth(outcome, a, b, kind == 'c');
    else if (kind == 'f')
        restoreWhileRunning(outcome, a, b);
    else
        changeWhilePaused(outcome, a, b, kind == 'e');
    if (QTest::currentTestFailed())
        return;
    // The next Save on both sides.
    for (auto [side, w] : {std::pair(&m_a, &a), std::pair(&m_b, &b)}) {
        QVERIFY(outcome.write(*side, *w, Save));
        settle(outcome);
    }
    const QStringList found = faults(outcome, kind, catcher.texts());
    qInfo("scenario %c, ms: %s; %lld in all; %lld message boxes", kind,
          qPrintable(outcome.timings.join(", ")), scenarioTime.elapsed(),
          qint64(catcher.texts().size()));
    QVERIFY2(found.isEmpty(), qPrintable(found.join("\n")));
}

void SyncTest::settle(Outcome &outcome)
{
    const qint64 ms = awaitSettled();
    outcome.timings << QString("settled %1").arg(ms);
    QVERIFY2(ms >= 0, "Syncthing did not settle within two minutes");
}

// A adds 3 and saves, then B, opened before, adds 2 and saves.
void SyncTest::addOnBoth(Outcome &outcome, WindowDriver &a, WindowDriver &b)
{
    outcome.records(a, "A", 3);
    QVERIFY(outcome.write(m_a, a, Save));
    settle(outcome);
    outcome.records(b, "B", 2);
    QVERIFY(outcome.write(m_b, b, Save));
    settle(outcome);
}

// Both Update a record, different ones or the same, within a second.
void SyncTest::updateOnBoth(Outcome &outcome, WindowDriver &a, WindowDriver &b, bool sameRecord)
{
    const QString countA = outcome.tag + "11", countB = outcome.tag + "22";
    pick(a, 0, countA);
    pick(b, sameRecord ? 0 : 1, countB);
    const QStringList recordA = a.entry(), recordB = b.entry();
    outcome.expected << ComposeRecordLine(recordA[0], recordA[1], recordA[2], recordA[3])
                     << ComposeRecordLine(recordB[0], recordB[1], recordB[2], recordB[3]);
    const qint64 sinceA = m_a.lastEvent(), sinceB = m_b.lastEvent();
    a.click(Update);
    b.click(Update); // within a second of A's
    QVERIFY(outcome.scanned(m_a.awaitEvent(sinceA)) && outcome.scanned(m_b.awaitEvent(sinceB)));
    settle(outcome);
}

// B paused while both Update (A the first record, B the second), Add and
// save, then resumed; with `removal`, B removes by hand the record A Updates.
void SyncTest::changeWhilePaused(Outcome &outcome, WindowDriver &a, WindowDriver &b, bool removal)
{
    const qint64 paused = m_b.lastEvent();
    m_b.setPaused(true);
    QVERIFY(m_b.awaitEvent(paused, "FolderPaused") >= 0);
    QVERIFY(m_b.get("/rest/config/folders/" + kFolder)["paused"].toBool());
    for (auto [side, w, who, line] :
         {std::tuple(&m_a, &a, "A", int(removal)), std::tuple(&m_b, &b, "B", 1)}) {
        const QString old = w->viewText().split("\r\n")[line] + "\r\n";
        outcome.replaced << old;
        if (removal && side == &m_b) {
            w->view()->setDatabaseText(QString(w->viewText()).remove(old));
        } else {
            pick(*w, line, outcome.tag + who);
            const QStringList fields = w->entry();
            outcome.expected << ComposeRecordLine(fields[0], fields[1], fields[2], fields[3]);
            QVERIFY(outcome.write(*side, *w, Update, side == &m_b));
        }
        outcome.records(*w, who, 1);
        QVERIFY(outcome.write(*side, *w, Save, side == &m_b));
    }
    const qint64 since = m_b.lastEvent();
    m_b.setPaused(false);
    QVERIFY(outcome.scanned(m_b.awaitEvent(since)));
    settle(outcome);
}

// A removes a record, adds a wrong one and saves; then, while B and A each
// hold an unsaved Add, the content before is copied back over A's file.
void SyncTest::restoreWhileRunning(Outcome &outcome, WindowDriver &a, WindowDriver &b)
{
    outcome.records(a, "A", 2);
    QVERIFY(outcome.write(m_a, a, Save));
    settle(outcome);
    const QByteArray earlier = fileOf(m_a.folder);
    a.view()->setDatabaseText(QString(a.viewText()).remove(outcome.expected[0]));
    a.add(outcome.tag + "BAD", "part");
    outcome.replaced << ComposeRecordLine(outcome.tag + "BAD", "part", "0", "...");
    QVERIFY(outcome.write(m_a, a, Save));
    settle(outcome);
    outcome.records(b, "B", 1);
    a.add(outcome.tag + "A9", "part");
    outcome.expected << ComposeRecordLine(outcome.tag + "A9", "part", "0", "...");
    const qint64 since = m_a.lastEvent();
    QFile file(DatabaseFilePath(m_a.folder));
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(earlier) == earlier.size());
    file.close();
    QVERIFY(outcome.scanned(m_a.awaitEvent(since)));
    settle(outcome);
}

// What went wrong: the files differ, lines are missing, copies are left, the
// user was asked or was not told.
QStringList SyncTest::faults(const Outcome &outcome, char kind, const QStringList &told) const
{
    QStringList found;
    const QByteArray fileA = fileOf(m_a.folder), fileB = fileOf(m_b.folder);
    if (fileA != fileB)
        found << "the two files differ:\nA:\n" + QString::fromUtf8(fileA) + "B:\n" +
                     QString::fromUtf8(fileB);
    for (const QString &line : outcome.expected) {
        if (!QString::fromUtf8(fileA).contains(line))
            found << "missing from A's file: " + line.trimmed();
    }
    for (const QString &line : outcome.replaced) {
        if (QString::fromUtf8(fileA).contains(line))
            found << "kept in its old version too: " + line.trimmed();
    }
    for (const QString &folder : {m_a.folder, m_b.folder}) {
        if (!ListConflictCopies(folder).isEmpty())
            found << "conflict copies left in " + folder + ": " +
                         ListConflictCopies(folder).join(", ");
    }
    for (const QString &text : told) {
        if (text.contains(u'?'))
            found << "asked: " + text.simplified();
    }
    // The same record changed on both sides: the user is told of both counts.
    const QString all = told.join(u'\n');
    if (kind == 'c' && !(all.contains("C11") && all.contains("C22")))
        found << "not told of the record kept in two versions (C11 and C22)";
    return found;
}

// No privileges are dropped: the folders belong to the user who started
// Syncthing.
QTEST_MAIN(SyncTest)
#include "tst_sync.moc"
