#pragma once

#include "certificate/records/formcatalog.h"

#include <QDate>
#include <QList>
#include <QString>
#include <QStringList>
#include <QtGlobal>

namespace jet {
class Connection;
}

namespace certificates {

// Jet's "cannot update; the object is read-only": what an edit of an issued
// certificate is refused with, so that a window answers it by number.
inline constexpr qint32 kIssuedRefused = 3027;

enum class Status { Draft = 0, Issued = 1 };

// One coded value of a certificate: a field of a section or an item of a
// condition group, its option or check ("1") and its free text.
struct Item
{
    QString group;
    QString field;
    QString value;
    QString text;

    bool operator==(const Item &other) const = default;
};

struct Validity
{
    QDate from;
    QDate to;

    bool operator==(const Validity &other) const = default;
};

struct Certificate
{
    int id = 0;       // 0 until saved
    int series = 0;   // the ID of the certificate's first version
    int version = 1;
    int previous = 0; // the version this one corrects
    int chart = 0;
    bool medical = false;
    bool handbook = false;
    QString edition;
    QString variant;
    QDate written; // 記載日
    int physician = 1;
    QString physicianName;
    Status status = Status::Draft;
    QDate issued;
    // The coded diagnoses and, as the certificate states them, their names
    // and ICD codes, so that a reprint shows what was sent.
    int mainDiagnosis = 1;
    QString mainName;
    QString mainIcd;
    int secondDiagnosis = 1;
    QString secondName;
    QString secondIcd;
    Validity medicalValidity;
    Validity handbookValidity;
    QList<Item> items;

    QList<Kind> kinds() const;
};

// A diagnosis the 自立支援医療 certificate does not accept, for the window to name.
struct DiagnosisOutside
{
    QString field; // "main" or "secondary"
    QString label; // as the form names the field
    QString icd;
    QString name;

    QString message() const;
};

// Whether the 自立支援医療 application accepts an ICD code: F00 to F99 or
// G40, written as a letter and two or three digits (a point before the
// third, as in F25.1, is allowed; full-width letters and digits are read as
// their ASCII forms).
bool acceptedForMedical(const QString &icd);

// The certificate's diagnoses that the 自立支援医療 form does not accept;
// empty for a handbook-only certificate and for diagnoses not entered.
QList<DiagnosisOutside> outsideMedicalRange(const Certificate &certificate);

// A certificate whose validity of one kind ends soon.
struct Renewal
{
    int id = 0;
    int chart = 0;
    QString name;
    QString kana;
    Kind kind = Kind::Medical;
    QDate validTo;
    QDate written;
    QString physicianName;
};

// The hospital's settings for its certificates.
struct Settings
{
    QString variant;   // the prefecture's variant of the forms
    int renewalMonths; // renewals are listed this many months before the end
};

// The hospital's certificate records, through the engine only.
class CertificateBook
{
public:
    // The forms are the program's own unless a catalog is given.
    explicit CertificateBook(jet::Connection &connection, const FormCatalog &catalog = FormCatalog::instance());

    // A new, unsaved draft for the patient on the current edition, with the
    // diagnoses of the patient row and the physician of the patient's
    // latest episode.  Throws jet::Error(err::InvalidArgument) for no kind.
    Certificate create(int chart, bool medical, bool handbook, const QDate &written,
                       const QString &variant = {}) const;

    // 前回から作成: the patient's last certificate (the last of the kinds
    // given, where they are) as a new, unsaved draft of a series of its own
    // on the current edition, with its kinds, variant,
    // physician and items, the diagnoses taken afresh from the patient row,
    // no validity.  An item of an older edition goes to its field in the
    // current one (renamed where a later edition says so); those the current
    // forms do not ask are left out of the draft and described, with their
    // text, in `unplaced`.  Throws jet::Error(err::NoCurrentRecord) when the
    // patient has none.
    Certificate copyFromLast(int chart, const QDate &written, const QList<Kind> &kinds = {},
                             QStringList *unplaced = nullptr) const;

    // Throws jet::Error(err::NoCurrentRecord) for an unknown ID.
    Certificate read(int id) const;

    // The patient's certificates, newest first, without their items.
    QList<Certificate> ofPatient(int chart) const;

    // Writes a draft (inserting it when new) with its items in one
    // transaction and sets its ID, series and diagnosis texts.  An issued one
    // is refused with kIssuedRefused, an item the forms do not ask with
    // err::InvalidArgument, a correction of a version that is no longer the
    // newest with err::NotSupported.
    void save(Certificate &certificate);

    // Marks a draft issued on the day given.  Refused with kIssuedRefused
    // when it is issued already, with err::InvalidArgument without 記載日.
    void issue(int id, const QDate &issuedOn);

    // A correction: an unsaved draft that is the next version of an issued
    // certificate, with its contents; the issued version stays as it is.
    // Refused with err::NotSupported for a draft or a version that has a
    // newer one.
    Certificate correct(int id, const QDate &written) const;

    // The validity the authority granted, entered when its notice comes, so
    // allowed on an issued certificate too.  err::InvalidArgument for a kind
    // the certificate is not written for or an end before the start.
    void setValidity(int id, Kind kind, const Validity &validity);

    // The issued certificates, newest version of each, whose validity of a
    // kind ends between today and the same day N months on, unless the
    // patient holds a later validity of that kind already; by end, then kana.
    QList<Renewal> renewalsDue(const QDate &today, int months) const;

    Settings settings() const;
    // err::InvalidArgument for a variant the program does not know or
    // months outside 1 to 24.
    void setSettings(const Settings &settings);

private:
    void readDiagnoses(Certificate &certificate) const;
    void checkItems(const Certificate &certificate) const;
    void insert(Certificate &certificate);
    void update(const Certificate &certificate);
    void writeItems(const Certificate &certificate);
    QList<Item> readItems(int id) const;

    jet::Connection &m_connection;
    const FormCatalog &m_catalog;
};

} // namespace certificates
