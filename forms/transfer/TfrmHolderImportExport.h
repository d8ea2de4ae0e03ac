#pragma once

#include "FileDialogs.h"
#include "HolderImport.h"

#include <QString>
#include <QWidget>

#include <functional>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QTabWidget;
class QTimer;
class QVBoxLayout;
class QGroupBox;

namespace zq::data {
class Recordset;
}
namespace zq::transfer {
enum class ImportFileKind;
} // namespace zq::transfer

namespace zq::forms {

class FormatPanel;

/// Holder import and export: the Export page writes the holders of all the user's
/// departments or of one department to a text file or a workbook, the Import page reads
/// such a file back into the holder table. Both pages share the Format panel, which
/// chooses the columns of the file and their order.
class TfrmHolderImportExport : public QWidget
{
    Q_OBJECT
public:
    explicit TfrmHolderImportExport(int rights, QWidget *parent = nullptr);
    ~TfrmHolderImportExport() override;

    /// The file a text or workbook export writes when the operator chose none.
    static QString defaultPath();
    /// The file types of both dialogs: text first, workbook second.
    static QStringList fileTypes();

    bool isBusy() const { return m_busy; }
    QString exportPath() const { return m_exportPath; }
    QString importPath() const { return m_importPath; }
    const zq::platform::FileChoice &saveDialog() const { return m_saveDialog; }
    const zq::platform::FileChoice &openDialog() const { return m_openDialog; }

    void btnExportPathClick();
    void btnExportFileClick();
    void btnExportClick();
    void btnImportFileClick();
    void btnImportClick();
    /// Judges the chosen file as the import would, writing nothing, and shows what the
    /// import will do; the preview's Import then runs it.
    void btnPreviewClick();
    /// Lists the lines the last import refused.
    void btnRefusalsClick();
    /// The lines the last import refused.
    const QList<zq::transfer::Refusal> &lastRefusals() const { return m_refusals; }
    void rbAllClick();
    void rbDepartmentClick();

    QTabWidget *pcData;
    QWidget *tsExport;
    QWidget *tsImport;
    QGroupBox *gbDepartment;
    QRadioButton *rbAll;
    QRadioButton *rbDepartment;
    QComboBox *cbxDepartment;
    FormatPanel *gbFormat;
    QCheckBox *chkPunchCard;
    QLabel *lblExportSpaceChar;
    QComboBox *cbxExportSpaceChar;
    QProgressBar *pbExportProcess;
    QLabel *lblExportFile;
    QLineEdit *edExportFile;
    QPushButton *btnExportPath;
    QPushButton *btnExportFile;
    QPushButton *btnExport;
    QPushButton *btnExportClose;
    QGroupBox *gbCondition;
    QCheckBox *chkHolderCover;
    QLabel *lblSpaceChar;
    QComboBox *cbxSpaceChar;
    QProgressBar *pbImportProcess;
    QLabel *lblImportFile;
    QLineEdit *edImportFile;
    QPushButton *btnImportFile;
    QPushButton *btnImport;
    QPushButton *btnPreview;
    QLabel *lblImportResult;
    QPushButton *btnRefusals;
    QPushButton *btnImportClose;
    QTimer *tmrTime;

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    void buildLayout();
    void formCreate();
    void fillDepartments();
    void pageShown(int index);
    void resetProgress();
    void setBusy(bool busy);
    void finishOperation();
    /// Sets a progress bar, repainting a few times a second rather than per row.
    /// `beforeRepaint` runs first when it does (the events let run then may use the database).
    void advance(QProgressBar *bar,
                 int value,
                 bool force = false,
                 const std::function<void()> &beforeRepaint = {});
    bool exportRoute(const QString &path);
    void runImport(bool dryRun);
    void showImportResult(const zq::transfer::HolderImport &run);
    /// Reads the file into `run`; false when it ended short (the message is shown).
    bool importText(const QString &path, zq::transfer::HolderImport &run);
    bool importWorkbook(const QString &path, zq::transfer::HolderImport &run);
    bool runImportFile(const QString &path,
                       zq::transfer::ImportFileKind kind,
                       zq::transfer::HolderImport &run);
    /// Opens the cancellable progress window of an import or export of `total` steps.
    void openProgress(int total, const QString &messageKey);
    void closeProgress();
    void message(const QString &key, int style);

    zq::data::Recordset *adqDepartment;
    zq::data::Recordset *adqHolder;
    zq::data::Recordset *adqTmp;
    QVBoxLayout *m_exportFormatSlot = nullptr;
    QVBoxLayout *m_importFormatSlot = nullptr;
    zq::platform::FileChoice m_saveDialog;
    zq::platform::FileChoice m_openDialog;
    QString m_exportPath;
    QString m_importPath;
    QString m_columnOrder;
    QList<zq::transfer::Refusal> m_refusals;
    int m_rights;
    bool m_shown = false;
    bool m_busy = false;
    bool m_supervisor = false;
    bool m_cancelled = false;
    intptr_t m_progress = 0;
    int m_progressAt = 0;
    qint64 m_lastRepaint = 0;
};

} // namespace zq::forms
