#include "ModuleState.h"

#include "TfrmBatchShow.h"
#include "TfrmDepartment.h"
#include "TfrmHolder.h"
#include "TfrmHolderImportExport.h"
#include "TfrmHolderReport.h"
#include "TfrmLabelPic.h"
#include "TfrmOccupationTitle.h"
#include "TfrmOccupationType.h"
#include "TfrmPrintOption.h"

namespace zq::module {

// Each window folder adds its factory here as its window is built; kinds without one open
// a bare document window. Windows take their command rights from the last right value.
void installFactories()
{
    setFactory(WindowKind::Department,
               []() -> QWidget * { return new zq::forms::TfrmDepartment(state().lastRight); });
    setFactory(WindowKind::Holder,
               []() -> QWidget * { return new zq::forms::TfrmHolder(state().lastRight); });
    setFactory(WindowKind::HolderImportExport, []() -> QWidget * {
        return new zq::forms::TfrmHolderImportExport(state().lastRight);
    });
    setFactory(WindowKind::OccupationTitle,
               []() -> QWidget * { return new zq::forms::TfrmOccupationTitle(state().lastRight); });
    setFactory(WindowKind::OccupationType,
               []() -> QWidget * { return new zq::forms::TfrmOccupationType(state().lastRight); });
    setFactory(WindowKind::LabelPic,
               []() -> QWidget * { return new zq::forms::TfrmLabelPic(state().lastRight); });
    setFactory(WindowKind::HolderReport,
               []() -> QWidget * { return new zq::forms::TfrmHolderReport(state().lastRight); });
    setFactory(WindowKind::BatchShow, []() -> QWidget * { return new zq::forms::TfrmBatchShow; });
    setFactory(WindowKind::PrintOption,
               []() -> QWidget * { return new zq::forms::TfrmPrintOption; });
}

} // namespace zq::module
