#pragma once

#include "report/layout.h"

namespace report {

// The care plans' form: a title over bordered rows, each a heading at the
// left and a field, a fixed text or blank space at the right.
class CarePlanForm : public Layout
{
protected:
    CarePlanForm(const QString &layoutName, const QString &title);

    // The patient's row ("様" after the name, today's date at the right) and
    // the ward row (the department, the room).
    void addPatientRows();
    // A row: its heading (a second line below the first where given), and
    // the column it prints, or a fixed text, or nothing; a column grows.
    void addRow(const QString &heading, const QString &second, int height, const QString &column,
                const QString &fixed = {}, const QString &format = {});
    void addNote(const QString &text);
    // The bottom of the form: the institution (where given), the physician's
    // seal and the nurse's name.
    void addSignatures(bool institution, bool nurse);

private:
    QString next(const char *prefix);

    int m_y = 0;
    int m_items = 1;
};

} // namespace report
