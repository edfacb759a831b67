#include "load/client.h"

#include "db/engine/connection.h"
#include "db/engine/error.h"
#include "db/engine/postgres/pgdriver.h"
#include "db/engine/recordset.h"
#include "db/episodes.h"
#include "db/location.h"
#include "db/schema.h"
#include "ledger/kanasearch.h"
#include "report/catalogue.h"
#include "report/datasource.h"
#include "report/engine.h"
#include "report/render.h"

#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QThread>
#include <QUrl>
#include <cmath>
#include <functional>
#include <unistd.h>

namespace load {

QString operationName(Operation operation)
{
    switch (operation) {
    case Operation::InpatientLedger:
        return QStringLiteral("ledger open, in-patients");
    case Operation::AllPatientLedger:
        return QStringLiteral("ledger open, all patients");
    case Operation::KanaSearch:
        return QStringLiteral("kana search");
    case Operation::RecordOpen:
        return QStringLiteral("record open");
    case Operation::Save:
        return QStringLiteral("save");
    case Operation::Registration:
        return QStringLiteral("registration");
    case Operation::Print:
        return QStringLiteral("print to PDF");
    }
    return {};
}

const QList<EditedField> &editedFields()
{
    static const QList<EditedField> fields{
        {QStringLiteral("一時診断名"), QStringLiteral("入退院情報"), QStringLiteral("入退院ID")},
        {QStringLiteral("検査(その他)"), QStringLiteral("検査情報"), QStringLiteral("入退院ID")},
        {QStringLiteral("住所"), QStringLiteral("患者情報"), QStringLiteral("カルテID")},
    };
    return fields;
}

QString episodesFileName(const QString &runFolder)
{
    return runFolder + QStringLiteral("/episodes.txt");
}

QString encodeValue(const QVariant &value)
{
    if (value.isNull())
        return QStringLiteral("-");
    return QStringLiteral("=") + QString::fromLatin1(value.toString().toUtf8().toPercentEncoding());
}

QString decodeValue(const QString &text, bool *isNull)
{
    *isNull = !text.startsWith(QLatin1Char('='));
    return *isNull ? QString() : QString::fromUtf8(QByteArray::fromPercentEncoding(text.mid(1).toLatin1()));
}

namespace {

constexpr int kFirstScreen = 40;
// A person told that another workstation changed the field reads its value
// and types again; after this many tries in a row they leave the patient.
constexpr int kTries = 5;
// The kana a ward's names begin with.
const QString kKana = QStringLiteral("あいうえおかきくけこさしすせそたちつてとなにぬねのはひふへほまみむめもやゆよらりるれろわ");

// Unbuffered, so that a line written is the driver's even if this process dies.
void say(const QStringList &fields)
{
    const QByteArray line = fields.join(QLatin1Char('\t')).toUtf8() + '\n';
    [[maybe_unused]] const ssize_t written = ::write(STDOUT_FILENO, line.constData(), size_t(line.size()));
}

// What the grid reads of a list to paint its first screen.
void readFirstScreen(const jet::Recordset &list)
{
    const int rows = std::min(list.recordCount(), kFirstScreen);
    for (int r = 0; r < rows; ++r)
        for (int f = 0; f < list.fieldCount(); ++f)
            list.valueAt(r, f);
}

class Workstation
{
public:
    explicit Workstation(const ClientSettings &settings)
        : m_settings(settings), m_random(settings.seed * 7919u + quint32(settings.client))
    {
        QFile file(episodesFileName(settings.runFolder));
        if (!file.open(QIODevice::ReadOnly))
            throw std::runtime_error("no episodes file in the run folder");
        for (const QByteArray &line : file.readAll().split('\n')) {
            const QList<QByteArray> parts = line.split(' ');
            if (parts.size() == 2)
                m_episodes.append({parts[0].toLongLong(), parts[1].toInt()});
        }
        if (m_episodes.isEmpty())
            throw std::runtime_error("the episodes file names no episode");
        m_pdfFolder = QStringLiteral("%1/pdf-%2").arg(settings.runFolder).arg(settings.client);
        QDir().mkpath(m_pdfFolder);
    }

    void run()
    {
        // The program is running when the shift begins: its first connection,
        // which derives the file's key or logs in, is not the ward's work.
        jet::Connection session;
        openConnection(session);
        QElapsedTimer shift;
        shift.start();
        // A ward's workstations do not all begin at one instant: the first
        // piece of work comes after a pause like any other, or every
        // workstation's first one would queue behind all the others'.
        pause(m_settings.thinkMs);
        while (shift.elapsed() < qint64(m_settings.seconds) * 1000) {
            work();
            pause(m_settings.thinkMs);
        }
    }

private:
    // One piece of work, in the proportions of a ward's day: mostly reading
    // and editing records, now and then a document or a new admission.
    void work()
    {
        const int choice = int(m_random.bounded(100));
        if (choice < 15)
            guarded(Operation::InpatientLedger, [this] { openInpatientLedger(); });
        else if (choice < 25)
            guarded(Operation::AllPatientLedger, [this] { openAllPatientLedger(false); });
        else if (choice < 35)
            guarded(Operation::KanaSearch, [this] { openAllPatientLedger(true); });
        else if (choice < 50)
            guarded(Operation::RecordOpen, [this] { openRecord(randomEpisode(), false); });
        else if (choice < 82)
            guarded(Operation::Save, [this] { openRecord(episodeToEdit(), true); });
        else if (choice < 90)
            guarded(Operation::Registration, [this] { registerPatient(); });
        else
            guarded(Operation::Print, [this] { print(randomEpisode()); });
    }

    void guarded(Operation operation, const std::function<void()> &work)
    {
        try {
            work();
        } catch (const jet::Error &e) {
            say({QStringLiteral("error"), operationName(operation), QString::number(e.number()),
                 e.description().simplified()});
        } catch (const std::exception &e) {
            say({QStringLiteral("error"), operationName(operation), QStringLiteral("0"), QString::fromLocal8Bit(e.what())});
        }
    }

    template <class Work>
    auto timed(Operation operation, Work work)
    {
        QElapsedTimer timer;
        timer.start();
        // Recorded also when the work throws: a refused save took its time too.
        struct Record
        {
            Operation operation;
            QElapsedTimer &timer;
            qint64 trips = jet::postgres::PgDriver::roundTripsOfProcess();
            ~Record()
            {
                say({QStringLiteral("op"), operationName(operation),
                     QString::number(double(timer.nsecsElapsed()) / 1e6, 'f', 3),
                     QString::number(jet::postgres::PgDriver::roundTripsOfProcess() - trips)});
            }
        } record{operation, timer};
        return work();
    }

    // A person's pause: exponential around the mean, as the moments at which
    // a ward's staff turn to the program are; never more than five means.
    void pause(int meanMs)
    {
        if (meanMs <= 0)
            return;
        const double u = 1.0 - m_random.generateDouble();
        const double ms = std::min(-std::log(u) * meanMs, 5.0 * meanMs);
        QThread::msleep(static_cast<unsigned long>(ms));
    }

    void openConnection(jet::Connection &connection)
    {
        connection.setProvider(db::shapingProvider());
        connection.setConnectionString(db::shapedConnectionString(m_settings.dataSource));
        connection.open();
    }

    qint64 randomEpisode() { return m_episodes.at(qsizetype(m_random.bounded(quint32(m_episodes.size())))).first; }

    // Half the edits go to the few patients the whole ward is busy with.
    qint64 episodeToEdit()
    {
        if (!m_settings.hot.isEmpty() && m_random.bounded(2) == 0)
            return m_settings.hot.at(qsizetype(m_random.bounded(quint32(m_settings.hot.size()))));
        return randomEpisode();
    }

    QString nextValue() { return QStringLiteral("%1-%2-%3").arg(m_settings.tag).arg(m_settings.client).arg(++m_written); }

    // The in-patient ledger's list, as stored, with its three summaries.
    void openInpatientLedger()
    {
        timed(Operation::InpatientLedger, [this] {
            jet::Connection connection;
            openConnection(connection);
            jet::Recordset list;
            list.open(db::kInpatientListQuery.toString(), &connection);
            readFirstScreen(list);
            for (QStringView query :
                 {db::kInpatientCountQuery, db::kInpatientAverageAgeQuery, db::kInpatientAverageStayQuery}) {
                jet::Recordset summary;
                summary.open(query.toString(), &connection);
                summary.value(0);
            }
        });
    }

    // The all-patient ledger with its count, and then perhaps a search by
    // the first kana of a name, as the search box filters the list.
    void openAllPatientLedger(bool search)
    {
        jet::Connection connection;
        jet::Recordset list;
        timed(Operation::AllPatientLedger, [&] {
            openConnection(connection);
            // As the window does: the label's count is the list's own.
            const jet::SharedCounts oneCount(connection);
            list.open(db::kAllEpisodesSql.toString(), &connection);
            readFirstScreen(list);
            jet::Recordset count;
            count.open(db::kLedgerCountQuery.toString(), &connection);
            count.value(0);
        });
        if (!search)
            return;
        pause(m_settings.thinkMs / 2);
        const QString typed = kKana.at(qsizetype(m_random.bounded(quint32(kKana.size()))));
        timed(Operation::KanaSearch, [&] {
            list.setFilter(ledger::kanaFilter(typed));
            readFirstScreen(list);
        });
    }

    // The record window's row of one episode: its companion rows made sure
    // of, the episode join filtered on it, every field read.  An edit then
    // writes one field and saves; another workstation's change of the same
    // field is settled as a person would: they take the stored value and type
    // theirs again.
    void openRecord(qint64 episode, bool edit)
    {
        jet::Connection connection;
        jet::Recordset row;
        timed(Operation::RecordOpen, [&] {
            openConnection(connection);
            db::repairCompanionRows(connection, episode);
            // The in-patient record window keeps its cursor dynamic, the others static.
            row.open(db::kEpisodeSql.toString(), &connection,
                     m_random.bounded(2) ? jet::CursorType::Dynamic : jet::CursorType::Static, jet::LockType::Optimistic);
            row.setFilter(QStringLiteral("入退院情報.入退院ID = '%1'").arg(episode));
            for (int f = 0; f < row.fieldCount(); ++f)
                row.value(f);
        });
        if (row.eof())
            throw std::runtime_error(QStringLiteral("episode %1 has no record").arg(episode).toStdString());
        if (!edit)
            return;
        const int which = int(m_random.bounded(quint32(editedFields().size())));
        const EditedField &field = editedFields().at(which);
        const QString key = row.value(field.table + QLatin1Char('.') + field.key).toString();
        for (int attempt = 1;; ++attempt) {
            pause(m_settings.thinkMs / 2);
            const QVariant before = row.value(field.column);
            const QString after = nextValue();
            row.setValue(field.column, after);
            try {
                timed(Operation::Save, [&] { row.update(); });
                say({QStringLiteral("ack"), QString::number(which), key, encodeValue(before), encodeValue(after)});
                return;
            } catch (const jet::Error &e) {
                if (e.number() != jet::err::DataChanged)
                    throw;
                say({QStringLiteral("conflict"), QString::number(episode), field.column});
                row.reloadConflicts();
                if (attempt == kTries) {
                    row.cancelUpdate();
                    return;
                }
            }
        }
    }

    // Mostly a new chart; a fifth of the time one of a few new charts every
    // workstation may register at once, and a fifth a patient come back.
    void registerPatient()
    {
        const int choice = int(m_random.bounded(5));
        qint32 chart = 0;
        if (choice == 0)
            chart = 1'900'000'000 + qint32(m_random.bounded(20));
        else if (choice == 1)
            chart = m_episodes.at(qsizetype(m_random.bounded(quint32(m_episodes.size())))).second;
        else
            chart = 1'000'000'000 + m_settings.client * 1'000'000 + ++m_registered;
        jet::Connection connection;
        const qint64 episode = timed(Operation::Registration, [&] {
            openConnection(connection);
            return db::registerEpisode(connection, chart);
        });
        say({QStringLiteral("reg"), QString::number(chart), QString::number(episode)});
    }

    // The admission summary of an episode, laid out and written to a PDF as
    // norva-report writes it.
    void print(qint64 episode)
    {
        const QString path = QStringLiteral("%1/rptAdmSum-%2.pdf").arg(m_pdfFolder).arg(episode);
        timed(Operation::Print, [&] {
            const QDateTime now = QDateTime::currentDateTime();
            report::DataSource source(QString(), m_settings.dataSource);
            report::Document doc = report::document(QStringLiteral("rptAdmSum"), source.institution(), now);
            source.setKey(doc.command, episode);
            const jet::Recordset &rows = source.result(doc.command);
            if (rows.rowCount() == 0)
                throw std::runtime_error(
                    QStringLiteral("nothing to print for episode %1: %2").arg(episode).arg(source.missingReference(doc.command)).toStdString());
            report::PdfStream pdf(path, QStringLiteral("rptAdmSum"));
            report::layOut(*doc.layout, report::RecordsetRows(rows), now, [&pdf](const report::Page &page) { pdf.add(page); });
            if (!pdf.finish())
                throw std::runtime_error("the PDF could not be written");
        });
        QFile::remove(path);
    }

    ClientSettings m_settings;
    QRandomGenerator m_random;
    QList<std::pair<qint64, qint32>> m_episodes;
    QString m_pdfFolder;
    int m_written = 0;
    int m_registered = 0;
};

} // namespace

int runClient(const ClientSettings &settings)
{
    try {
        Workstation(settings).run();
    } catch (const std::exception &e) {
        say({QStringLiteral("error"), QStringLiteral("start"), QStringLiteral("0"), QString::fromLocal8Bit(e.what())});
        return 1;
    }
    return 0;
}

} // namespace load
