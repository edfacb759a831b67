#include "report/preview.h"

#include "db/audit.h"
#include "db/engine/error.h"
#include "db/engine/files.h"
#include "report/render.h"
#include "toolkit/platform.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPageLayout>
#include <QPainter>
#include <QPrinter>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QStyle>
#include <QVBoxLayout>

#include <cstring>

namespace report {

// Paints one page on white paper at a scale.
class PageView : public QWidget
{
public:
    void setPage(const Page *page, double scale)
    {
        m_page = page;
        m_scale = scale;
        setFixedSize(page ? QSize(qRound(page->paper.width() * scale), qRound(page->paper.height() * scale)) : QSize());
        update();
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.fillRect(rect(), Qt::white);
        if (!m_page)
            return;
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setRenderHint(QPainter::TextAntialiasing);
        // The page is in twips; paint() scales by the device's resolution,
        // so the scale asked for here is relative to that.
        const double deviceScale = logicalDpiX() / 1440.0;
        painter.scale(m_scale / deviceScale, m_scale / deviceScale);
        paint(*m_page, painter);
    }

private:
    const Page *m_page = nullptr;
    double m_scale = 1;
};

Preview::Preview(const QList<Page> &pages, const QString &title, QWidget *parent)
    : QDialog(parent), m_pages(pages)
{
    setObjectName(QStringLiteral("ReportPreview"));
    setWindowTitle(title);
    setWindowFlag(Qt::WindowMaximizeButtonHint);
    setSizeGripEnabled(true);

    auto *print = new QPushButton(QStringLiteral("印刷(&P)"));
    print->setObjectName(QStringLiteral("cmdPrint"));
    auto *save = new QPushButton(QStringLiteral("PDFとして保存(&S)…"));
    save->setObjectName(QStringLiteral("cmdSave"));
    auto *previous = new QPushButton(QStringLiteral("◀ 前"));
    previous->setObjectName(QStringLiteral("cmdPrevious"));
    auto *next = new QPushButton(QStringLiteral("次 ▶"));
    next->setObjectName(QStringLiteral("cmdNext"));
    m_pageLabel = new QLabel;
    m_pageLabel->setObjectName(QStringLiteral("lblPage"));
    m_zoomBox = new QComboBox;
    m_zoomBox->setObjectName(QStringLiteral("cboZoom"));
    m_zoomBox->setFont(QApplication::font()); // a tool bar's text, not an input field's
    m_zoomBox->addItems({QStringLiteral("幅に合わせる"), QStringLiteral("ページ全体"), QStringLiteral("100%")});
    auto *close = new QPushButton(QStringLiteral("閉じる(&C)"));
    close->setObjectName(QStringLiteral("cmdClose"));

    auto *bar = new QHBoxLayout;
    for (QWidget *w : std::initializer_list<QWidget *>{print, save, previous, next, m_pageLabel, m_zoomBox})
        bar->addWidget(w);
    bar->addStretch(1);
    bar->addWidget(close);

    m_view = new PageView;
    m_scroll = new QScrollArea;
    m_scroll->setAlignment(Qt::AlignHCenter);
    m_scroll->setBackgroundRole(QPalette::Dark);
    m_scroll->setWidget(m_view);
    m_scroll->installEventFilter(this);

    auto *layout = new QVBoxLayout(this);
    layout->addLayout(bar);
    layout->addWidget(m_scroll, 1);
    // A landscape page wants a wide window, a portrait one a tall one.
    const bool landscape = !pages.isEmpty() && pages.first().paper.width() > pages.first().paper.height();
    resize(landscape ? QSize(1060, 760) : QSize(820, 900));
    // Never taller or wider than the screen it opens on.
    if (const QScreen *screen = parent ? parent->screen() : QGuiApplication::primaryScreen())
        resize(size().boundedTo(screen->availableGeometry().size() - QSize(40, 60)));

    connect(print, &QPushButton::clicked, this, [this] { this->print(); });
    connect(save, &QPushButton::clicked, this, [this] { saveAsPdf(); });
    connect(previous, &QPushButton::clicked, this, [this] { showPage(m_page - 1); });
    connect(next, &QPushButton::clicked, this, [this] { showPage(m_page + 1); });
    connect(close, &QPushButton::clicked, this, &QDialog::reject);
    connect(m_zoomBox, &QComboBox::currentIndexChanged, this, &Preview::updatePage);
    updatePage();
}

// Destroyed with a window it belongs to, it still ends its document.
Preview::~Preview()
{
    if (!m_ended) {
        m_ended = true;
        emit ended();
    }
}

int Preview::pageCount() const
{
    return int(m_pages.size());
}

int Preview::currentPage() const
{
    return m_page;
}

void Preview::showPage(int page)
{
    if (page < 0 || page >= pageCount())
        return;
    m_page = page;
    updatePage();
}

// The zoom box holds the zoom; choosing in it shows the page anew.
void Preview::setZoom(Zoom zoom)
{
    m_zoomBox->setCurrentIndex(int(zoom));
}

Preview::Zoom Preview::zoom() const
{
    return Zoom(m_zoomBox->currentIndex());
}

void Preview::updatePage()
{
    m_pageLabel->setText(QStringLiteral("%1 / %2").arg(pageCount() ? m_page + 1 : 0).arg(pageCount()));
    if (m_pages.isEmpty()) {
        m_view->setPage(nullptr, 1);
        return;
    }
    const Page &page = m_pages.at(m_page);
    const double actual = logicalDpiX() / 1440.0; // pixels per twip at 100%
    // The room the page has beside a vertical scroll bar, whether one shows
    // or not, so that fitting never adds a bar that would change the fit.
    const int bar = m_scroll->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, m_scroll);
    const QSize room = m_scroll->maximumViewportSize() - QSize(24 + bar, 24);
    double scale = actual;
    if (zoom() == Zoom::FitWidth)
        scale = double(room.width()) / page.paper.width();
    else if (zoom() == Zoom::FitPage)
        scale = std::min(double(room.width()) / page.paper.width(), double(room.height()) / page.paper.height());
    m_view->setPage(&page, std::max(scale, 0.01)); // a tiny window still shows a page
}

// The scroll area is laid out after the window has its size: the page is
// fitted again whenever the area itself changes size.
bool Preview::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_scroll && event->type() == QEvent::Resize)
        updatePage();
    return QDialog::eventFilter(watched, event);
}

bool Preview::print()
{
    if (m_pages.isEmpty())
        return false;
    QPrinter printer(QPrinter::HighResolution);
    printer.setDocName(windowTitle());
    printer.setPageLayout(pageLayoutOf(m_pages.first()));
    printer.setFullPage(true);
    if (!toolkit::platform().choosePrinter(printer))
        return false;
    // A file chosen in the print dialog holds patient data as much as one
    // saved with the button, and is written the same way.
    if (const QString file = printer.outputFileName(); !file.isEmpty()) {
        const bool written = writeFile(file, QStringLiteral("印刷"), db::audit::action::Printing.toString(),
                                       [this, &printer](const QString &partial) {
            printer.setOutputFileName(partial);
            return paintPages(m_pages, printer);
        });
        if (!written)
            emit printFailed();
        return written;
    }
    if (!record(QStringLiteral("印刷"), db::audit::action::Printing.toString(), {}))
        return false;
    if (paintPages(m_pages, printer))
        return true;
    toolkit::MessageBoxRequest box;
    box.text = QStringLiteral("%1 に印刷できませんでした。プリンターの設定を確かめてください。").arg(printer.printerName());
    box.icon = toolkit::MessageIcon::Exclamation;
    toolkit::platform().messageBox(box);
    emit printFailed();
    return false;
}

bool Preview::saveAsPdf()
{
    // Suggested in the user's home folder, not wherever the program was started.
    const QString suggested = QDir(toolkit::platform().homeFolder()).filePath(windowTitle() + QStringLiteral(".pdf"));
    QString path = toolkit::platform().saveFileName(QStringLiteral("PDFとして保存"), suggested,
                                                     QStringLiteral("PDF (*.pdf)"));
    if (path.isEmpty())
        return false;
    if (!path.endsWith(QStringLiteral(".pdf"), Qt::CaseInsensitive))
        path += QStringLiteral(".pdf");
    return writeFile(path, QStringLiteral("保存"), db::audit::action::Pdf.toString(),
                     [this](const QString &partial) { return writePdf(m_pages, partial, windowTitle()); });
}

void Preview::setRecorder(Recorder recorder)
{
    m_recorder = std::move(recorder);
}

bool Preview::record(const QString &act, const QString &action, const QString &file)
{
    if (!m_recorder)
        return true;
    try {
        m_recorder(action, file);
        return true;
    } catch (const jet::Error &e) {
        toolkit::MessageBoxRequest box;
        box.text = QStringLiteral("監査記録に書き込めないため%1できませんでした。\r%2 (%3)")
                       .arg(act, e.description())
                       .arg(e.number());
        box.icon = toolkit::MessageIcon::Critical;
        if (e.cause() == jet::Cause::Permission) {
            box.text = e.description();
            box.icon = toolkit::MessageIcon::Exclamation;
        }
        toolkit::platform().messageBox(box);
        return false;
    }
}

bool Preview::writeFile(const QString &path, const QString &act, const QString &action,
                        const std::function<bool(const QString &)> &write)
{
    // Half-written PDFs of killed saves; one that another save is writing stays.
    const QStringList stuck = jet::removeLeftovers(path);
    // Replaced only once complete, with the access of patient data; the
    // dialog has asked before replacing a file.
    jet::PartialFile file(path);
    int error = file.error();
    bool saved = false;
    if (file.created() && write(file.name())) {
        // Refused, the written file goes with the partial name; the user
        // has been told why.
        if (!record(act, action, path))
            return false;
        error = file.place(true);
        saved = error == 0;
    }
    if (saved && stuck.isEmpty())
        return true;
    toolkit::MessageBoxRequest box;
    if (saved) {
        box.text = QStringLiteral("%1 に%2しました。以前に中断した%2の作業ファイルを、括弧内の原因で削除できませんでした。"
                                  "原因を取り除いてから削除してください:\r%3")
                       .arg(path, act, stuck.join(QLatin1Char('\r')));
        box.icon = toolkit::MessageIcon::Information;
        toolkit::platform().messageBox(box);
        return true;
    }
    box.text = error ? QStringLiteral("%1 に%2できませんでした (%3)。").arg(path, act, QString::fromLocal8Bit(std::strerror(error)))
                     : QStringLiteral("%1 に%2できませんでした。").arg(path, act);
    box.icon = toolkit::MessageIcon::Exclamation;
    toolkit::platform().messageBox(box);
    return false;
}

void Preview::done(int result)
{
    QDialog::done(result);
    if (!m_ended) {
        m_ended = true;
        emit ended();
    }
}

} // namespace report
