#pragma once

#include "record/recordwindow.h"

#include <memory>

namespace Ui {
class frmNewPt;
}

// The new-patient window: where the patient's basic data, contact and remarks
// and the episode's admission data of a freshly registered episode are filled
// in, or the episode is marked as an outpatient course.  Registration shows it
// after creating the rows; closing it shows the all-patient ledger.
class frmNewPt : public record::RecordWindow
{
    Q_OBJECT

public:
    explicit frmNewPt(QWidget *parent = nullptr);
    ~frmNewPt() override;

protected:
    void onLoad() override;
    // Whoever registered the episode fills in its patient's data.
    QList<accounts::Right> rightsToEdit() const override;

private:
    void setupFields();
    void setupOutpatientSwitch();
    void loadEpisode();
    void bindFields();
    void showAdmissionFields(bool visible);

    std::unique_ptr<Ui::frmNewPt> ui;
};
