#pragma once

#include "report/page.h"

#include <QDialog>
#include <QList>

#include <functional>

class QComboBox;
class QLabel;
class QScrollArea;

namespace report {

class PageView;

// The preview of a laid-out document: one page at a time at the chosen zoom,
// paging, printing through the system's print dialog and saving as PDF.
// Shown modal (exec) or modeless (show) as its launcher decides; `ended` is
// emitted once when the window closes, which is when its document ends.
class Preview : public QDialog
{
    Q_OBJECT

public:
    enum class Zoom { FitWidth, FitPage, Actual };

    Preview(const QList<Page> &pages, const QString &title, QWidget *parent = nullptr);
    ~Preview() override;

    int pageCount() const;
    int currentPage() const; // 0-based
    void showPage(int page);
    void setZoom(Zoom zoom);
    Zoom zoom() const;

    // Both false when the user cancelled or the output could not be written;
    // a failure is told to the user, and a failed print announced.
    bool print();
    bool saveAsPdf();

    // Records an output before it is out: with the trail's action and the
    // file (empty for paper), before a print goes to the printer and before a
    // written PDF takes its name.  An output it cannot record, a jet::Error
    // it throws, does not happen, and the user is told the engine's cause.
    using Recorder = std::function<void(const QString &action, const QString &file)>;
    void setRecorder(Recorder recorder);

    void done(int result) override;

signals:
    void ended();
    void printFailed();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void updatePage();
    // Writes a new PDF through `write` under a partial name and gives it
    // `path` once whole, telling the user of a failure of the act ("印刷",
    // "保存").
    bool writeFile(const QString &path, const QString &act, const QString &action,
                   const std::function<bool(const QString &)> &write);
    // False when the recorder refused, told to the user under the act.
    bool record(const QString &act, const QString &action, const QString &file);

    Recorder m_recorder;
    QList<Page> m_pages;
    int m_page = 0;
    bool m_ended = false;
    PageView *m_view = nullptr;
    QScrollArea *m_scroll = nullptr;
    QLabel *m_pageLabel = nullptr;
    QComboBox *m_zoomBox = nullptr;
};

} // namespace report
