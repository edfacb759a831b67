#include "toolkit/barchart.h"

#include "db/engine/recordset.h"

#include <QBarCategoryAxis>
#include <QBarSeries>
#include <QBarSet>
#include <QChart>
#include <QChartView>
#include <QFontMetricsF>
#include <QValueAxis>

#include <algorithm>
#include <cmath>

namespace toolkit {

namespace {

// What the chart keeps clear either side of an axis label.
constexpr qreal kLabelPadding = 5;

} // namespace

BarChart::BarChart(QChartView *view)
    : QObject(view), m_view(view)
{
    rebuild();
}

BarChart::~BarChart()
{
    QObject::disconnect(m_reset);
}

void BarChart::setRecordset(jet::Recordset *recordset)
{
    QObject::disconnect(m_reset);
    m_recordset = recordset;
    if (recordset)
        m_reset = connect(recordset, &jet::Recordset::rowsReset, this, &BarChart::rebuild);
    rebuild();
}

jet::Recordset *BarChart::recordset() const
{
    return m_recordset;
}

QStringList BarChart::categories() const
{
    return m_categories;
}

QList<qreal> BarChart::heights() const
{
    return m_heights;
}

void BarChart::rebuild()
{
    m_categories.clear();
    m_heights.clear();
    QString name;
    if (m_recordset && m_recordset->isOpen() && m_recordset->fieldCount() >= 2) {
        name = m_recordset->field(1).name;
        for (int row = 0; row < m_recordset->rowCount(); ++row) {
            // The axis keeps one label per category: an empty group and a
            // Null one stay apart as different runs of blanks.
            QString label = m_recordset->valueAt(row, 0).toString();
            if (label.isEmpty())
                label = QStringLiteral(" ");
            while (m_categories.contains(label))
                label += QLatin1Char(' ');
            m_categories.append(label);
            m_heights.append(m_recordset->valueAt(row, 1).toDouble());
        }
    }

    // A chart built afresh: axes and series of the last result never linger.
    auto *chart = new QChart;
    chart->legend()->hide();
    auto *bars = new QBarSet(name);
    bars->append(m_heights);
    auto *series = new QBarSeries;
    series->append(bars);
    chart->addSeries(series);
    series->setLabelsVisible(true);
    series->setLabelsPosition(QAbstractBarSeries::LabelsOutsideEnd);
    series->setLabelsPrecision(15);
    bars->setLabelColor(chart->titleBrush().color());

    auto *categoryAxis = new QBarCategoryAxis;
    categoryAxis->append(m_categories);
    chart->addAxis(categoryAxis, Qt::AlignBottom);
    series->attachAxis(categoryAxis);
    auto *valueAxis = new QValueAxis;
    const qreal highest = m_heights.isEmpty() ? 0 : *std::max_element(m_heights.cbegin(), m_heights.cend());
    // Room above the highest bar for its label.
    valueAxis->setRange(0, std::max<qreal>(1, highest * 1.15));
    valueAxis->applyNiceNumbers();
    valueAxis->setLabelFormat(QStringLiteral("%g"));
    chart->addAxis(valueAxis, Qt::AlignLeft);
    series->attachAxis(valueAxis);

    m_categoryAxis = categoryAxis;
    m_view->setMinimumWidth(0);
    connect(chart, &QChart::plotAreaChanged, this, &BarChart::fitLabels);

    QChart *previous = m_view->chart();
    m_view->setChart(chart);
    delete previous;
}

// A label the chart finds too wide for its bar it cuts to "…".  Turned on
// end, a label needs the height of a line: the view asks for that much
// room per bar, which a scrolling place around it gives.
void BarChart::fitLabels()
{
    if (!m_categoryAxis || m_categories.isEmpty())
        return;
    const QFontMetricsF metrics(m_categoryAxis->labelsFont());
    const qreal plot = m_view->chart()->plotArea().width();
    const qreal room = plot / m_categories.size() - 2 * kLabelPadding;
    qreal widest = 0;
    for (const QString &label : std::as_const(m_categories))
        widest = std::max(widest, metrics.horizontalAdvance(label));
    const int angle = widest <= room ? 0 : -90;
    if (m_categoryAxis->labelsAngle() != angle)
        m_categoryAxis->setLabelsAngle(angle);
    const qreal perBar = metrics.height() + 2 * kLabelPadding + 2;
    const int least = int(std::ceil(m_view->width() - plot + m_categories.size() * perBar));
    if (angle != 0 && m_view->minimumWidth() != least)
        m_view->setMinimumWidth(least);
}

} // namespace toolkit
