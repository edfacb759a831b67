#include "certificate/records/certificates.h"

#include "certificate/records/extension.h"

#include "db/engine/connection.h"
#include "db/engine/error.h"
#include "db/engine/recordset.h"
#include "db/engine/transaction.h"

#include <QRegularExpression>
#include <optional>
#include <algorithm>
#include <tuple>

namespace certificates {

using namespace Qt::StringLiterals;

namespace {

const QString kRecords = u"`%1`"_s.arg(kRecordTable);
const QString kItems = u"`%1`"_s.arg(kItemTable);
constexpr int kPlaceholder = 1; // the code tables' "-" row

// The columns a save writes, in the order of writtenValues().
const QStringList kWritten{
    u"カルテID"_s,      u"自立支援医療"_s, u"手帳"_s,           u"様式"_s,           u"都道府県様式"_s,
    u"記載日"_s,        u"主治医"_s,       u"医師氏名"_s,       u"主精神障害"_s,     u"主病名"_s,
    u"主ICD"_s,         u"従精神障害"_s,   u"従病名"_s,         u"従ICD"_s,          u"自立支援医療開始"_s,
    u"自立支援医療終了"_s, u"手帳開始"_s,  u"手帳終了"_s,
};

QVariant orNull(const QDate &date)
{
    return date.isValid() ? QVariant(date) : QVariant();
}

QVariantList writtenValues(const Certificate &c)
{
    return {c.chart,
            c.medical ? -1 : 0,
            c.handbook ? -1 : 0,
            c.edition,
            c.variant,
            orNull(c.written),
            c.physician,
            c.physicianName,
            c.mainDiagnosis,
            c.mainName,
            c.mainIcd,
            c.secondDiagnosis,
            c.secondName,
            c.secondIcd,
            orNull(c.medicalValidity.from),
            orNull(c.medicalValidity.to),
            orNull(c.handbookValidity.from),
            orNull(c.handbookValidity.to)};
}

const QString kSelect = u"SELECT 診断書ID, 系列ID, 版, 前版ID, カルテID, 自立支援医療, 手帳, 様式, 都道府県様式, 記載日, "
                        u"主治医, 医師氏名, 状態, 発行日, 主精神障害, 主病名, 主ICD, 従精神障害, 従病名, 従ICD, "
                        u"自立支援医療開始, 自立支援医療終了, 手帳開始, 手帳終了 FROM "_s
    + kRecords;

bool isTrue(const QVariant &value)
{
    return value.toInt() != 0;
}

Certificate fromRow(const jet::Recordset &row)
{
    Certificate c;
    c.id = row.value(0).toInt();
    c.series = row.value(1).toInt();
    c.version = row.value(2).toInt();
    c.previous = row.value(3).toInt();
    c.chart = row.value(4).toInt();
    c.medical = isTrue(row.value(5));
    c.handbook = isTrue(row.value(6));
    c.edition = row.value(7).toString();
    c.variant = row.value(8).toString();
    c.written = row.value(9).toDate();
    c.physician = row.value(10).toInt();
    c.physicianName = row.value(11).toString();
    c.status = row.value(12).toInt() == int(Status::Issued) ? Status::Issued : Status::Draft;
    c.issued = row.value(13).toDate();
    c.mainDiagnosis = row.value(14).toInt();
    c.mainName = row.value(15).toString();
    c.mainIcd = row.value(16).toString();
    c.secondDiagnosis = row.value(17).toInt();
    c.secondName = row.value(18).toString();
    c.secondIcd = row.value(19).toString();
    c.medicalValidity = {row.value(20).toDate(), row.value(21).toDate()};
    c.handbookValidity = {row.value(22).toDate(), row.value(23).toDate()};
    return c;
}

jet::Error issuedRefused()
{
    return jet::Error(kIssuedRefused,
                      u"発行済みの診断書は変更できません。訂正するときは、新しい版を作成してください。"_s);
}

jet::Error notFound(int id)
{
    return jet::Error(jet::err::NoCurrentRecord, u"診断書（ID %1）が見つかりません。"_s.arg(id));
}

// The status of a row as stored now, so that a decision never rests on a
// copy another workstation may have overtaken.
std::optional<Status> storedStatus(jet::Connection &connection, int id)
{
    jet::Recordset row;
    row.openCommand(u"SELECT 状態 FROM %1 WHERE 診断書ID = ?"_s.arg(kRecords), &connection, {id},
                    jet::CursorType::ForwardOnly);
    if (row.eof())
        return std::nullopt;
    return row.value(0).toInt() == int(Status::Issued) ? Status::Issued : Status::Draft;
}

int newestVersion(jet::Connection &connection, int series)
{
    jet::Recordset row;
    row.openCommand(u"SELECT MAX(版) AS 最新 FROM %1 WHERE 系列ID = ?"_s.arg(kRecords), &connection, {series},
                    jet::CursorType::ForwardOnly);
    return row.eof() ? 0 : row.value(0).toInt();
}

} // namespace

QList<Kind> Certificate::kinds() const
{
    QList<Kind> list;
    if (medical)
        list.append(Kind::Medical);
    if (handbook)
        list.append(Kind::Handbook);
    return list;
}

QString DiagnosisOutside::message() const
{
    return u"%1「%2」のICDコード %3 は、自立支援医療（精神通院医療）の対象（F00～F99、G40）ではありません。"_s.arg(
        label, name, icd.isEmpty() ? u"（未入力）"_s : icd);
}

bool acceptedForMedical(const QString &icd)
{
    static const QRegularExpression form(u"^([A-Z])([0-9]{2})(?:\\.?([0-9]))?$"_s);
    const QString code = icd.normalized(QString::NormalizationForm_KC).trimmed().toUpper();
    const QRegularExpressionMatch match = form.match(code);
    if (!match.hasMatch())
        return false;
    const QString letter = match.captured(1);
    return letter == u"F"_s || (letter == u"G"_s && match.captured(2) == u"40"_s);
}

QList<DiagnosisOutside> outsideMedicalRange(const Certificate &certificate)
{
    QList<DiagnosisOutside> outside;
    if (!certificate.medical)
        return outside;
    if (certificate.mainDiagnosis != kPlaceholder && !acceptedForMedical(certificate.mainIcd))
        outside.append({u"main"_s, u"主たる精神障害"_s, certificate.mainIcd, certificate.mainName});
    if (certificate.secondDiagnosis != kPlaceholder && !acceptedForMedical(certificate.secondIcd))
        outside.append({u"secondary"_s, u"従たる精神障害"_s, certificate.secondIcd, certificate.secondName});
    return outside;
}

CertificateBook::CertificateBook(jet::Connection &connection, const FormCatalog &catalog)
    : m_connection(connection), m_catalog(catalog)
{
}

Certificate CertificateBook::create(int chart, bool medical, bool handbook, const QDate &written,
                                    const QString &variant) const
{
    if (!medical && !handbook)
        throw jet::Error(jet::err::InvalidArgument, u"診断書の種別（自立支援医療、手帳）を選んでください。"_s);
    Certificate c;
    c.chart = chart;
    c.medical = medical;
    c.handbook = handbook;
    c.edition = m_catalog.currentEdition();
    c.variant = variant.isEmpty() ? settings().variant : variant;
    c.written = written;

    jet::Recordset patient;
    patient.openCommand(u"SELECT 診断名①, 診断名② FROM 患者情報 WHERE カルテID = ?"_s, &m_connection, {chart},
                        jet::CursorType::ForwardOnly);
    if (patient.eof())
        throw jet::Error(jet::err::NoCurrentRecord, u"カルテID %1 の患者が見つかりません。"_s.arg(chart));
    c.mainDiagnosis = patient.value(0).isNull() ? kPlaceholder : patient.value(0).toInt();
    c.secondDiagnosis = patient.value(1).isNull() ? kPlaceholder : patient.value(1).toInt();
    readDiagnoses(c);

    jet::Recordset episode;
    episode.openCommand(u"SELECT 入院.主治医①, 主治医.主治医 FROM 入退院情報 AS 入院 LEFT JOIN 主治医 "
                        u"ON 入院.主治医① = 主治医.主治医ID WHERE 入院.カルテID = ? ORDER BY 入院.入退院ID DESC"_s,
                        &m_connection, {chart}, jet::CursorType::ForwardOnly);
    if (!episode.eof() && !episode.value(0).isNull() && episode.value(0).toInt() != kPlaceholder) {
        c.physician = episode.value(0).toInt();
        c.physicianName = episode.value(1).toString();
    }
    return c;
}

Certificate CertificateBook::copyFromLast(int chart, const QDate &written, const QList<Kind> &kinds,
                                         QStringList *unplaced) const
{
    jet::Recordset last;
    last.openCommand(u"SELECT 診断書ID, 自立支援医療, 手帳 FROM %1 WHERE カルテID = ? ORDER BY 診断書ID DESC"_s.arg(kRecords),
                     &m_connection, {chart}, jet::CursorType::ForwardOnly);
    const auto sameKinds = [&] {
        return kinds.isEmpty()
            || (last.value(1).toBool() == kinds.contains(Kind::Medical)
                && last.value(2).toBool() == kinds.contains(Kind::Handbook));
    };
    while (!last.eof() && !sameKinds())
        last.moveNext();
    if (last.eof())
        throw jet::Error(jet::err::NoCurrentRecord, u"この患者の診断書はまだありません。"_s);
    const Certificate previous = read(last.value(0).toInt());
    Certificate c = create(chart, previous.medical, previous.handbook, written, previous.variant);
    c.physician = previous.physician;
    c.physicianName = previous.physicianName;
    // A renewal is written on the current edition: what the last one said
    // goes to the same field, or to the field a later edition renamed it to;
    // what has no place there is named for the physician, never dropped
    // unseen.
    for (const Item &item : previous.items) {
        Item moved = item;
        if (previous.edition != c.edition)
            std::tie(moved.group, moved.field) = m_catalog.renamedField(previous.edition, item.group, item.field);
        if (m_catalog.refusal(c.edition, c.kinds(), c.variant, moved.group, moved.field, moved.value).isEmpty()) {
            c.items.append(moved);
        } else if (unplaced) {
            const QString field = m_catalog.describe(previous.edition, previous.kinds(), previous.variant, item.group,
                                                     item.field, item.value);
            unplaced->append(item.text.isEmpty() ? field : field + u"："_s + item.text);
        }
    }
    return c;
}

Certificate CertificateBook::read(int id) const
{
    jet::Recordset row;
    row.openCommand(kSelect + u" WHERE 診断書ID = ?"_s, &m_connection, {id}, jet::CursorType::ForwardOnly);
    if (row.eof())
        throw notFound(id);
    Certificate c = fromRow(row);
    c.items = readItems(id);
    return c;
}

QList<Certificate> CertificateBook::ofPatient(int chart) const
{
    jet::Recordset rows;
    rows.openCommand(kSelect + u" WHERE カルテID = ? ORDER BY 記載日 DESC, 診断書ID DESC"_s, &m_connection, {chart},
                     jet::CursorType::ForwardOnly);
    QList<Certificate> list;
    for (; !rows.eof(); rows.moveNext())
        list.append(fromRow(rows));
    return list;
}

QList<Item> CertificateBook::readItems(int id) const
{
    jet::Recordset rows;
    rows.openCommand(u"SELECT 群, 項目, 値, 自由記載 FROM %1 WHERE 診断書ID = ? ORDER BY 項目ID"_s.arg(kItems),
                     &m_connection, {id}, jet::CursorType::ForwardOnly);
    QList<Item> items;
    for (; !rows.eof(); rows.moveNext())
        items.append({rows.value(0).toString(), rows.value(1).toString(), rows.value(2).toString(),
                      rows.value(3).toString()});
    return items;
}

// The names and codes as the code table has them now; a diagnosis no
// longer in the table keeps what the certificate stated.
void CertificateBook::readDiagnoses(Certificate &c) const
{
    const auto lookUp = [this](int id, QString &name, QString &icd) {
        if (id == kPlaceholder) {
            name.clear();
            icd.clear();
            return;
        }
        jet::Recordset row;
        row.openCommand(u"SELECT 診断名, ICDコード FROM `診断名(ICD10)` WHERE 診断ID = ?"_s, &m_connection, {id},
                        jet::CursorType::ForwardOnly);
        if (row.eof())
            return;
        name = row.value(0).toString();
        icd = row.value(1).toString();
    };
    lookUp(c.mainDiagnosis, c.mainName, c.mainIcd);
    lookUp(c.secondDiagnosis, c.secondName, c.secondIcd);
}

void CertificateBook::checkItems(const Certificate &c) const
{
    if (c.kinds().isEmpty())
        throw jet::Error(jet::err::InvalidArgument, u"診断書の種別（自立支援医療、手帳）を選んでください。"_s);
    if (!m_catalog.edition(c.edition))
        throw jet::Error(jet::err::InvalidArgument, u"様式 %1 はこのプログラムにありません。"_s.arg(c.edition));
    if (!m_catalog.variant(c.variant))
        throw jet::Error(jet::err::InvalidArgument, u"都道府県の様式 %1 はこのプログラムにありません。"_s.arg(c.variant));
    for (const Item &item : c.items) {
        const QString refusal = m_catalog.refusal(c.edition, c.kinds(), c.variant, item.group, item.field, item.value);
        if (!refusal.isEmpty())
            throw jet::Error(jet::err::InvalidArgument, refusal);
    }
}

void CertificateBook::save(Certificate &certificate)
{
    checkItems(certificate);
    Certificate c = certificate;
    readDiagnoses(c);
    jet::Transaction transaction(m_connection);
    if (c.id == 0)
        insert(c);
    else
        update(c);
    writeItems(c);
    transaction.commit();
    certificate = c;
}

void CertificateBook::insert(Certificate &c)
{
    if (c.previous != 0) {
        // A correction follows the newest version of an issued certificate;
        // another workstation's correction may have come first.
        if (storedStatus(m_connection, c.previous) != Status::Issued
            || newestVersion(m_connection, c.series) != c.version - 1)
            throw jet::Error(jet::err::NotSupported,
                             u"この診断書には別の訂正版が作成されています。一覧を開き直してください。"_s);
    }
    jet::Recordset row;
    row.openCommand(u"SELECT * FROM %1 WHERE 診断書ID = 0"_s.arg(kRecords), &m_connection, {});
    QStringList fields = kWritten;
    QVariantList values = writtenValues(c);
    fields << u"系列ID"_s << u"版"_s << u"前版ID"_s << u"状態"_s;
    values << c.series << c.version << (c.previous != 0 ? QVariant(c.previous) : QVariant()) << int(Status::Draft);
    row.addNew(fields, values);
    c.id = row.value(u"診断書ID"_s).toInt();
    if (c.series == 0) {
        c.series = c.id;
        m_connection.execute(u"UPDATE %1 SET 系列ID = ? WHERE 診断書ID = ?"_s.arg(kRecords), {c.series, c.id});
    }
    c.status = Status::Draft;
}

void CertificateBook::update(const Certificate &c)
{
    QStringList assignments;
    for (const QString &column : kWritten)
        assignments.append(column + u" = ?"_s);
    QVariantList values = writtenValues(c);
    values << c.id << int(Status::Draft);
    const int changed = m_connection.execute(
        u"UPDATE %1 SET %2 WHERE 診断書ID = ? AND 状態 = ?"_s.arg(kRecords, assignments.join(u", "_s)), values);
    if (changed == 1)
        return;
    if (!storedStatus(m_connection, c.id))
        throw notFound(c.id);
    throw issuedRefused();
}

void CertificateBook::writeItems(const Certificate &c)
{
    m_connection.execute(u"DELETE FROM %1 WHERE 診断書ID = ?"_s.arg(kItems), {c.id});
    const QString insert = u"INSERT INTO %1 (診断書ID, 群, 項目, 値, 自由記載) VALUES (?, ?, ?, ?, ?)"_s.arg(kItems);
    for (const Item &item : c.items)
        m_connection.execute(insert, {c.id, item.group, item.field, item.value,
                                      item.text.isEmpty() ? QVariant() : QVariant(item.text)});
}

void CertificateBook::issue(int id, const QDate &issuedOn)
{
    jet::Transaction transaction(m_connection);
    const Certificate c = read(id);
    if (c.status == Status::Issued)
        throw issuedRefused();
    if (!c.written.isValid())
        throw jet::Error(jet::err::InvalidArgument, u"記載日を入力してから発行済みにしてください。"_s);
    const int changed = m_connection.execute(
        u"UPDATE %1 SET 状態 = ?, 発行日 = ? WHERE 診断書ID = ? AND 状態 = ?"_s.arg(kRecords),
        {int(Status::Issued), issuedOn, id, int(Status::Draft)});
    if (changed != 1)
        throw issuedRefused();
    transaction.commit();
}

Certificate CertificateBook::correct(int id, const QDate &written) const
{
    Certificate c = read(id);
    if (c.status != Status::Issued)
        throw jet::Error(jet::err::NotSupported, u"下書きの診断書はそのまま編集できます。訂正版は発行済みの診断書から作ります。"_s);
    if (newestVersion(m_connection, c.series) != c.version)
        throw jet::Error(jet::err::NotSupported, u"この診断書には新しい版があります。最新の版から訂正してください。"_s);
    c.previous = c.id;
    c.id = 0;
    c.version += 1;
    c.status = Status::Draft;
    c.issued = QDate();
    c.written = written;
    return c;
}

void CertificateBook::setValidity(int id, Kind kind, const Validity &validity)
{
    if (validity.from.isValid() && validity.to.isValid() && validity.to < validity.from)
        throw jet::Error(jet::err::InvalidArgument, u"有効期間の終わりが始まりより前になっています。"_s);
    jet::Transaction transaction(m_connection);
    const Certificate c = read(id);
    if (!c.kinds().contains(kind))
        throw jet::Error(jet::err::InvalidArgument,
                         u"この診断書は%1用ではありません。"_s.arg(kindName(kind)));
    const QString prefix = kind == Kind::Medical ? u"自立支援医療"_s : u"手帳"_s;
    m_connection.execute(u"UPDATE %1 SET %2開始 = ?, %2終了 = ? WHERE 診断書ID = ?"_s.arg(kRecords, prefix),
                         {orNull(validity.from), orNull(validity.to), id});
    transaction.commit();
}

QList<Renewal> CertificateBook::renewalsDue(const QDate &today, int months) const
{
    QList<Renewal> due;
    for (Kind kind : {Kind::Medical, Kind::Handbook}) {
        const QString flag = kind == Kind::Medical ? u"自立支援医療"_s : u"手帳"_s;
        const QString end = flag + u"終了"_s;
        // A certificate corrected by an issued later version, and one whose
        // patient already holds a validity of the kind that ends later, is
        // not due.
        const QString sql =
            u"SELECT c.診断書ID, c.カルテID, p.氏名, p.かな氏名, c.%2, c.記載日, c.医師氏名 "
            u"FROM %1 AS c LEFT JOIN 患者情報 AS p ON c.カルテID = p.カルテID "
            u"WHERE c.状態 = ? AND c.%3 <> 0 AND c.%2 >= ? AND c.%2 <= ? "
            u"AND NOT EXISTS (SELECT n.診断書ID FROM %1 AS n WHERE n.系列ID = c.系列ID AND n.状態 = ? AND n.版 > c.版) "
            u"AND NOT EXISTS (SELECT r.診断書ID FROM %1 AS r WHERE r.カルテID = c.カルテID AND r.状態 = ? "
            u"AND r.%3 <> 0 AND r.%2 > c.%2)"_s.arg(kRecords, end, flag);
        const int issued = int(Status::Issued);
        jet::Recordset rows;
        rows.openCommand(sql, &m_connection, {issued, today, today.addMonths(months), issued, issued},
                         jet::CursorType::ForwardOnly);
        for (; !rows.eof(); rows.moveNext())
            due.append({rows.value(0).toInt(), rows.value(1).toInt(), rows.value(2).toString(),
                        rows.value(3).toString(), kind, rows.value(4).toDate(), rows.value(5).toDate(),
                        rows.value(6).toString()});
    }
    std::stable_sort(due.begin(), due.end(), [](const Renewal &a, const Renewal &b) {
        if (a.validTo != b.validTo)
            return a.validTo < b.validTo;
        if (a.kana != b.kana)
            return a.kana < b.kana;
        return a.id < b.id;
    });
    return due;
}

Settings CertificateBook::settings() const
{
    jet::Recordset row;
    row.openCommand(u"SELECT 都道府県様式, 更新案内月数 FROM `%1` ORDER BY 設定ID"_s.arg(kSettingsTable), &m_connection,
                    {}, jet::CursorType::ForwardOnly);
    Settings s{kDefaultVariant.toString(), kDefaultRenewalMonths};
    if (row.eof())
        return s;
    if (!row.value(0).isNull() && m_catalog.variant(row.value(0).toString()))
        s.variant = row.value(0).toString();
    if (const int months = row.value(1).toInt(); months >= 1 && months <= 24)
        s.renewalMonths = months;
    return s;
}

void CertificateBook::setSettings(const Settings &settings)
{
    if (!m_catalog.variant(settings.variant))
        throw jet::Error(jet::err::InvalidArgument,
                         u"都道府県の様式 %1 はこのプログラムにありません。"_s.arg(settings.variant));
    if (settings.renewalMonths < 1 || settings.renewalMonths > 24)
        throw jet::Error(jet::err::InvalidArgument, u"更新の案内は1～24か月前の範囲で指定してください。"_s);
    jet::Transaction transaction(m_connection);
    m_connection.execute(u"DELETE FROM `%1`"_s.arg(kSettingsTable));
    m_connection.execute(u"INSERT INTO `%1` (都道府県様式, 更新案内月数) VALUES (?, ?)"_s.arg(kSettingsTable),
                         {settings.variant, settings.renewalMonths});
    transaction.commit();
}

} // namespace certificates
