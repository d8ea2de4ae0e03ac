#include "FormTest.h"

#include "Exports.h"
#include "Helpers.h"
#include "MaintenanceWindow.h"
#include "Recordset.h"

#include <QApplication>

namespace zq::test {

void FormTest::SetUp()
{
    d.reset();
    zq::forms::MaintenanceWindow::setScreenSizeOverride(QSize(1280, 1024));
    const auto h = ServiceDouble::handles();
    SetGlobalFunction(h[0], h[1], h[2], h[3], h[4], h[5]);
}

void FormTest::TearDown()
{
    for (auto &w : zq::module::state().registry)
        if (w)
            delete w.data();
    QCoreApplication::processEvents();
    zq::forms::MaintenanceWindow::setScreenSizeOverride(QSize());
    zq::data::setModuleConnection(nullptr);
    m_db.reset();
}

bool FormTest::openDatabase(bool withSchema)
{
    m_db = std::make_unique<TestDatabase>(GetParam(), withSchema);
    if (!m_db->isAvailable())
        return false;
    exec({"INSERT INTO UserData (UserID, UserName, Supervisor) VALUES ('admin', 'A', 1)"});
    EXPECT_EQ(SetADOConnection(&db()), 1);
    return true;
}

QString FormTest::scalar(const QString &sql)
{
    zq::data::Recordset rs;
    rs.setConnection(&db());
    rs.setStatement(sql);
    rs.open();
    return rs.isEmpty() ? QString() : zq::data::Recordset::textOf(rs.valueAt(0, 0));
}

QWidget *FormTest::openKind(zq::module::WindowKind kind, int rights)
{
    using namespace zq::module;
    d.rights[rightKey(kind)] = rights;
    typedef int32_t (*Export)();
    static const Export exports[] = {ShowDepartmentForm, ShowOccupationTitleForm,
                                     ShowOccupationTypeForm, ShowHolderForm,
                                     ShowHolderReport, HolderImportExport};
    if (int(kind) >= ExportedKinds)
        return nullptr;
    if (exports[int(kind)]() != 1)
        return nullptr;
    QWidget *w = state().registry[int(kind)];
    if (w) {
        w->show();
        QApplication::setActiveWindow(w);
        QCoreApplication::processEvents();
    }
    return w;
}

} // namespace zq::test
