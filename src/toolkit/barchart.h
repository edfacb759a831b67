#pragma once

#include <QList>
#include <QObject>
#include <QPointer>
#include <QStringList>

class QBarCategoryAxis;
class QChartView;

namespace jet {
class Recordset;
}

namespace toolkit {

// A chart control bound to a recordset: one bar per row, its first field the
// bar's category label and its second the bar's height, printed on the bar.
// The bars follow the recordset when it is opened, requeried or closed.
// Every category label is shown whole: upright while the labels fit side by
// side, else turned on end with the view asking for the width that needs.
class BarChart : public QObject
{
    Q_OBJECT

public:
    explicit BarChart(QChartView *view);
    ~BarChart() override;

    void setRecordset(jet::Recordset *recordset); // nullptr unbinds and empties the chart
    jet::Recordset *recordset() const;

    QStringList categories() const;
    QList<qreal> heights() const;

private:
    void rebuild();
    void fitLabels();

    QChartView *m_view;
    QPointer<jet::Recordset> m_recordset;
    QMetaObject::Connection m_reset;
    QPointer<QBarCategoryAxis> m_categoryAxis;
    QStringList m_categories;
    QList<qreal> m_heights;
};

} // namespace toolkit
