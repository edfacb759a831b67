#include "certificate/records/certificates.h"
#include "certificate/records/extension.h"

#include "db/engine/catalog.h"
#include "db/engine/recordset.h"
#include "db/schema.h"
#include "support/errors.h"
#include "support/fixture.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QSet>
#include <gtest/gtest.h>

using namespace Qt::StringLiterals;
using namespace certificates;
using testing_support::errorOf;

namespace {

constexpr int kF32 = 4; // the ward's diagnosis codes

class RecordsTest : public testing::Test
{
protected:
    void SetUp() override { extendDatabase(ward.connection()); }

    QStringList tables()
    {
        jet::Catalog catalog;
        catalog.setActiveConnection(&ward.connection());
        return catalog.tables();
    }

    // A saved draft for chart 1001 (F20) with a condition item and a text.
    Certificate draft(bool medical = true, bool handbook = false)
    {
        Certificate c = book.create(1001, medical, handbook, QDate(2003, 4, 1));
        c.items = {{u"c3"_s, u"ア"_s, u"1"_s, {}}, {u"c3"_s, u"ウ"_s, u"1"_s, u"思考伝播"_s},
                   {u"history"_s, u"course"_s, {}, u"20歳時に発症。"_s}};
        book.save(c);
        return c;
    }

    testing_support::WardDatabase ward;
    CertificateBook book{ward.connection()};
};

TEST(ExtensionTest, IsCreatedWholeOrNotAtAllAndLeavesTheGenerationAlone)
{
    // A table of the hospital's own under one of the extension's names stops
    // the extension part-way: nothing of it may stay, the table is untouched.
    {
        testing_support::WardDatabase blocked;
        jet::Catalog catalog;
        catalog.setActiveConnection(&blocked.connection());
        catalog.createTable({kSettingsTable.toString(), {jet::ColumnDef{u"メモ"_s}}, {}});
        blocked.connection().execute(u"INSERT INTO `診断書設定` (メモ) VALUES ('残す')"_s);
        EXPECT_NE(errorOf([&] { extendDatabase(blocked.connection()); }), 0);
        for (const QString &table : extensionTables())
            EXPECT_EQ(catalog.tables().contains(table), table == kSettingsTable) << table.toStdString();
        EXPECT_EQ(extensionVersion(blocked.connection()), 0);
        jet::Recordset own;
        own.open(u"SELECT メモ FROM `診断書設定`"_s, &blocked.connection());
        EXPECT_EQ(own.value(0).toString(), u"残す"_s);
    }

    testing_support::WardDatabase ward;
    jet::Connection &connection = ward.connection();
    jet::Catalog catalog;
    catalog.setActiveConnection(&connection);
    EXPECT_EQ(extensionVersion(connection), 0);
    extendDatabase(connection);
    extendDatabase(connection); // a second start finds it complete
    EXPECT_EQ(extensionVersion(connection), kExtensionVersion);
    for (const QString &table : extensionTables())
        EXPECT_TRUE(catalog.tables().contains(table)) << table.toStdString();
    // What the start-up probe and an older program read is as before.
    EXPECT_TRUE(db::missingFrom(catalog, db::Generation::V2112).isEmpty());
    jet::Recordset version;
    version.open(u"SELECT バージョン FROM バージョン"_s, &connection);
    ASSERT_EQ(version.recordCount(), 1);
    EXPECT_EQ(version.value(0).toString(), db::kCurrentVersion.toString());

    connection.execute(u"UPDATE `診断書記録バージョン` SET バージョン = 9"_s);
    EXPECT_EQ(errorOf([&] { extendDatabase(connection); }), jet::err::GeneralFailure);
}

TEST_F(RecordsTest, ANewCertificateCopiesThePatientsLastWithTheDiagnosesOfThePatientRow)
{
    EXPECT_EQ(errorOf([&] { book.copyFromLast(1001, QDate(2004, 3, 1)); }), jet::err::NoCurrentRecord);
    const Certificate first = draft(true, true);
    EXPECT_EQ(first.series, first.id);
    EXPECT_EQ(first.mainIcd, u"F20"_s);
    EXPECT_EQ(first.physicianName, u"岡部"_s); // the latest episode's physician
    book.issue(first.id, QDate(2003, 4, 2));
    book.setValidity(first.id, Kind::Medical, {QDate(2003, 5, 1), QDate(2004, 4, 30)});

    ward.connection().execute(u"UPDATE 患者情報 SET 診断名① = ? WHERE カルテID = 1001"_s, {kF32});
    Certificate renewal = book.copyFromLast(1001, QDate(2004, 3, 1));
    EXPECT_EQ(renewal.id, 0);
    EXPECT_EQ(renewal.status, Status::Draft);
    EXPECT_TRUE(renewal.medical && renewal.handbook);
    EXPECT_EQ(renewal.items, book.read(first.id).items);
    EXPECT_EQ(renewal.mainDiagnosis, kF32);
    EXPECT_EQ(renewal.mainIcd, u"F32"_s);
    EXPECT_EQ(renewal.medicalValidity, Validity());
    book.save(renewal);
    EXPECT_EQ(renewal.series, renewal.id);
    EXPECT_NE(renewal.series, first.series);
    EXPECT_EQ(book.ofPatient(1001).first().id, renewal.id);
    EXPECT_EQ(book.read(first.id).mainIcd, u"F20"_s); // the issued one states what was sent

    // A renewal of one kind starts from the last certificate of that kind,
    // not from a newer one of another.
    Certificate handbook = book.create(1001, false, true, QDate(2004, 3, 2));
    book.save(handbook);
    EXPECT_EQ(book.copyFromLast(1001, QDate(2004, 3, 3), {Kind::Medical, Kind::Handbook}).items, renewal.items);
    EXPECT_TRUE(book.copyFromLast(1001, QDate(2004, 3, 3)).items.isEmpty());
    EXPECT_EQ(errorOf([&] { book.copyFromLast(1001, QDate(2004, 3, 3), {Kind::Medical}); }), jet::err::NoCurrentRecord);
}

TEST_F(RecordsTest, AnIssuedCertificateRefusesEditsAndIsCorrectedByANewVersion)
{
    Certificate c = draft();
    const QList<Item> sent = c.items;
    book.issue(c.id, QDate(2003, 4, 2));

    c.items.append({u"c1"_s, u"ア"_s, u"1"_s, {}});
    EXPECT_EQ(errorOf([&] { book.save(c); }), kIssuedRefused);
    EXPECT_EQ(errorOf([&] { book.issue(c.id, QDate(2003, 4, 3)); }), kIssuedRefused);
    EXPECT_EQ(book.read(c.id).items, sent);
    // The authority's grant is entered after the certificate went out.
    book.setValidity(c.id, Kind::Medical, {QDate(2003, 5, 1), QDate(2004, 4, 30)});
    EXPECT_EQ(errorOf([&] { book.setValidity(c.id, Kind::Handbook, {}); }), jet::err::InvalidArgument);

    Certificate fix = book.correct(c.id, QDate(2003, 4, 10));
    fix.items.append({u"c1"_s, u"ア"_s, u"1"_s, {}});
    Certificate rival = book.correct(c.id, QDate(2003, 4, 10));
    book.save(fix);
    EXPECT_EQ(errorOf([&] { book.save(rival); }), jet::err::NotSupported); // another workstation came first
    EXPECT_EQ(fix.series, c.series);
    EXPECT_EQ(fix.version, 2);
    EXPECT_EQ(fix.previous, c.id);
    EXPECT_EQ(fix.medicalValidity, book.read(c.id).medicalValidity);
    EXPECT_EQ(book.read(c.id).items, sent);
    EXPECT_EQ(book.read(c.id).status, Status::Issued);
    EXPECT_EQ(errorOf([&] { book.correct(c.id, QDate(2003, 4, 11)); }), jet::err::NotSupported);
    EXPECT_EQ(errorOf([&] { book.correct(fix.id, QDate(2003, 4, 11)); }), jet::err::NotSupported);

    // Only what the forms ask is stored.
    fix.items.append({u"c10"_s, u"ア.程度"_s, u"4"_s, {}});
    EXPECT_EQ(errorOf([&] { book.save(fix); }), jet::err::InvalidArgument);
    fix.items.last() = {u"living"_s, u"environment"_s, u"1"_s, {}};
    EXPECT_EQ(errorOf([&] { book.save(fix); }), jet::err::InvalidArgument); // a handbook field on a medical one
    fix.handbook = true;
    book.save(fix);
    EXPECT_EQ(book.read(fix.id).items, fix.items);
}

TEST(IcdRuleTest, AcceptsFAndG40WrittenAsALetterAndTwoOrThreeDigits)
{
    for (const QString &code : {u"F00"_s, u"F99"_s, u"F25.1"_s, u"F251"_s, u"Ｆ３２"_s, u" f20 "_s, u"G40"_s, u"G40.9"_s})
        EXPECT_TRUE(acceptedForMedical(code)) << code.toStdString();
    for (const QString &code : {u"G47"_s, u"G30"_s, u"F2"_s, u"F2000"_s, u"F20-"_s, u"FF20"_s, u""_s, u"-"_s, u"E11"_s})
        EXPECT_FALSE(acceptedForMedical(code)) << code.toStdString();

    Certificate c;
    c.medical = true;
    c.mainDiagnosis = 2;
    c.mainIcd = u"F20"_s;
    c.secondDiagnosis = 3;
    c.secondIcd = u"G47.0"_s;
    c.secondName = u"不眠症"_s;
    const QList<DiagnosisOutside> outside = outsideMedicalRange(c);
    ASSERT_EQ(outside.size(), 1);
    EXPECT_EQ(outside.first().field, u"secondary"_s);
    EXPECT_TRUE(outside.first().message().contains(u"G47.0"_s));
    c.medical = false;
    c.handbook = true;
    EXPECT_TRUE(outsideMedicalRange(c).isEmpty());
}

// Random certificates, corrections and renewals of a few patients; the
// list must equal the rule worked out from every row read plainly.
TEST_F(RecordsTest, TheRenewalsListAgreesWithAnIndependentReadingOfEveryRow)
{
    const QDate today(2003, 4, 1);
    QRandomGenerator random(25);
    for (int chart = 2001; chart <= 2030; ++chart)
        ward.connection().execute(u"INSERT INTO 患者情報 (カルテID, 氏名, かな氏名) VALUES (?, ?, ?)"_s,
                                  {chart, u"患者%1"_s.arg(chart), u"かんじゃ%1"_s.arg(chart)});
    QList<int> issued;
    for (int n = 0; n < 90; ++n) {
        const int chart = 2001 + int(random.bounded(30));
        Certificate c;
        if (!issued.isEmpty() && random.bounded(4) == 0) {
            const int target = issued.at(int(random.bounded(int(issued.size()))));
            if (errorOf([&] { c = book.correct(target, today); }) != 0)
                continue;
        } else {
            const bool medical = random.bounded(3) != 0;
            c = book.create(chart, medical, !medical || random.bounded(2) == 0, today);
        }
        book.save(c);
        if (random.bounded(5) == 0)
            continue; // stays a draft
        book.issue(c.id, today);
        issued.append(c.id);
        for (Kind kind : c.kinds()) {
            // Ends spread over a year around today, the bounds of the window included.
            const QDate end = random.bounded(6) == 0 ? (random.bounded(2) ? today : today.addMonths(3))
                                                     : today.addDays(int(random.bounded(365)) - 120);
            book.setValidity(c.id, kind, {end.addYears(-1), end});
        }
    }

    struct Row
    {
        Certificate c;
        bool has(Kind k) const { return k == Kind::Medical ? c.medical : c.handbook; }
        QDate end(Kind k) const { return k == Kind::Medical ? c.medicalValidity.to : c.handbookValidity.to; }
    };
    QList<Row> rows;
    for (int chart = 2001; chart <= 2030; ++chart)
        for (const Certificate &c : book.ofPatient(chart))
            rows.append({c});
    QList<std::pair<int, Kind>> expected;
    for (const Row &r : rows)
        for (Kind k : {Kind::Medical, Kind::Handbook}) {
            if (r.c.status != Status::Issued || !r.has(k) || r.end(k) < today || r.end(k) > today.addMonths(3))
                continue;
            const bool superseded = std::any_of(rows.begin(), rows.end(), [&](const Row &o) {
                return o.c.status == Status::Issued
                    && ((o.c.series == r.c.series && o.c.version > r.c.version)
                        || (o.c.chart == r.c.chart && o.has(k) && o.end(k) > r.end(k)));
            });
            if (!superseded)
                expected.append({r.c.id, k});
        }
    QList<std::pair<int, Kind>> listed;
    for (const Renewal &r : book.renewalsDue(today, 3))
        listed.append({r.id, r.kind});
    std::sort(expected.begin(), expected.end());
    std::sort(listed.begin(), listed.end());
    EXPECT_GE(expected.size(), 3);
    EXPECT_EQ(listed, expected);
}

// The data files as the windows and layouts will read them.
TEST(FormCatalogTest, FormsHaveTheirTwelveGroupsAndAVariantIsASetting)
{
    const FormCatalog &catalog = FormCatalog::instance();
    const QString edition = catalog.currentEdition();
    for (Kind kind : {Kind::Medical, Kind::Handbook}) {
        const Form *form = catalog.form(edition, kind);
        ASSERT_NE(form, nullptr);
        ASSERT_EQ(form->conditions.size(), 12);
        QSet<QString> codes;
        for (const ConditionGroup &group : form->conditions)
            for (const Field &item : group.items) {
                EXPECT_FALSE(codes.contains(group.code + item.code)) << item.code.toStdString();
                codes.insert(group.code + item.code);
            }
    }
    EXPECT_EQ(catalog.suggestedValidityEnd(edition, Kind::Medical, QDate(2026, 4, 1)), QDate(2027, 3, 31));
    EXPECT_EQ(catalog.suggestedValidityEnd(edition, Kind::Handbook, QDate(2026, 4, 1)), QDate(2028, 3, 31));

    const auto groups = [&](const QString &variant) {
        QStringList list;
        for (const Section &s : catalog.sections(edition, Kind::Medical, variant))
            list.append(s.group + (s.separateSheet ? u"*"_s : u""_s));
        return list;
    };
    const QStringList national = groups(u"national"_s);
    QStringList ibaraki = national;
    ibaraki.insert(national.indexOf(u"treatment"_s) + 1, u"other-clinic"_s);
    EXPECT_EQ(groups(u"ibaraki"_s), ibaraki);
    EXPECT_TRUE(groups(u"tokushima"_s).contains(u"severe*"_s));
    EXPECT_TRUE(catalog.refusal(edition, {Kind::Medical}, u"ibaraki"_s, u"other-clinic"_s, u"present"_s, u"1"_s).isEmpty());
    EXPECT_FALSE(catalog.refusal(edition, {Kind::Medical}, u"national"_s, u"other-clinic"_s, u"present"_s, u"1"_s).isEmpty());
}

// A renewal after a new edition of the forms: an item goes to its field or to
// the one the new edition renamed it to; one the new forms do not ask is named.
TEST_F(RecordsTest, ARenewalOnANewerEditionCarriesItsItemsOverAndNamesThoseWithoutAPlace)
{
    QTemporaryDir forms;
    QDir(forms.path()).mkdir(u"variants"_s);
    const auto write = [&](const QString &name, const QByteArray &json) {
        QFile file(forms.filePath(name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(json);
    };
    QByteArray editions = R"({"current": "old", "editions": [{"id": "old", "medical": "m-old", "handbook": "h"}
        , {"id": "new", "medical": "m-new", "handbook": "h", "renamed": {"c1/イ": "c2/ア"}}]})";
    write(u"editions.json"_s, editions.first(editions.indexOf('\n')) + "]}");
    write(u"variants/national.json"_s, R"({"id": "national"})");
    write(u"m-old.json"_s, R"({"id": "m-old", "conditions": "c-old"})");
    write(u"m-new.json"_s, R"({"id": "m-new", "conditions": "c-new"})");
    write(u"h.json"_s, R"({"id": "h", "kind": "handbook", "conditions": "c-new"})");
    write(u"c-old.json"_s, R"({"groups": [{"code": "c1", "number": "1", "title": "抑うつ状態", "items": [{"code": "ア", "kind": "check"},
        {"code": "イ", "kind": "check"}, {"code": "ウ", "label": "その他", "kind": "check"}]}]})");
    write(u"c-new.json"_s, R"({"groups": [{"code": "c1", "items": [{"code": "ア", "kind": "check"}]},
        {"code": "c2", "items": [{"code": "ア", "kind": "check"}]}]})");

    const FormCatalog olderForms(forms.path());
    CertificateBook before(ward.connection(), olderForms);
    Certificate last = before.create(1001, true, false, QDate(2025, 4, 1));
    last.items = {{u"c1"_s, u"ア"_s, u"1"_s, {}}, {u"c1"_s, u"イ"_s, u"1"_s, u"不安"_s}, {u"c1"_s, u"ウ"_s, u"1"_s, u"希死念慮"_s}};
    before.save(last);

    write(u"editions.json"_s, editions.replace("\"current\": \"old\"", "\"current\": \"new\""));
    const FormCatalog newerForms(forms.path());
    CertificateBook after(ward.connection(), newerForms);
    QStringList unplaced;
    Certificate renewal = after.copyFromLast(1001, QDate(2026, 4, 1), {}, &unplaced);
    EXPECT_EQ(renewal.edition, u"new"_s);
    EXPECT_EQ(renewal.items, (QList<Item>{{u"c1"_s, u"ア"_s, u"1"_s, {}}, {u"c2"_s, u"ア"_s, u"1"_s, u"不安"_s}}));
    EXPECT_EQ(unplaced, QStringList{u"(1) 抑うつ状態：その他：希死念慮"_s});
    after.save(renewal);
}

} // namespace
