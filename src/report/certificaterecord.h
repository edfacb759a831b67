#pragma once

#include <QString>

namespace report {

// A certificate record as one row for today's certificate layouts: the
// record, its patient and every item the forms ask, one column each, so that
// a layout names an item's value, text, option or date as it names any
// column.  The names are made of the group's and field's codes.
namespace certificaterecord {

// A check's value ("1"), a choice's code.
QString value(const QString &group, const QString &field);
// -1 where the item holds the option, 0 where it holds another or none.
QString option(const QString &group, const QString &field, const QString &option);
// The free text written beside the item.
QString text(const QString &group, const QString &field);
// A date item as it is stored, yyyy-MM-dd: an expression's column has no
// date type, so the layout writes it as a date itself.
QString date(const QString &group, const QString &field);
// How many items of a group hold a value or a text: its number is circled
// when any does.
QString anyOf(const QString &group);
// Whether the patient's sex is the one the form names `label` (男, 女).
QString sex(const QString &label);

// The Jet text of the command: the record whose 診断書ID is the parameter,
// with its patient and the items of every edition's forms and variants.
QString sql();

} // namespace certificaterecord

} // namespace report
