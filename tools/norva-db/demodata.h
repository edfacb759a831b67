#pragma once

#include "db/codetables.h"

#include <QList>
#include <QString>
#include <QStringList>

// The fictional hospital's lists, from which the demo database is drawn.
namespace demo {

enum class Group { Schizophrenia, Mood, Dementia, Substance, Neurotic, Development, Epilepsy };

struct Diagnosis
{
    QString code;
    QString name;
    Group group;
    int weight; // how often the ward sees it as the principal diagnosis
};

struct Name
{
    QString kanji;
    QString kana;
};

struct City
{
    QString postalPrefix; // the first three digits
    QString name;         // prefecture and city
    QString areaCode;     // telephone area code with its exchange digit
    QStringList towns;
};

using CodeRow = db::CodeRow;

// The sentences from which an episode's texts are written, by diagnosis group.
struct GroupTexts
{
    QStringList provisional;   // 一時診断名
    QStringList onset;         // first sentence of the history
    QStringList course;        // further history
    QStringList trigger;       // what led to the admission
    QStringList complaint;     // 主訴・症状
    QStringList plan;          // 入院計画
    QStringList ward;          // 入院後経過
    QStringList prescription;  // 退院時処方
    QStringList outpatient;    // course of an outpatient treatment
};

struct Hospital
{
    QString name;
    QString department;
    QString postalCode;
    QString address;
    QString telephone;
};

Hospital hospital();
QList<Diagnosis> diagnoses();
QList<Name> familyNames();
QList<Name> maleNames();
QList<Name> femaleNames();
QList<City> cities();
QStringList physicians();
QList<CodeRow> admissionForms();
QStringList careLevels();
QStringList disabilityGrades();
QStringList handlingCategories();
QStringList outcomes();
QList<CodeRow> sexes();
QList<CodeRow> drugs(); // name and its class
QStringList dosages();
QStringList insurances();
QStringList keyPersons();
QStringList intractableDiseases();

GroupTexts texts(Group group);
QStringList households();
QStringList heredity();
QStringList upbringing();
QStringList personality();
QStringList pastHistory();  // illnesses; none at all is the generator's choice
QStringList remarks();
QStringList dischargeCare();   // 退院後留意点
QStringList aftercare();       // 退院後サービス
QStringList precautions();     // 個別注意事項
QStringList bloodTests();
QStringList eegResults();
QStringList imaging();         // CT and MRI findings
QStringList psychologicalTests();

} // namespace demo
