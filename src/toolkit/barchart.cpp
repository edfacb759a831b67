#include "toolkit/barchart.h"

#include "db/engine/recordset.h"

#include <QBarCategoryAxis>
#include <QBarSeries>
#include <QBarSet>
#include <QChart>
#include <QChartView>
#include <QValueAxis>

#include <algorithm>

namespace toolkit {

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

    QChart *previous = m_view->chart();
    m_view->setChart(chart);
    delete previous;
}

} // namespace toolkit
