// The basic-data windows judge a save by what they showed: a field left as shown is no change
// (NULL, '' or blanks after the text alike), a failed commit leaves the values shown as the
// guard of the next save, and a key stored with blanks after it (older tools) still names its
// row. Each window works on the module connection; a second connection stands for another
// workstation.
#include "FormTest.h"
#include "Gestures.h"

#include "Connection.h"
#include "Exports.h"
#include "Recordset.h"
#include "TfrmDepartment.h"
#include "TfrmDepartmentView.h"
#include "TfrmLabelPic.h"
#include "TfrmOccupationTitle.h"
#include "TfrmOccupationType.h"

#include <QApplication>
#include <QLineEdit>
#include <QSqlQuery>
#include <QTreeWidget>

using namespace zq::forms;
using namespace zq::test;
using zq::data::Connection;
using zq::module::WindowKind;

namespace {

constexpr int Yes = 6;
const QString kChanged = "RecordChangedElsewhere";

// One basic-data window: its table, key and name columns and the object names of its edits.
struct Basic
{
    WindowKind kind;
    const char *table;
    const char *key;
    const char *name;
    const char *keyEdit;
    const char *nameEdit;
    const char *descriptionEdit;
    const char *rightKey; // "" where the window writes no audit entries
};

const Basic kBasics[] = {
    {WindowKind::OccupationTitle,
     "OccupationTitle",
     "TitleNo",
     "TitleName",
     "edTitleNo",
     "edTitleName",
     "edDescription",
     "BasicDataOccupationTitleI"},
    {WindowKind::OccupationType,
     "OccupationType",
     "TypeNo",
     "TypeName",
     "edTypeNo",
     "edTypeName",
     "edDescription",
     "BasicDataOccupationTypeI"},
    {WindowKind::LabelPic,
     "CardPicture",
     "PicNo",
     "PicName",
     "edtPicNo",
     "edtPicName",
     "edtDescription",
     ""},
    {WindowKind::Department,
     "DepartmentData",
     "DepartmentNo",
     "DepartmentName",
     "edNo",
     "edName",
     "edDescription",
     "BasicDataDepartmentI"},
};

} // namespace

class AsShownTest : public FormTest
{
protected:
    void elsewhere(const QString &sql)
    {
        ASSERT_TRUE(m_other && m_other->execute(sql)) << sql.toStdString();
    }
    // A row of `b`'s table: key, name and description (NULL when null).
    void insert(const Basic &b, const QString &key, const QString &name, const char *description)
    {
        const QString desc = description ? Connection::quoted(QString::fromUtf8(description))
                                         : QStringLiteral("NULL");
        exec({QString("INSERT INTO %1 (%2, %3, Description) VALUES (%4, %5, %6)")
                  .arg(b.table,
                       b.key,
                       b.name,
                       Connection::quoted(key),
                       Connection::quoted(name),
                       desc)});
        if (b.kind == WindowKind::Department)
            exec({"INSERT INTO UserRightDept (UserID, DepartmentNo) VALUES ('admin', "
                  + Connection::quoted(key) + ")"});
    }
    // The window of `b`, shown; the card pictures open from the type window as an operator
    // opens them.
    MaintenanceWindow *openWindow(const Basic &b)
    {
        if (b.kind != WindowKind::LabelPic)
            return qobject_cast<MaintenanceWindow *>(openKind(b.kind, 127));
        QWidget *type = openKind(WindowKind::OccupationType, 127);
        if (!type)
            return nullptr;
        clickButton(type, "btnLabelPic");
        auto *w = qobject_cast<MaintenanceWindow *>(
            zq::module::state().registry[int(WindowKind::LabelPic)].data());
        if (w) {
            QApplication::setActiveWindow(w);
            QCoreApplication::processEvents();
        }
        return w;
    }
    static QLineEdit *edit(QWidget *w, const char *name)
    {
        auto *e = w->findChild<QLineEdit *>(QString::fromLatin1(name));
        EXPECT_TRUE(e) << name;
        return e;
    }
    QString stored(const Basic &b, const char *column, const QString &key)
    {
        return scalar(QString("SELECT %1 FROM %2 WHERE %3 = %4")
                          .arg(column, b.table, b.key, Connection::quoted(key)));
    }
    void closeAll()
    {
        for (auto &w : zq::module::state().registry)
            if (w)
                w->close();
        QCoreApplication::processEvents();
    }
    // Drops what refuseWrites made for `table`'s updates: the next commit goes through.
    void allowUpdates(const char *table)
    {
        const QString trigger = QString("zq_refuse_%1_update").arg(QString(table).toLower());
        QSqlQuery q(db().database());
        const bool pg = GetParam() == zq::data::Engine::PostgreSQL;
        ASSERT_TRUE(q.exec("DROP TRIGGER " + trigger + (pg ? QString(" ON ") + table : QString())));
    }
    std::unique_ptr<Connection> m_other;
};

#define ZQ_TWO_WORKSTATIONS() \
    ZQ_FORM_DB(); \
    m_other = m_db->openAnother(); \
    ASSERT_TRUE(m_other->isConnected())

// The description was NULL; another workstation filled it in; this one changes the name
// only: both are kept. A description the operator empties is stored as an empty text.
TEST_P(AsShownTest, AFieldLeftAsShownIsNoChangeWhetherNullOrEmpty)
{
    ZQ_TWO_WORKSTATIONS();
    for (const Basic &b : kBasics) {
        SCOPED_TRACE(b.table);
        insert(b, "K1", "Old", nullptr);
        auto *w = openWindow(b);
        ASSERT_TRUE(w);
        elsewhere(QString("UPDATE %1 SET Description = 'theirs'").arg(b.table));
        d.calls.clear();
        clickButton(w, "btnEdit");
        typeInto(edit(w, b.nameEdit), "New");
        clickButton(w, "btnOk");
        EXPECT_FALSE(d.messages().contains(kChanged)) << d.messages().join(",").toStdString();
        EXPECT_EQ(w->mode(), MaintenanceWindow::EditMode);
        EXPECT_EQ(stored(b, b.name, "K1"), "New");
        EXPECT_EQ(stored(b, "Description", "K1"), "theirs");
        if (*b.rightKey) {
            EXPECT_EQ(d.auditEntries(), QStringList{QString(b.rightKey) + "|E K1"});
        }

        clickButton(w, "btnCancel");
        clickButton(w, "btnRefresh");
        ASSERT_EQ(edit(w, b.descriptionEdit)->text(), "theirs");
        clickButton(w, "btnEdit");
        typeInto(edit(w, b.descriptionEdit), "");
        clickButton(w, "btnOk");
        EXPECT_EQ(count(QString("SELECT COUNT(*) FROM %1 WHERE Description = ''").arg(b.table)), 1);
        closeAll();
    }
}

// The commit of an edit fails; meanwhile another workstation changed a field the operator
// never touched. The list keeps the values the window showed, and the next OK saves the
// operator's change without putting back the old value of the other field.
TEST_P(AsShownTest, AfterAFailedCommitTheValuesShownStillGuardTheSave)
{
    ZQ_TWO_WORKSTATIONS();
    for (const Basic &b : kBasics) {
        SCOPED_TRACE(b.table);
        insert(b, "K1", "Old", "mine");
        auto *w = openWindow(b);
        ASSERT_TRUE(w);
        elsewhere(QString("UPDATE %1 SET Description = 'theirs'").arg(b.table));
        refuseWrites(b.table, "UPDATE", true);
        clickButton(w, "btnEdit");
        typeInto(edit(w, b.nameEdit), "New");
        d.calls.clear();
        clickButton(w, "btnOk");
        EXPECT_EQ(d.sounds(), QStringList{"Error"});
        EXPECT_EQ(stored(b, b.name, "K1"), "Old");
        EXPECT_EQ(w->listQuery()->text("Description"), "mine");
        EXPECT_EQ(edit(w, b.nameEdit)->text(), "New");

        allowUpdates(b.table);
        clickButton(w, "btnOk");
        EXPECT_EQ(stored(b, b.name, "K1"), "New");
        EXPECT_EQ(stored(b, "Description", "K1"), "theirs");
        closeAll();
    }
}

// Keys written by older tools with blanks after them, one with a quote, one in Traditional
// Chinese: each row is edited and deleted by its key as stored; the key stays as it was.
TEST_P(AsShownTest, KeysStoredWithBlanksAreEditedAndDeletedAsStored)
{
    ZQ_FORM_DB();
    const QStringList keys{"K'1 ", QStringLiteral("部門一  ")};
    for (const Basic &b : kBasics) {
        SCOPED_TRACE(b.table);
        for (const QString &key : keys)
            insert(b, key, "Old", "d");
        auto *w = openWindow(b);
        ASSERT_TRUE(w);
        d.calls.clear();
        for (const QString &key : keys) {
            ASSERT_EQ(edit(w, b.keyEdit)->text(), key.trimmed());
            clickButton(w, "btnEdit");
            typeInto(edit(w, b.nameEdit), "New");
            clickButton(w, "btnOk");
            EXPECT_FALSE(d.messages().contains(kChanged)) << d.messages().join(",").toStdString();
            EXPECT_EQ(stored(b, b.name, key), "New");
            clickButton(w, "btnCancel");
            clickButton(w, "btnNext");
        }
        EXPECT_EQ(count(QString("SELECT COUNT(*) FROM %1").arg(b.table)), 2);
        if (*b.rightKey) {
            EXPECT_EQ(d.auditEntries(),
                      (QStringList{QString(b.rightKey) + "|E K'1",
                                   QString(b.rightKey) + QStringLiteral("|E 部門一")}));
        }

        clickButton(w, "btnFirst");
        for (int i = 0; i < 2; ++i) {
            d.messageBoxAnswers = {Yes};
            clickButton(w, "btnDelete");
            EXPECT_FALSE(d.messages().contains(kChanged)) << d.messages().join(",").toStdString();
        }
        EXPECT_EQ(count(QString("SELECT COUNT(*) FROM %1").arg(b.table)), 0);
        closeAll();
    }
}

// A department stored with blanks is in use by holders and sub-departments that name it
// either way, and its tree node moves it by its stored number.
TEST_P(AsShownTest, ADepartmentStoredWithBlanksIsFoundInUseAndMovedInTheTree)
{
    ZQ_FORM_DB();
    exec({"INSERT INTO DepartmentData (DepartmentNo, DepartmentName, UnderNo) VALUES ('D1 ', "
          "'Head', '')",
          "INSERT INTO DepartmentData (DepartmentNo, DepartmentName, UnderNo) VALUES ('D2  ', "
          "'Sales', 'D1 ')",
          "INSERT INTO DepartmentData (DepartmentNo, DepartmentName, UnderNo) VALUES ('D3 ', "
          "'Lab', '')",
          "INSERT INTO HolderData (HolderNo, HolderName, DepartmentNo) VALUES ('H1', 'Ann', "
          "'D3')"});
    for (const char *dep : {"D1 ", "D2  ", "D3 "})
        exec({QString("INSERT INTO UserRightDept (UserID, DepartmentNo) VALUES ('admin', '%1')")
                  .arg(dep)});
    auto *w = open<TfrmDepartment>(WindowKind::Department);
    ASSERT_TRUE(w);
    ASSERT_EQ(w->edNo->text(), "D1");
    d.messageBoxAnswers = {Yes};
    clickButton(w, "btnDelete");
    EXPECT_EQ(d.messages(), QStringList{"CantDelete"});
    clickButton(w, "btnLast");
    ASSERT_EQ(w->edNo->text(), "D3");
    clickButton(w, "btnDelete");
    EXPECT_EQ(d.messages().last(), "HaveDepartmentCantDelete");
    EXPECT_EQ(count("SELECT COUNT(*) FROM DepartmentData"), 3);

    // The sub-department keeps naming its parent as stored when it is edited.
    clickButton(w, "btnPrev");
    ASSERT_EQ(w->edNo->text(), "D2");
    clickButton(w, "btnEdit");
    typeInto(w->edDescription, "moved soon");
    clickButton(w, "btnOk");
    EXPECT_EQ(scalar("SELECT UnderNo FROM DepartmentData WHERE DepartmentNo = 'D2  '"), "D1 ");

    TfrmDepartmentView view(true);
    view.rebuild();
    QTreeWidgetItem *d2 = view.findNumber("D2");
    ASSERT_TRUE(d2);
    EXPECT_EQ(d2->text(0), "Sales");
    EXPECT_TRUE(view.dropNode(d2, view.findNumber("D3")));
    EXPECT_EQ(scalar("SELECT UnderNo FROM DepartmentData WHERE DepartmentNo = 'D2  '"), "D3 ");
    EXPECT_EQ(d.auditEntries().last(), "BasicDataDepartmentI|E D2");
}

INSTANTIATE_TEST_SUITE_P(Engines,
                         AsShownTest,
                         testing::Values(zq::data::Engine::SQLite, zq::data::Engine::PostgreSQL),
                         zq::test::engineName);
