#include "admin/frmCodeEnrolment.h"
#include "ui_frmCodeEnrolment.h"

#include "admin/acting.h"
#include "db/accounts/authenticator.h"
#include "db/accounts/onetimecode.h"
#include "db/accounts/passwords.h"
#include "db/location.h"
#include "toolkit/binding.h"
#include "toolkit/errortrap.h"
#include "toolkit/platform.h"

#include <QFontDatabase>
#include <QImage>
#include <QPainter>
#include <QPixmap>
#include <QShortcut>
#include <QStringList>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace {

// About eight centimetres on a common screen: a phone reads it from arm's
// length, and the window still fits a small one.
constexpr int kCodeSide = 330;
constexpr int kQuietZone = 4;

// The secret in groups of four, as it is typed into an app.
QString grouped(const QString &secret)
{
    QStringList groups;
    for (qsizetype i = 0; i < secret.size(); i += 4)
        groups.append(secret.mid(i, 4));
    return groups.join(u' ');
}

// The modules black on white, `moduleSize` pixels each, inside the quiet
// zone that readers need.
QImage codeImage(const accounts::QrCode &code, int moduleSize)
{
    const int side = (code.size() + 2 * kQuietZone) * moduleSize;
    QImage image(side, side, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    for (int y = 0; y < code.size(); ++y)
        for (int x = 0; x < code.size(); ++x)
            if (code.dark(x, y))
                painter.fillRect((x + kQuietZone) * moduleSize, (y + kQuietZone) * moduleSize, moduleSize, moduleSize,
                                 Qt::black);
    return image;
}

} // namespace

frmCodeEnrolment::frmCodeEnrolment(QWidget *parent)
    : toolkit::Form(parent), ui(std::make_unique<Ui::frmCodeEnrolment>())
{
    ui->setupUi(this);
    QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    fixed.setPointSize(14);
    ui->lblSecret->setFont(fixed);
    toolkit::setImeMode(ui->txtCode, toolkit::ImeMode::Disable);
    toolkit::setKeyFilter(ui->txtCode, u"0123456789"_s);

    connect(ui->cmdConfirm, &QPushButton::clicked, this, [this] { confirm(); });
    // The code box takes digits alone, so Return is the window's.
    for (const QKeySequence &key : {QKeySequence(Qt::Key_Return), QKeySequence(Qt::Key_Enter)})
        connect(new QShortcut(key, this), &QShortcut::activated, ui->cmdConfirm, &QPushButton::click);
    connect(ui->cmdRemove, &QPushButton::clicked, this, [this] { remove(); });
    connect(ui->cmdCancel, &QPushButton::clicked, this, [this] { toolkit::untrapped([this] { unload(); }); });
    connect(new QShortcut(QKeySequence(Qt::Key_Escape), this), &QShortcut::activated, ui->cmdCancel,
            &QPushButton::click);
}

frmCodeEnrolment::~frmCodeEnrolment() = default;

void frmCodeEnrolment::onLoad()
{
    db::openWindowConnection(m_connection, toolkit::platform().programFolder());
    m_authenticator = accounts::authenticatorFor(m_connection);
    m_staff = std::make_unique<accounts::StaffAccounts>(m_connection, *m_authenticator);
    m_account = admin::actingAccount(m_connection, *m_staff);
    m_enrolment = m_staff->beginCodeEnrolment(m_account);

    ui->lblAccount->setText(u"アカウント: %1（%2）"_s.arg(m_account.loginId, m_account.displayName));
    ui->lblEnrolled->setVisible(m_account.secondFactor);
    ui->cmdRemove->setVisible(m_account.secondFactor);
    const accounts::QrCode code(m_enrolment.uri);
    // Whole device pixels per module: a module split across pixels blurs
    // its edges for the camera.
    const qreal ratio = devicePixelRatioF();
    const int moduleSize = std::max(3, int(kCodeSide * ratio) / (code.size() + 2 * kQuietZone));
    QPixmap picture = QPixmap::fromImage(codeImage(code, moduleSize));
    picture.setDevicePixelRatio(ratio);
    ui->picCode->setPixmap(picture);
    ui->lblSecret->setText(grouped(m_enrolment.secret));
}

void frmCodeEnrolment::onUnload(bool &)
{
    m_staff.reset();
    m_connection.close();
}

void frmCodeEnrolment::confirm()
{
    if (!admin::attempt([this] { m_staff->confirmCodeEnrolment(m_account, m_enrolment, ui->txtCode->text()); })) {
        ui->txtCode->clear();
        ui->txtCode->setFocus();
        return;
    }
    toolkit::platform().messageBox(
        {.text = u"二要素認証を登録しました。次のログインから、パスワードに続けてアプリのコードを入力します。"_s,
         .icon = toolkit::MessageIcon::Information});
    toolkit::untrapped([this] { unload(); });
}

void frmCodeEnrolment::remove()
{
    const toolkit::MessageResult answer = toolkit::platform().messageBox(
        {.text = u"二要素認証をやめますか？\n次のログインでパスワードの変更を求めます。"_s,
         .icon = toolkit::MessageIcon::Question,
         .buttons = toolkit::MessageButtons::YesNo,
         .defaultButton = 2});
    if (answer == toolkit::MessageResult::Yes
        && admin::attempt([this] { m_staff->removeSecondFactor(m_account, m_account.id); }))
        toolkit::untrapped([this] { unload(); });
}
