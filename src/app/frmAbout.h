#pragma once

#include "db/engine/connection.h"
#include "db/engine/recordset.h"
#include "toolkit/form.h"

#include <memory>

namespace Ui {
class frmAbout;
}
namespace toolkit {
class RecordBinding;
}

// The About box: the program version and the version stored in the
// database.  Shown modal; Enter and Esc close it as its OK button does.
class frmAbout : public toolkit::Form
{
    Q_OBJECT

public:
    explicit frmAbout(QWidget *parent = nullptr);
    ~frmAbout() override;

protected:
    void onLoad() override;
    void onUnload(bool &cancel) override;

private:
    void openVersion();

    std::unique_ptr<Ui::frmAbout> ui;
    jet::Connection m_connection;
    jet::Recordset m_version;
    toolkit::RecordBinding *m_binding = nullptr;
};
