#pragma once

#include "report/layout.h"

namespace report {

// The certificates' paper forms: numbered sections in bordered frames, the
// form's fixed texts line by line, the certificate row's fields beside and
// inside them, and marks over the numbers, words and boxes of those texts.
// The declarations write downwards from the top of the detail band.
class CertificateForm : public Layout
{
protected:
    explicit CertificateForm(const QString &layoutName);

    // The page header: the title, and the use of the certificate at the right.
    void addTitle(const QString &use);
    // The first page's opening: the patient, the diagnoses (①), the history
    // (②, with the first visit on the handbook) and the ten condition groups
    // (③).
    void addPatient();
    void addDiagnoses();
    void addHistory(bool firstVisit);
    void addConditions();
    // The second page's closing frames: the welfare services in use and the
    // remarks, each under its numbered heading.
    void addServicesAndRemarks(const QString &servicesHeading, const QString &remarksHeading);

    // A section in a frame: its lines are written between begin and end.
    void beginFrame();
    void endFrame();

    // A fixed text at the left edge plus `indent` on a line of its own, or
    // at a place of the current line; `line` moves down a line.
    Item text(int indent, const QString &text, double points = kText, bool gothic = false);
    Item textAt(int left, int width, const QString &text, double points = kText,
                Qt::Alignment alignment = Qt::AlignLeft | Qt::AlignVCenter);
    void field(int left, int width, const QString &column, const QString &format = {});
    // A label of the current line the launcher writes at run time: today or
    // a text of the institution.
    void institution(const QString &labelName, int left, int width);
    void line(int height = kLine);
    // A large box of its own lines that grows with a long text.
    void textBox(const QString &column, int height);
    // A growing field over the blanks of a fixed text from the end of the
    // first `after` to the next `close`.
    void fieldInside(const Item &text, const QString &column, const QString &after, QChar close);
    // A Yes/No mark over a word of a fixed text.
    void mark(const Item &text, const QString &column, const QString &yes, const QString &word,
              const QString &no = {}, const QString &noWord = {});
    // A "□" line of a check list, ticked by the column.
    void checkLine(int indent, const QString &text, const QString &column, double points = kText);

    static constexpr int kWidth = 9000;
    static constexpr int kLine = 300;
    static constexpr double kText = 9;
    static constexpr double kSmall = 8;
    static constexpr double kLegible = 7; // the smallest type a box's text is set in

    int m_y = 0;

private:
    QString next(const char *prefix);

    int m_frameTop = 0;
    int m_items = 0;
};

} // namespace report
