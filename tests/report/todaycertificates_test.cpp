#include "certificate/records/certificates.h"
#include "certificate/records/extension.h"
#include "report/catalogue.h"
#include "report/engine.h"
#include "support/fixture.h"

#include <algorithm>
#include <gtest/gtest.h>

using namespace Qt::StringLiterals;
using certificates::FieldKind;

namespace {

const QStringList kForms{u"rptJiritsuToday"_s, u"rptTechoToday"_s};

// Every item of both forms answered, each text as long as its limit allows.
QList<certificates::Item> everyItemFull(const QString &edition, const QString &variant)
{
    const certificates::FormCatalog &catalog = certificates::FormCatalog::instance();
    QList<certificates::Item> items;
    const auto add = [&](const QString &group, const certificates::Field &f) {
        const QString text = f.maxLength > 0 ? QString(f.maxLength, u'症') : QString();
        certificates::Item item{group, f.code, {}, {}};
        if (f.kind == FieldKind::Check) {
            item = {group, f.code, u"1"_s, text};
        } else if (f.kind == FieldKind::Choice || f.kind == FieldKind::Level) {
            const auto withText = std::find_if(f.options.begin(), f.options.end(), [](const auto &o) { return o.takesText; });
            item = {group, f.code, (withText != f.options.end() ? *withText : f.options.last()).code, text};
        } else if (f.kind == FieldKind::Text) {
            item = {group, f.code, {}, text};
        } else if (f.kind == FieldKind::Date) {
            item = {group, f.code, u"2019-05-01"_s, {}};
        } else {
            return;
        }
        if (std::none_of(items.begin(), items.end(), [&](const auto &i) { return i.group == group && i.field == f.code; }))
            items.append(item);
    };
    for (const certificates::Kind kind : {certificates::Kind::Medical, certificates::Kind::Handbook}) {
        for (const certificates::Section &s : catalog.sections(edition, kind, variant))
            for (const certificates::Field &f : s.fields)
                add(s.group, f);
        for (const certificates::ConditionGroup &g : catalog.form(edition, kind)->conditions)
            for (const certificates::Field &f : g.items)
                add(g.code, f);
    }
    return items;
}

class TodayCertificatesTest : public ::testing::Test
{
protected:
    TodayCertificatesTest() { certificates::extendDatabase(ward.connection()); }

    int certificate(const QString &variant)
    {
        certificates::CertificateBook book(ward.connection());
        certificates::Certificate c = book.create(1001, true, true, QDate(2026, 12, 1), variant);
        c.items = everyItemFull(c.edition, variant);
        book.save(c);
        return c.id;
    }

    struct Printout
    {
        std::unique_ptr<report::Layout> declared;
        QList<report::Page> pages;
    };

    Printout print(const QString &name, int id)
    {
        const report::Document doc = report::document(name, source.institution(), testing_support::WardDatabase::today());
        source.setKey(doc.command, id);
        const report::RecordsetRows rows(source.result(doc.command));
        Printout out{doc.layout->declaredFor(rows), report::layOut(*doc.layout, rows, testing_support::WardDatabase::today())};
        source.close(doc.command);
        return out;
    }

    testing_support::WardDatabase ward;
    report::DataSource source{QString(), ward.path()};
};

// The form's title, its sections and condition groups and its signing block
// print in the order of the data files, on one sheet in legible type, with
// every box holding as much as its window lets a user type.
TEST_F(TodayCertificatesTest, EveryFormFullOnOneSheetWithItsTextsInOrder)
{
    const certificates::FormCatalog &catalog = certificates::FormCatalog::instance();
    for (const QString &variant : {u"national"_s, u"ibaraki"_s}) {
        const int id = certificate(variant);
        for (const QString &name : kForms) {
            const certificates::Kind kind = name == kForms.first() ? certificates::Kind::Medical : certificates::Kind::Handbook;
            const certificates::Form *form = catalog.form(catalog.currentEdition(), kind);
            QStringList expected{form->title};
            for (const certificates::Section &s : catalog.sections(catalog.currentEdition(), kind, variant)) {
                expected << (s.number.isEmpty() ? s.title : s.number + u'　' + s.title);
                if (s.group == u"conditions"_s)
                    for (const certificates::ConditionGroup &g : form->conditions)
                        expected << u"(%1) %2"_s.arg(g.number, g.title);
            }
            for (const certificates::Field &f : form->footer)
                expected << f.label;

            const Printout out = print(name, id);
            ASSERT_EQ(out.pages.size(), 1) << name.toStdString() << " " << variant.toStdString();
            QList<report::TextRun> runs = out.pages.first().texts;
            std::stable_sort(runs.begin(), runs.end(), [](const auto &a, const auto &b) {
                return a.rect.top() != b.rect.top() ? a.rect.top() < b.rect.top() : a.rect.left() < b.rect.left();
            });
            qsizetype next = 0;
            for (const QString &text : expected) {
                while (next < runs.size() && !runs.at(next).text.startsWith(text))
                    ++next;
                ASSERT_LT(next, runs.size()) << name.toStdString() << ": " << text.toStdString();
                ++next;
            }
            // The institution written at run time and a date item as a date.
            EXPECT_TRUE(out.pages.first().plainText().contains(source.institution().name));
            if (kind == certificates::Kind::Handbook)
                EXPECT_TRUE(out.pages.first().plainText().contains(u"令和1年5月1日"_s));
            for (const report::TextRun &run : runs) {
                EXPECT_GE(run.font.pointSizeF(), report::kLegiblePoints) << run.text.toStdString();
                EXPECT_LE(run.rect.right(), out.pages.first().paper.width()) << run.text.toStdString();
            }
        }
    }
}

// Each answer's circle stands over the word, number or letter it answers,
// however the lines above it have grown.
TEST_F(TodayCertificatesTest, EveryMarkFallsOverItsWord)
{
    const int id = certificate(u"national"_s);
    for (const QString &name : kForms) {
        const Printout out = print(name, id);
        const report::Page &page = out.pages.first();
        int printed = 0;
        for (const report::Item &mark : out.declared->detail.items) {
            if (mark.kind != report::Item::Kind::Mark)
                continue;
            QRect at;
            for (const report::TextRun &run : page.texts)
                if (run.item == mark.name)
                    at = run.rect;
            for (const report::Oval &oval : page.ovals)
                if (oval.item == mark.name)
                    at = oval.rect;
            if (at.isNull())
                continue;
            ++printed;
            const auto anchor = std::find_if(page.texts.begin(), page.texts.end(),
                                             [&](const report::TextRun &run) { return run.item == mark.anchor; });
            ASSERT_NE(anchor, page.texts.end()) << mark.name.toStdString();
            // The characters it covers from side to side: a whole word, not part of one.
            QString covered;
            qsizetype first = -1;
            for (qsizetype i = 0; i < anchor->text.size(); ++i) {
                const QRectF glyph = report::glyphBox(*anchor, i, 1);
                if (glyph.left() >= at.left() && glyph.right() <= at.right() + 1) {
                    first = first < 0 ? i : first;
                    covered += anchor->text.at(i);
                }
            }
            const qsizetype end = first + covered.size();
            EXPECT_TRUE(first >= 0 && (first == 0 || !anchor->text.at(first - 1).isLetterOrNumber())
                        && (end == anchor->text.size() || !anchor->text.at(end).isLetterOrNumber()))
                << mark.name.toStdString() << " covers " << covered.toStdString() << " of " << anchor->text.toStdString();
        }
        // The twelve groups, their items and the form's choices.
        EXPECT_GT(printed, name == kForms.first() ? 70 : 80) << name.toStdString();
    }
}

// A prefecture that certifies 重度かつ継続 on an A4 意見書 of its own gets that
// sheet as a second page for a main diagnosis it names, and the section in
// the certificate otherwise.
TEST_F(TodayCertificatesTest, SeparateSheetOnlyForTheDiagnosesItServes)
{
    const int id = certificate(u"tokushima"_s);
    const auto severeOn = [](const report::Page &page) { return page.plainText().contains(u"重度かつ継続"_s); };
    Printout out = print(kForms.first(), id);
    ASSERT_EQ(out.pages.size(), 1);
    EXPECT_TRUE(severeOn(out.pages.first()));

    ward.connection().execute(u"UPDATE 診断書記録 SET 主ICD = 'F41.1' WHERE 診断書ID = ?"_s, {id});
    out = print(kForms.first(), id);
    ASSERT_EQ(out.pages.size(), 2);
    EXPECT_FALSE(severeOn(out.pages.first()));
    EXPECT_TRUE(out.pages.at(1).plainText().startsWith(u"「重度かつ継続」に関する意見書"_s));
    EXPECT_TRUE(severeOn(out.pages.at(1)));
}

} // namespace
