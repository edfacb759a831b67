#pragma once

#include "record/recordwindow.h"

#include <memory>

namespace Ui {
class frmAmbuPt;
}

// The out-patient record window: one out-patient course with its patient
// and its examination results, opened from the out-patient ledger and
// returning to it.  Nothing of an admission is shown; the after-hours visits
// and the patient's own precautions have a tab of their own.
class frmAmbuPt : public record::RecordWindow
{
    Q_OBJECT

public:
    explicit frmAmbuPt(QWidget *parent = nullptr);
    ~frmAmbuPt() override;

protected:
    void onLoad() override;

private:
    void setupFields();
    void loadEpisode();

    std::unique_ptr<Ui::frmAmbuPt> ui;
};
