// The object tree page: the sections of an EDS file in a tree, the lines of
// the clicked section in a memo below it, and the SDO dialog on a
// right-button press.
#pragma once

#include "eds_reader.h"

#include <QObject>
#include <QPointer>
#include <QSplitter>
#include <QString>

class EdsTreeModel;
class QPlainTextEdit;
class QTreeView;
class QWidget;
class TDialogFormSDO;

// What LoadEDS needs of an open-file dialog: the current file name and a way
// to ask the user for another.
class EdsOpenDialog {
public:
    virtual ~EdsOpenDialog() = default;
    virtual QString FileName() const = 0;
    // Asks for a file; true when the user confirmed one (FileName is then it).
    virtual bool Execute() = 0;
};

// The window's open-file dialog, set up as the form has it.
class TOpenDialog : public QObject, public EdsOpenDialog {
    Q_OBJECT
public:
    // `filter` is written "Description|pattern", as the form holds it.
    TOpenDialog(QWidget* owner, QString fileName, QString defaultExt, QString filter);

    QString FileName() const override { return fileName_; }
    bool Execute() override;
    // Where the dialog starts; empty: the working directory.
    void SetStartFolder(const QString& folder) { startFolder_ = folder; }

    // "EDS Files|*.EDS" as a file dialog's name filter: "EDS Files (*.EDS)".
    static QString NameFilter(const QString& filter);

signals:
    // The user confirmed this file.
    void fileChosen(const QString& path);

private:
    QWidget* owner_;
    QString fileName_;
    QString startFolder_;
    QString defaultExt_;
    QString filter_;
};

class TServiceObjects : public QObject {
    Q_OBJECT
public:
    // Builds the tree, the splitter and the memo on `sheet`, which owns this.
    explicit TServiceObjects(QWidget* sheet);
    ~TServiceObjects() override;

    // Where a right-button press on a section sends it.
    void SetSdoDialog(TDialogFormSDO* dialog) { sdoDialog_ = dialog; }

    // Reads the dialog's file, or the one the user picks when that does not
    // open; shows no message. The root is expanded one level in any case.
    void LoadEDS(EdsOpenDialog* dialog);

    // The selected section's lines in the memo.
    void TreeClick();
    // The right button opens the SDO dialog for the section at `point`.
    void TreeMouseDown(Qt::MouseButton button, Qt::KeyboardModifiers shift, QPoint point);

    QWidget* Sheet() const { return sheet_; }
    EdsOpenDialog* OpenDialog() const { return openDialog_; }
    QTreeView* TreeView() const { return treeView_; }
    QSplitter* Splitter() const { return splitter_; }
    QPlainTextEdit* Memo() const { return memo_; }
    EdsTreeModel* Model() const { return model_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void PlaceSplitter();

    QWidget* sheet_;
    EdsOpenDialog* openDialog_ = nullptr;
    EdsTreeModel* model_;
    QPointer<QSplitter> splitter_;
    QTreeView* treeView_;
    QPlainTextEdit* memo_;
    TDialogFormSDO* sdoDialog_ = nullptr;
    bool splitterPlaced_ = false;
};
