#pragma once

#include "report/page.h"

#include <QList>
#include <QString>

class QPainter;

namespace report {

// Paints a page with the painter's device taken as the paper: twips scaled
// to the device's resolution.
void paint(const Page &page, QPainter &painter);

// Writes the pages as a PDF with its fonts embedded; false when the file
// cannot be written.
bool writePdf(const QList<Page> &pages, const QString &path, const QString &title);

} // namespace report
