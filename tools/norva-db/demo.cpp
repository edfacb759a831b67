#include "demo.h"

#include "demodata.h"
#include "random.h"

#include "certificate/records/certificates.h"
#include "db/accounts/accounts.h"
#include "db/accounts/authenticator.h"
#include "db/accounts/extension.h"
#include "db/accounts/passwords.h"
#include "certificate/records/extension.h"

#include "db/engine/clock.h"
#include "db/engine/connection.h"
#include "db/engine/transaction.h"

#include <QDate>
#include <QStringList>
#include <QVariantList>
#include <algorithm>
#include <cmath>

using namespace Qt::StringLiterals;
using demo::Group;

namespace {

// Code tables start with their placeholder (ID 1); the rows the demo adds
// follow in insertion order.
constexpr int kFirstCode = 2;
constexpr int kMale = 2;
constexpr int kFemale = 3;

struct Patient
{
    bool male = true;
    QDate birth;
    int diagnosis = 0; // index into the diagnosis list
    Group group = Group::Schizophrenia;
    bool current = false;
    int chart = 0;
    int admissions = 0;
    int physician = 0;
};

struct Episode
{
    int patient = 0;
    int sequence = 0; // counted back from the patient's latest episode
    bool outpatient = false;
    bool current = false;
    QDate admitted;
    QDate discharged;
    QDate registered; // when the episode was entered, for the order of the IDs
    int room = 1;
    int bed = 1;
};

QString insertSql(const QString &table, const QStringList &columns)
{
    QStringList quoted;
    QStringList markers;
    for (const QString &column : columns) {
        quoted.append(u'`' + column + u'`');
        markers.append(u"?"_s);
    }
    return u"INSERT INTO `%1` (%2) VALUES (%3)"_s.arg(table, quoted.join(u", "_s), markers.join(u", "_s));
}

QVariant orNull(const QString &text)
{
    return text.isEmpty() ? QVariant() : QVariant(text);
}

QVariant orNull(const QDate &date)
{
    return date.isValid() ? QVariant(date) : QVariant();
}

// The sentence pools that do not depend on the diagnosis, read once.
struct Pools
{
    QStringList households;
    QStringList heredity;
    QStringList upbringing;
    QStringList personality;
    QStringList pastHistory;
    QStringList remarks;
    QStringList aftercare;
    QStringList dischargeCare;
    QStringList precautions;
    QStringList bloodTests;
    QStringList eegResults;
    QStringList imaging;
    QStringList psychologicalTests;
    QStringList intractable;
};

const Pools &pools()
{
    static const Pools instance{demo::households(), demo::heredity(), demo::upbringing(), demo::personality(), demo::pastHistory(), demo::remarks(), demo::aftercare(), demo::dischargeCare(), demo::precautions(), demo::bloodTests(), demo::eegResults(), demo::imaging(), demo::psychologicalTests(), demo::intractableDiseases()};
    return instance;
}

class Generator
{
public:
    Generator(jet::Connection &connection, const DemoOptions &options)
        : m_connection(connection), m_options(options), m_random(options.seed), m_today(jet::Clock::today()),
          m_diagnoses(demo::diagnoses()), m_physicians(demo::physicians())
    {
        for (Group g : {Group::Schizophrenia, Group::Mood, Group::Dementia, Group::Substance, Group::Neurotic,
                        Group::Development, Group::Epilepsy})
            m_texts.append(demo::texts(g));
    }

    DemoSummary run()
    {
        jet::Transaction transaction(m_connection);
        writeCodeTables();
        planPatients();
        planEpisodes();
        writePatients();
        writeEpisodes();
        transaction.commit();
        if (m_options.certificateRecords)
            writeCertificateRecords();
        if (m_options.accounts)
            writeAccounts();
        return m_summary;
    }

private:
    // Text drawn from a pool: count distinct sentences, joined without blanks.
    // The pools are written in the order a history is told, so the chosen
    // sentences keep that order.
    QString sentences(const QStringList &pool, int count)
    {
        QList<qsizetype> order;
        for (qsizetype i = 0; i < pool.size(); ++i)
            order.append(i);
        m_random.shuffle(order);
        order.resize(std::min<qsizetype>(count, order.size()));
        std::sort(order.begin(), order.end());
        QString text;
        for (qsizetype i : order)
            text += pool.at(i);
        return text;
    }

    QString maybe(double p, const QStringList &pool, int count = 1)
    {
        return m_random.chance(p) ? sentences(pool, count) : QString();
    }

    int code(int index) const { return kFirstCode + index; }

    void insertCodes(const QString &table, const QStringList &texts)
    {
        const QString sql = insertSql(table, {table});
        for (const QString &text : texts)
            m_connection.execute(sql, {text});
    }

    void insertCodes(const QString &table, const QString &second, const QList<demo::CodeRow> &rows)
    {
        db::insertCodes(m_connection, table, second, rows);
    }

    // The ward holds a bed for every current in-patient with a sixth to
    // spare, in rooms of four beds numbered by floor from the second.
    void writeCodeTables()
    {
        const demo::Hospital hospital = demo::hospital();
        m_connection.execute(u"UPDATE 病院名 SET 病院名 = ?, 診療担当科名 = ?, 郵便番号 = ?, 所在地 = ?, 電話番号 = ?"_s,
                             {hospital.name, hospital.department, hospital.postalCode, hospital.address,
                              hospital.telephone});

        const QString diagnosis = insertSql(u"診断名(ICD10)"_s, {u"診断名"_s, u"ICDコード"_s});
        for (const demo::Diagnosis &d : m_diagnoses)
            m_connection.execute(diagnosis, {d.name, d.code});

        insertCodes(u"主治医"_s, m_physicians);

        m_currentCount = (m_options.patients + 30) / 60;
        const int beds = m_currentCount + m_currentCount / 6 + 1;
        m_bedsPerRoom = std::max(4, int(std::ceil(beds / 792.0)));
        const int rooms = std::max(20, (beds + m_bedsPerRoom - 1) / m_bedsPerRoom);
        const int floors = std::clamp((rooms + 39) / 40, 2, 8);
        const int perFloor = (rooms + floors - 1) / floors;
        QStringList roomNames;
        for (int i = 0; i < rooms; ++i)
            roomNames.append(QString::number((2 + i / perFloor) * 100 + 1 + i % perFloor));
        m_rooms = int(roomNames.size());
        insertCodes(u"病室番号"_s, roomNames);
        QStringList bedNames;
        for (int i = 1; i <= m_bedsPerRoom; ++i)
            bedNames.append(m_bedsPerRoom > 9 ? u"%1"_s.arg(i, 2, 10, QLatin1Char('0')) : QString::number(i));
        insertCodes(u"ベッド番号"_s, bedNames);

        insertCodes(u"入院形態"_s, u"略称"_s, demo::admissionForms());
        insertCodes(u"介護度"_s, demo::careLevels());
        insertCodes(u"障害者等級"_s, demo::disabilityGrades());
        insertCodes(u"扱別"_s, demo::handlingCategories());
        insertCodes(u"転帰"_s, demo::outcomes());
        insertCodes(u"性別"_s, u"略称"_s, demo::sexes());
        const QString drug = insertSql(u"医薬品情報"_s, {u"医薬品名"_s, u"薬効分類"_s});
        for (const demo::CodeRow &row : demo::drugs())
            m_connection.execute(drug, {row.text, row.abbreviation});
        insertCodes(u"服用方法"_s, demo::dosages());
    }

    void planPatients()
    {
        QList<int> weights;
        for (const demo::Diagnosis &d : m_diagnoses)
            weights.append(d.weight);
        m_patients.resize(m_options.patients);
        for (Patient &p : m_patients) {
            p.male = m_random.chance(0.52);
            p.diagnosis = m_random.weighted(weights);
            p.group = m_diagnoses.at(p.diagnosis).group;
            int age;
            switch (p.group) {
            case Group::Dementia:
                age = m_random.between(65, 96);
                break;
            case Group::Development:
                age = m_random.between(18, 55);
                break;
            default: {
                static const QList<QPair<int, int>> bands{{18, 29}, {30, 44}, {45, 64}, {65, 79}, {80, 95}};
                const auto &band = bands.at(m_random.weighted({12, 22, 34, 22, 10}));
                age = m_random.between(band.first, band.second);
            }
            }
            p.birth = m_today.addYears(-age).addDays(-m_random.between(0, 364));
            p.physician = int(m_random.below(std::uint64_t(m_physicians.size())));
        }
        QList<int> order;
        for (int i = 0; i < m_options.patients; ++i)
            order.append(i);
        m_random.shuffle(order);
        for (int i = 0; i < m_currentCount && i < order.size(); ++i)
            m_patients[order.at(i)].current = true;
    }

    int stayOfCurrent()
    {
        static const QList<QPair<int, int>> bands{{0, 7}, {8, 28}, {29, 90}, {91, 365}, {366, 1825}, {1826, 9000}};
        const auto &band = bands.at(m_random.weighted({6, 10, 17, 22, 25, 20}));
        return m_random.between(band.first, band.second);
    }

    int stayOfDischarged()
    {
        static const QList<QPair<int, int>> bands{{7, 30}, {31, 90}, {91, 365}, {366, 1500}};
        const auto &band = bands.at(m_random.weighted({25, 40, 27, 8}));
        return m_random.between(band.first, band.second);
    }

    // Each patient's history is laid out backwards from the latest episode,
    // so that admissions never overlap and only the current one reaches today.
    void planEpisodes()
    {
        QList<std::pair<int, int>> beds;
        for (int room = 0; room < m_rooms; ++room)
            for (int bed = 0; bed < m_bedsPerRoom; ++bed)
                beds.append({code(room), code(bed)});
        m_random.shuffle(beds);
        int nextBed = 0;

        for (int index = 0; index < m_patients.size(); ++index) {
            Patient &p = m_patients[index];
            const QDate earliest = p.birth.addYears(16);
            const int count = 1 + m_random.weighted({25, 24, 18, 13, 9, 6, 5});
            QDate cursor;
            int sequence = 0;
            if (p.current) {
                Episode e;
                e.patient = index;
                e.current = true;
                e.admitted = std::max(m_today.addDays(-stayOfCurrent()), earliest);
                if (m_random.chance(0.08))
                    e.discharged = m_today.addDays(m_random.between(0, 21));
                e.registered = e.admitted;
                e.room = beds.at(nextBed).first;
                e.bed = beds.at(nextBed).second;
                ++nextBed;
                m_episodes.append(e);
                ++p.admissions;
                ++sequence;
                cursor = e.admitted.addDays(-m_random.between(30, 1500));
            } else {
                cursor = std::max(m_today.addDays(-m_random.between(1, 3650)), earliest.addDays(60));
                cursor = std::min(cursor, m_today.addDays(-1));
            }
            for (; sequence < count && cursor > earliest.addDays(30); ++sequence) {
                Episode e;
                e.patient = index;
                e.sequence = sequence;
                e.outpatient = m_random.chance(sequence == 0 ? 0.5 : 0.35);
                if (e.outpatient) {
                    e.registered = std::max(cursor.addDays(-m_random.between(0, 400)), earliest);
                    cursor = e.registered.addDays(-m_random.between(30, 1500));
                } else {
                    e.discharged = cursor;
                    e.admitted = std::max(cursor.addDays(-stayOfDischarged()), earliest);
                    e.registered = e.admitted;
                    e.room = code(int(m_random.below(std::uint64_t(m_rooms))));
                    e.bed = code(int(m_random.below(std::uint64_t(m_bedsPerRoom))));
                    ++p.admissions;
                    cursor = e.admitted.addDays(-m_random.between(30, 1500));
                }
                m_episodes.append(e);
            }
        }

        std::stable_sort(m_episodes.begin(), m_episodes.end(), [](const Episode &a, const Episode &b) {
            if (a.registered != b.registered)
                return a.registered < b.registered;
            if (a.patient != b.patient)
                return a.patient < b.patient;
            return a.sequence > b.sequence;
        });
        // Chart numbers are given in the order the patients first came.
        int chart = 100001;
        for (const Episode &e : m_episodes) {
            Patient &p = m_patients[e.patient];
            if (p.chart == 0)
                p.chart = chart++;
        }
    }

    void writePatients()
    {
        const QList<demo::Name> family = demo::familyNames();
        const QList<demo::Name> men = demo::maleNames();
        const QList<demo::Name> women = demo::femaleNames();
        const QList<demo::City> cities = demo::cities();
        const QStringList insurances = demo::insurances();
        const QStringList keyPersons = demo::keyPersons();
        const QString sql = insertSql(u"患者情報"_s,
                                      {u"カルテID"_s, u"氏名"_s, u"かな氏名"_s, u"生年月日"_s, u"性別"_s, u"郵便番号"_s,
                                       u"住所"_s, u"電話番号"_s, u"キーパーソン"_s, u"家族歴・家族構成・遺伝負因"_s,
                                       u"生育歴・学歴・職歴"_s, u"性格・気質"_s, u"既往歴"_s, u"診断名①"_s, u"診断名②"_s,
                                       u"診断名③"_s, u"介護度"_s, u"障害者等級"_s, u"入院回数"_s, u"保険"_s,
                                       u"特定疾患内容"_s, u"備考"_s, u"32条申請"_s, u"介護保険申請"_s,
                                       u"障害者手帳申請"_s, u"特定疾患申請"_s});
        const QString certificate = insertSql(
            u"32条診断書"_s, {u"カルテID"_s, u"主精神障害"_s, u"推定発病時期"_s, u"病歴および経過など0"_s,
                              u"病状の持続"_s, u"継続治療が必要"_s, u"投薬内容"_s, u"医師氏名"_s, u"○抑うつ状態"_s,
                              u"憂うつ気分"_s, u"○幻覚妄想状態"_s, u"幻覚"_s, u"妄想"_s, u"○乱用依存"_s,
                              u"アルコール"_s, u"○知能障害"_s, u"痴呆"_s});

        QList<int> byChart(m_patients.size());
        for (int i = 0; i < m_patients.size(); ++i)
            byChart[m_patients.at(i).chart - 100001] = i;

        for (int index : byChart) {
            const Patient &p = m_patients.at(index);
            const demo::Name &surname = m_random.pick(family);
            const demo::Name &given = m_random.pick(p.male ? men : women);
            const demo::City &city = m_random.pick(cities);
            const QString postal = city.postalPrefix + u'-' + u"%1"_s.arg(m_random.between(0, 9999), 4, 10, QLatin1Char('0'));
            QString address = city.name + m_random.pick(city.towns)
                + u"%1-%2-%3"_s.arg(m_random.between(1, 5)).arg(m_random.between(1, 30)).arg(m_random.between(1, 20));
            if (m_random.chance(0.3))
                address += u" コーポ%1 %2号室"_s.arg(m_random.pick(QStringList{u"さくら"_s, u"けやき"_s, u"ひかり"_s}))
                               .arg(m_random.between(1, 3) * 100 + m_random.between(1, 8));
            const QString phone = m_random.chance(0.4)
                ? u"090-%1-%2"_s.arg(m_random.between(1000, 9999)).arg(m_random.between(1000, 9999))
                : city.areaCode + u"%1-%2"_s.arg(m_random.between(10, 99)).arg(m_random.between(1000, 9999));
            const bool rich = p.current;
            const int age = p.birth.daysTo(m_today) / 365;
            const bool care = age >= 65 && m_random.chance(0.35);
            const bool handbook = m_random.chance(0.25);
            const bool intractable = m_random.chance(0.02);
            const bool subsidy = m_random.chance(0.4);
            const int second = m_random.chance(0.25) ? code(int(m_random.below(std::uint64_t(m_diagnoses.size())))) : 1;

            m_connection.execute(sql, {
                p.chart, surname.kanji + u'　' + given.kanji, surname.kana + given.kana, p.birth,
                p.male ? kMale : kFemale, postal, address, phone, m_random.pick(keyPersons),
                m_random.pick(pools().households) + (rich ? m_random.pick(pools().heredity) : QString()), sentences(pools().upbringing, rich ? 2 : 1),
                sentences(pools().personality, 1), m_random.chance(0.4) ? u"特記すべきことなし。"_s : sentences(pools().pastHistory, rich ? 2 : 1),
                code(p.diagnosis), second, 1,
                care ? code(m_random.between(0, 6)) : 1, handbook ? code(m_random.between(0, 2)) : 1,
                u"%1回"_s.arg(p.admissions), m_random.pick(insurances),
                intractable ? QVariant(m_random.pick(pools().intractable)) : QVariant(),
                orNull(maybe(rich ? 0.8 : 0.3, pools().remarks, rich ? 2 : 1)),
                subsidy ? -1 : 0, care ? -1 : 0, handbook ? -1 : 0, intractable ? -1 : 0,
            });
            ++m_summary.patients;

            if (subsidy) {
                const Group g = p.group;
                const QDate onset = p.birth.addYears(std::min(age, m_random.between(18, 40)));
                m_connection.execute(certificate, {
                    p.chart, code(p.diagnosis), u"%1年%2月"_s.arg(onset.year()).arg(onset.month()),
                    sentences(m_texts.at(int(g)).onset, 1) + sentences(m_texts.at(int(g)).course, 2),
                    -1, -1, m_random.pick(m_texts.at(int(g)).prescription), m_physicians.at(p.physician),
                    g == Group::Mood ? -1 : 0, g == Group::Mood ? -1 : 0,
                    g == Group::Schizophrenia ? -1 : 0, g == Group::Schizophrenia ? -1 : 0,
                    g == Group::Schizophrenia ? -1 : 0, g == Group::Substance ? -1 : 0,
                    g == Group::Substance ? -1 : 0, g == Group::Dementia ? -1 : 0, g == Group::Dementia ? -1 : 0,
                });
                if (handbook || m_random.chance(0.3))
                    writeHandbookPart(p.chart, g, onset);
                ++m_summary.certificates;
            }
        }
    }

    // The handbook certificate's own fields: the first visit, the living
    // environment, one level in each of the eight ability areas around the
    // patient's severity, the matching degree and the physician's kind.
    void writeHandbookPart(int chart, Group g, const QDate &onset)
    {
        static const QStringList areas{u"食事"_s, u"清潔"_s, u"金銭"_s, u"通院"_s,
                                       u"対人"_s, u"安全"_s, u"社会"_s, u"参加"_s};
        const QStringList levels{u"できる"_s, u"おおむね"_s, u"援助"_s, u"できない"_s};
        const int base = g == Group::Dementia ? 2 : (g == Group::Schizophrenia ? 1 : 0);
        const int severity = std::min(3, base + m_random.between(0, 1));
        QStringList columns{u"初診日"_s, u"状態の程度0"_s, u"福祉サービス"_s, u"精神療法"_s, u"指定医"_s,
                            u"程度%1"_s.arg(severity + 2), u"通院要不要"_s};
        const QDate first = onset.addMonths(m_random.between(1, 18));
        QVariantList values{u"%1年%2月%3日"_s.arg(first.year()).arg(first.month()).arg(first.day()),
                            sentences(m_texts.at(int(g)).course, 1),
                            m_random.pick(QStringList{u"デイケアを週3回利用している。"_s, u"訪問看護を週1回利用している。"_s,
                                                      u"就労継続支援B型事業所に通所している。"_s, u"利用していない。"_s}),
                            m_random.pick(QStringList{u"支持的精神療法"_s, u"認知行動療法"_s, u"家族療法"_s}),
                            -1, -1, severity >= 2 ? -1 : 0};
        if (m_random.chance(0.8)) {
            columns << u"生活環境在宅"_s;
            values << -1;
        } else {
            columns << u"生活環境入所"_s << u"生活環境入所名"_s;
            values << -1 << u"グループホームひまわり"_s;
        }
        for (const QString &area : areas) {
            int level = std::clamp(severity + m_random.between(-1, 1), 0, 3);
            QString column = area + levels.at(level);
            // The first two areas name their second level differently.
            if (level == 1 && (area == u"食事"_s || area == u"清潔"_s))
                column = area + u"できる援助"_s;
            columns << column;
            values << -1;
        }
        QStringList assignments;
        for (const QString &column : columns)
            assignments << u"`%1` = ?"_s.arg(column);
        values << chart;
        m_connection.execute(u"UPDATE `32条診断書` SET %1 WHERE カルテID = ?"_s.arg(assignments.join(u", "_s)), values);
    }

    void writeEpisodes()
    {
        const QString episode = insertSql(
            u"入退院情報"_s,
            {u"カルテID"_s, u"外入の別"_s, u"入院日"_s, u"退院日"_s, u"一時診断名"_s, u"現病歴"_s, u"入院形態"_s,
             u"病室番号"_s, u"ベッド番号"_s, u"主治医①"_s, u"主治医②"_s, u"入院計画病名"_s, u"推定入院期間"_s,
             u"主訴・症状"_s, u"入院計画"_s, u"検査内容"_s, u"入院後経過"_s, u"入院中の自殺企図"_s,
             u"入院中の保護室使用"_s, u"入院中のＥＳＴ"_s, u"入院中の診断書発行"_s, u"退院計画"_s, u"退院時処方"_s,
             u"退院後留意点"_s, u"退院後サービス"_s, u"扱別"_s, u"転帰"_s, u"時間外頻度"_s, u"個別注意事項"_s});
        const QString exams = insertSql(
            u"検査情報"_s, {u"入退院ID"_s, u"検査(血液・生化・尿他)"_s, u"検査(脳波)"_s, u"検査(レントゲン)"_s,
                            u"検査(ＣＴ)"_s, u"検査(ＭＲＩ)"_s, u"検査(ＳＰＥＣＴ)"_s, u"検査(心理検査)"_s,
                            u"検査(その他)"_s});
        const QString diagnosis = insertSql(u"診断情報"_s, {u"入退院ID"_s});
        const QStringList periods{u"1か月"_s, u"3か月"_s, u"3か月程度"_s, u"6か月"_s, u"1年"_s, u"未定"_s};

        int id = 0;
        for (const Episode &e : m_episodes) {
            const Patient &p = m_patients.at(e.patient);
            const demo::GroupTexts &t = m_texts.at(int(p.group));
            const bool rich = e.current;
            const bool admission = !e.outpatient;
            const int physician = code(p.physician);
            const int second = m_random.chance(0.3) ? code(int(m_random.below(std::uint64_t(m_physicians.size())))) : 1;

            QString history = sentences(t.onset, 1) + sentences(t.course, rich ? 3 : (admission ? 0 : 1));
            if (admission)
                history += sentences(t.trigger, 1);
            QString course;
            if (e.outpatient)
                course = sentences(t.outpatient, 1);
            else
                course = sentences(t.ward, rich ? 4 : (e.discharged.daysTo(m_today) < 730 ? 2 : 1));
            const bool discharged = admission && !e.current;
            const int outcome = discharged ? code(m_random.weighted({50, 15, 20, 5, 7, 3})) : 1;
            const int form = admission ? code(m_random.weighted({55, 35, 3, 1, 4, 2})) : 1;

            m_connection.execute(episode, {
                p.chart, e.outpatient ? -1 : 0, orNull(e.admitted), orNull(e.discharged),
                m_random.pick(t.provisional), history, form,
                admission ? e.room : 1, admission ? e.bed : 1, physician, second,
                rich ? QVariant(m_random.pick(t.provisional)) : QVariant(),
                rich ? QVariant(m_random.pick(periods)) : QVariant(),
                admission ? orNull(maybe(rich ? 1.0 : 0.5, t.complaint)) : QVariant(),
                admission ? orNull(maybe(rich ? 1.0 : 0.3, t.plan, rich ? 2 : 1)) : QVariant(),
                rich ? QVariant(u"血液検査、尿検査、心電図、頭部CT"_s) : QVariant(),
                course,
                admission && m_random.chance(0.03) ? -1 : 0, admission && m_random.chance(0.12) ? -1 : 0,
                admission && m_random.chance(0.01) ? -1 : 0,
                admission && m_random.chance(0.1) ? QVariant(u"医療保護入院者の定期病状報告書"_s) : QVariant(),
                discharged ? orNull(maybe(0.6, t.outpatient)) : QVariant(),
                discharged ? QVariant(m_random.pick(t.prescription)) : QVariant(),
                discharged ? orNull(maybe(0.4, pools().dischargeCare)) : QVariant(),
                discharged ? orNull(maybe(0.4, pools().aftercare)) : QVariant(),
                code(m_random.weighted({30, 35, 15, 12, 5, 1, 2})), outcome,
                1 + m_random.weighted({20, 25, 20, 10, 10, 5, 5, 3, 1, 1}),
                orNull(maybe(rich ? 0.4 : 0.02, pools().precautions)),
            });
            ++id;

            const bool oldBrain = p.group == Group::Dementia || p.group == Group::Epilepsy;
            m_connection.execute(exams, {
                id,
                orNull(maybe(admission ? 1.0 : 0.3, pools().bloodTests, rich ? 3 : 1)),
                orNull(maybe(p.group == Group::Epilepsy ? 0.9 : 0.1, pools().eegResults)),
                admission ? orNull(maybe(0.4, {u"胸部X線：異常なし。"_s, u"胸部X線：心拡大なし、肺野清。"_s})) : QVariant(),
                orNull(maybe(oldBrain ? 0.7 : 0.15, pools().imaging)),
                orNull(maybe(oldBrain ? 0.3 : 0.05, pools().imaging)),
                orNull(maybe(p.group == Group::Dementia ? 0.1 : 0.0, {u"両側頭頂葉の血流低下。"_s})),
                orNull(maybe(rich || oldBrain ? 0.5 : 0.1, pools().psychologicalTests)),
                QVariant(),
            });
            m_connection.execute(diagnosis, {id});

            ++m_summary.episodes;
            if (e.current && e.admitted <= m_today && (!e.discharged.isValid() || e.discharged >= m_today))
                ++m_summary.inpatients;
            if (e.outpatient)
                ++m_summary.outpatientCourses;
        }
    }

    // Today's certificates: some patients hold the 自立支援医療 certificate,
    // the 手帳 certificate or both, renewed from the previous one every year
    // (every two for the 手帳 alone) since a year drawn in the last five, so
    // that the newest validities end spread over the coming year and some
    // fall in the renewal window.  A few were corrected after issue, and a
    // few renewals are still drafts.
    void writeCertificateRecords()
    {
        certificates::extendDatabase(m_connection);
        certificates::CertificateBook book(m_connection);
        const certificates::FormCatalog &catalog = certificates::FormCatalog::instance();
        jet::Transaction transaction(m_connection);
        for (const Patient &p : std::as_const(m_patients)) {
            if (!certificates::acceptedForMedical(m_diagnoses.at(p.diagnosis).code) || !m_random.chance(0.15))
                continue;
            const int kind = m_random.weighted({60, 20, 20}); // medical, handbook, both
            const bool medical = kind != 1;
            const bool handbook = kind != 0;
            const int years = medical ? 1 : 2;
            QDate written = m_today.addDays(-m_random.between(365, 5 * 365));
            certificates::Certificate c = book.create(p.chart, medical, handbook, written);
            c.items = certificateItems(p.group, medical, handbook);
            for (;;) {
                book.save(c);
                const bool renewalInProgress = written.addDays(60) > m_today;
                if (renewalInProgress && m_random.chance(0.5))
                    break; // still a draft
                book.issue(c.id, written.addDays(m_random.between(0, 7)));
                const QDate from = written.addDays(m_random.between(20, 45));
                for (certificates::Kind k : c.kinds())
                    book.setValidity(c.id, k, {from, catalog.suggestedValidityEnd(c.edition, k, from)});
                ++m_summary.certificateRecords;
                if (m_random.chance(0.05)) {
                    certificates::Certificate fix = book.correct(c.id, written.addDays(m_random.between(3, 14)));
                    fix.items.append({u"remarks"_s, u"text"_s, {}, u"病名の記載を訂正。"_s});
                    book.save(fix);
                    book.issue(fix.id, fix.written);
                    ++m_summary.certificateRecords;
                }
                // A renewal is written in the months before the validity ends.
                const QDate next = from.addYears(years).addDays(-m_random.between(20, 80));
                if (next > m_today)
                    break;
                written = next;
                c = book.copyFromLast(p.chart, written);
            }
        }
        transaction.commit();
    }

    // One account per role; the passwords pass the rules as they stand.
    // They are published, so their hashes are made at the least cost (the
    // program renews each at its first login): the many demos of the test
    // suite stay quick.
    void writeAccounts()
    {
        using accounts::Role;
        const QList<DemoAccount> demo{
            {u"kanri"_s, u"デモ 管理者"_s, Role::Administrator, u"Kanri-Demo-2026"_s},
            {u"ishi"_s, u"デモ 医師"_s, Role::Physician, u"Ishi-Demo-2026!"_s},
            {u"kango"_s, u"デモ 看護師"_s, Role::Nurse, u"Kango-Demo-2026"_s},
            {u"psw"_s, u"デモ 精神保健福祉士"_s, Role::SocialWorker, u"Psw-Demo-2026!!"_s},
            {u"jimu"_s, u"デモ 事務"_s, Role::Clerk, u"Jimu-Demo-2026!"_s},
        };
        jet::Transaction transaction(m_connection);
        accounts::extendDatabase(m_connection);
        const std::unique_ptr<accounts::Authenticator> passwords =
            accounts::authenticatorFor(m_connection, accounts::HashCost::least());
        accounts::StaffAccounts staff(m_connection, *passwords);
        const accounts::Account administrator =
            staff.createFirstAdministrator(demo.first().loginId, demo.first().displayName, demo.first().password);
        for (const DemoAccount &account : demo.mid(1))
            staff.create(administrator, account.loginId, account.displayName, account.role, account.password, false);
        transaction.commit();
        m_summary.accounts = demo;
    }

    QList<certificates::Item> certificateItems(Group g, bool medical, bool handbook)
    {
        const demo::GroupTexts &t = m_texts.at(int(g));
        using Items = QList<certificates::Item>;
        static const QList<Items> conditions{
            {{u"c3"_s, u"ア"_s, u"1"_s, {}}, {u"c3"_s, u"イ"_s, u"1"_s, {}}, {u"c5"_s, u"イ"_s, u"1"_s, {}},
             {u"c5"_s, u"ウ"_s, u"1"_s, {}}},
            {{u"c1"_s, u"ア"_s, u"1"_s, {}}, {u"c1"_s, u"ウ"_s, u"1"_s, {}}},
            {{u"c10"_s, u"イ"_s, u"1"_s, {}}, {u"c10"_s, u"ウ"_s, u"1"_s, u"近時記憶の障害"_s}},
            {{u"c9"_s, u"ア"_s, u"1"_s, {}}, {u"c9"_s, u"状態"_s, u"2"_s, {}}, {u"c9"_s, u"使用"_s, u"0"_s, {}}},
            {{u"c7"_s, u"ア"_s, u"1"_s, {}}, {u"c7"_s, u"イ"_s, u"1"_s, {}}},
            {{u"c11"_s, u"ア"_s, u"1"_s, {}}, {u"c11"_s, u"イ"_s, u"1"_s, {}}, {u"c6"_s, u"ウ"_s, u"1"_s, {}}},
            {{u"c8"_s, u"ア"_s, u"1"_s, {}}, {u"c8"_s, u"ア.発作型"_s, {}, u"複雑部分発作"_s},
             {u"c8"_s, u"ア.頻度"_s, {}, u"年2回"_s}},
        };
        Items items = conditions.at(int(g));
        items.append({u"history"_s, u"course"_s, {}, sentences(t.onset, 1) + sentences(t.course, 2)});
        items.append({u"detail"_s, u"text"_s, {}, sentences(t.outpatient, 1)});
        if (medical) {
            items.append({u"treatment"_s, u"drugs"_s, {}, m_random.pick(t.prescription)});
            items.append({u"treatment"_s, u"nursing"_s, m_random.chance(0.2) ? u"1"_s : u"0"_s, {}});
        }
        if (handbook) {
            const int severity = g == Group::Dementia ? 3 : (g == Group::Schizophrenia ? 2 : 1);
            items.append({u"living"_s, u"environment"_s, m_random.chance(0.8) ? u"4"_s : u"3"_s, {}});
            for (int area = 1; area <= 8; ++area)
                items.append({u"abilities"_s, QString::number(area),
                              QString::number(std::clamp(severity + m_random.between(-1, 1), 1, 4)), {}});
            items.append({u"degree"_s, u"level"_s, QString::number(severity + 1), {}});
        }
        return items;
    }

    jet::Connection &m_connection;
    const DemoOptions m_options;
    Random m_random;
    const QDate m_today;
    const QList<demo::Diagnosis> m_diagnoses;
    const QStringList m_physicians;
    QList<demo::GroupTexts> m_texts; // by group
    QList<Patient> m_patients;
    QList<Episode> m_episodes;
    int m_currentCount = 0;
    int m_rooms = 0;
    int m_bedsPerRoom = 0;
    DemoSummary m_summary;
};

} // namespace

DemoSummary fillDemoDatabase(jet::Connection &connection, const DemoOptions &options)
{
    return Generator(connection, options).run();
}
