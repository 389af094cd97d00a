// Backup, compare and restore of the selected node's settings in the window:
// the row under the parameter pages ("Backup…", "Compare…", "Restore…", the
// running job's progress with its Cancel, what the last one did), the boxes
// that ask what to do, and the window that lists a comparison or what a
// restore did. The reads and writes are tervix::UnitJob's; this holds one at
// a time and shows it.
#pragma once

#include "clock.h"
#include "dcf.h"
#include "unit_job.h"

#include <QDialog>
#include <QString>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

class MessageSink;
class QCheckBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QStandardItemModel;
class QTableView;
class TForm1;

// Which units a backup reads and where it writes them.
class TBackupDialog : public QDialog {
    Q_OBJECT
public:
    TBackupDialog(unsigned node, const QString& path, QWidget* parent);
    std::vector<std::uint8_t> Units() const;
    QString Path() const;

private:
    std::vector<QCheckBox*> units_;
    QLineEdit* path_;
};

// Which file a restore writes and how.
class TRestoreDialog : public QDialog {
    Q_OBJECT
public:
    TRestoreDialog(unsigned node, QWidget* parent);
    QString Path() const;
    tervix::RestoreOptions Options() const;

private:
    QLineEdit* path_;
    QCheckBox* all_;
    QCheckBox* preview_;
};

// A comparison or a restore's report as sortable tables. A comparison's
// read-only objects are listed apart, under the settings; rows that differ
// (or, for a restore, did not end as they should) are bold and coloured,
// and the box above the table hides the others.
class TJobResults : public QDialog {
    Q_OBJECT
public:
    explicit TJobResults(QWidget* parent);

    // `a` and `b` name the columns of the two sides' values.
    void ShowComparison(const QString& title, const QString& a, const QString& b,
                        const std::vector<tervix::CompareRow>& rows);
    void ShowReport(const QString& title, const QString& summary,
                    const std::vector<tervix::RestoreRow>& rows);

    // Whether the box hides the rows not marked.
    void SetMarkedOnly(bool on);
    // As shown: sorted and filtered.
    QTableView* Table() const { return table_; }
    QTableView* ReadOnlyTable() const { return readOnlyTable_; }

private:
    QLabel* summary_;
    QCheckBox* markedOnly_;
    QStandardItemModel* model_;
    class MarkedRows* shown_;
    QTableView* table_;
    QWidget* readOnlyPart_;
    QStandardItemModel* readOnlyModel_;
    QTableView* readOnlyTable_;
};

class TUnitBackup : public QWidget {
    Q_OBJECT
public:
    // Jobs run against the node in the window's "CAN Addr", through its
    // client, with the rows its configuration gives the pages and the EDS
    // it loaded.
    TUnitBackup(TForm1& form, MessageSink& messages, tervix::Clock& clock, QWidget* parent);
    ~TUnitBackup() override;

    // What the buttons start once the user has answered. False when nothing
    // started: a job runs already, or the file cannot be read or there is no
    // node to ask (said in a box).
    bool StartBackup(const QString& path, const std::vector<std::uint8_t>& units);
    bool StartCompare(const QString& path);
    bool StartRestore(const QString& path, tervix::RestoreOptions options);
    // Needs no node: shows the comparison at once.
    bool CompareFiles(const QString& a, const QString& b);
    void Cancel();
    bool Running() const { return job_ && job_->Running(); }

    // Shows how far the running job is (the window's display timer calls it).
    void ShowProgress();

    // Asked when a restore was refused for another device; true writes
    // anyway. A question box unless set.
    using ForceAsker = std::function<bool(const QString& why)>;
    void SetForceAsker(ForceAsker asker) { askForce_ = std::move(asker); }

    // The buttons ask the user, then start.
    void BackupClick();
    void CompareClick();
    void CompareFilesClick();
    void RestoreClick();

    QPushButton* RestoreButton() const { return restore_; }
    // The window of the last comparison or restore; null before the first.
    TJobResults* Results() const { return results_; }

private:
    // The node asked, or none (said) when "CAN Addr" names no node.
    std::optional<unsigned> Node(const QString& caption);
    void Begin(std::unique_ptr<tervix::UnitJob> job, const QString& what);
    tervix::UnitJob::Finished EndedCall();
    // Runs from the event loop once the job has called back.
    void JobEnded();
    void BackupEnded();
    void CompareEnded();
    void RestoreEnded();
    // The EDS the window loaded, as the jobs look objects up; null without.
    const tervix::EdsObjects* Eds();
    std::optional<tervix::DcfDocument> ReadFile(const QString& caption, const QString& path);
    // What a compare or restore of a file needs before it starts: no job
    // running, a node, the file read; the job's node and path noted. None
    // (said where it is the user's to know) when one is missing.
    std::optional<tervix::DcfDocument> PrepareFileJob(const QString& caption, const QString& path);
    void Fail(const QString& caption, const QString& text);
    void ShowIdle(const QString& text);
    void ShowRunning(bool running);
    TJobResults& ResultsWindow();
    void Log(const QString& line);

    TForm1& form_;
    MessageSink& messages_;
    tervix::Clock& clock_;
    ForceAsker askForce_;

    std::unique_ptr<tervix::UnitJob> job_;
    std::unique_ptr<tervix::EdsObjects> eds_;
    QString jobWhat_; // "Backup", "Compare", "Restore", "Preview"
    QString jobPath_;
    QString jobUnits_; // a backup's, as its description names them
    unsigned jobNode_ = 0;
    tervix::RestoreOptions restoreOptions_;
    bool awaitingEnd_ = false; // started, its end not yet shown

    QPushButton* backup_;
    QPushButton* compare_;
    QPushButton* restore_;
    QPushButton* cancel_;
    QProgressBar* progress_;
    QLabel* lastResult_;
    TJobResults* results_ = nullptr;
};
