// FormCreate's EDS load, with the log line saying where the files are looked
// for, FormShow's registration with the SDO dialog and the transfers its
// buttons queue.
#include "monitor.h"

#include "app_settings.h"
#include "log_view.h"
#include "message_sink.h"

#include "DialogSDO.h"
#include "EDS_unit.h"
#include "parameter_sheets.h"

#include "sdo_request.h"
#include "sdo_values.h"

#include <QDir>
#include <QFileInfo>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QStringList>
#include <QTabWidget>

#include <stdexcept>

using namespace tervix;

namespace {

// Read from the working directory, as the configuration is by default.
constexpr char kEdsFileName[] = "Quorbit.eds";

} // namespace

void TForm1::LogFileFolder()
{
    // A window without pages or tree says nothing by itself; this line tells
    // where they were expected.
    const QFileInfo conf(QString::fromLocal8Bit(configFile_.c_str()));
    const QFileInfo eds(QString::fromLatin1(kEdsFileName));
    const QString confFolder = QDir::toNativeSeparators(conf.absolutePath());
    const QString edsFolder = QDir::toNativeSeparators(eds.absolutePath());
    QString line =
        confFolder == edsFolder
            ? QStringLiteral("Looking for %1 and %2 in %3").arg(conf.fileName(), eds.fileName(), confFolder)
            : QStringLiteral("Looking for %1 in %2 and %3 in %4")
                  .arg(conf.fileName(), confFolder, eds.fileName(), edsFolder);
    QStringList missing;
    for (const QFileInfo* file : {&conf, &eds})
        if (!file->isFile())
            missing << file->fileName();
    if (!missing.isEmpty())
        line += QStringLiteral(": %1 not found").arg(missing.join(QStringLiteral(" and ")));
    Memo1->AppendLine(line.toLatin1().toStdString());
}

void TForm1::LoadObjectTree()
{
    sdoDialog_ = new TDialogFormSDO(this);
    // Answers reach the dialog only while it is visible; frames that arrive
    // while it is hidden are not kept.
    decoder_->SubscribeSdoAnswers([dialog = sdoDialog_](ByteView message) {
        if (dialog->isVisible())
            dialog->ShowAnswer(message);
    });

    // Until the parameter pages hand over the page they keep for it, the
    // tree lives on the "Data Objects" page.
    if (QWidget* page = parameters_ ? parameters_->ObjectTreePage() : nullptr; page && !objects_)
        objects_ = new TServiceObjects(page);
    if (!objects_)
        return;
    objects_->SetSdoDialog(sdoDialog_);
    auto* openDialog = new TOpenDialog(this, QString::fromLatin1(kEdsFileName), QStringLiteral("*.EDS"),
                                       QStringLiteral("EDS Files|*.EDS"));
    openDialog->setObjectName(QStringLiteral("OpenEDSDialog"));
    openDialog->SetStartFolder(LastFolder(kEdsFolder));
    connect(openDialog, &TOpenDialog::fileChosen, this,
            [](const QString& path) { RememberFolder(kEdsFolder, path); });
    objects_->LoadEDS(openDialog);
}

void TForm1::RegisterSdoRequestHandler()
{
    if (!sdoDialog_)
        return;
    // Called from the dialog's buttons and the tree's mouse handler; a send
    // that fails is shown by QueueSdo, as for any button.
    sdoDialog_->SetRequestHandler([this](QPushButton* button) { SDORequest(button); });
}

void TForm1::SDORequest(QPushButton* button)
{
    if (!sdoDialog_ || !button)
        return;
    const TDialogFormSDO& dialog = *sdoDialog_;
    const int tag = TDialogFormSDO::Tag(button);

    std::vector<std::uint8_t> value;
    if (tag == kSdoTagWrite) {
        const QString text = dialog.ValueBox()->text();
        std::optional<std::vector<std::uint8_t>> bytes = SdoWriteBytes(text.toStdString(), dialog.DataType());
        // Any text reads as a string: a frame shown in the box is not one to write.
        if (SdoTypedAsText(dialog.DataType()) && !dialog.ValueTyped())
            bytes.reset();
        if (!bytes) {
            const std::string report =
                SdoReportText(button->text().toStdString(), dialog.Index(), dialog.SubIndex(),
                              dialog.ObjectType(), dialog.DataType());
            messages_.ShowMessage(QStringLiteral("SDO DOWNLOAD (set)"),
                                  QString::fromStdString(report) + u'\r' + text, QMessageBox::Warning,
                                  nullptr);
            return;
        }
        value = std::move(*bytes);
    }
    std::optional<SdoTransfer> transfer =
        SdoDialogTransfer(tag, dialog.Index(), dialog.SubIndex(), dialog.DataType(), std::move(value));
    if (!transfer)
        return;
    // The structure answer is shown as a frame; reads and writes also say
    // how they ended, under the frames, for the object they were asked for.
    if (tag != kSdoTagStructure)
        transfer->done = [shown = QPointer<TDialogFormSDO>(sdoDialog_), read = tag == kSdoTagRead,
                          index = dialog.Index(), sub = static_cast<std::uint8_t>(dialog.SubIndex()),
                          type = dialog.DataType()](const SdoResult& result) {
            // A frame that did not go out has been shown by the window.
            if (shown && result.outcome != SdoOutcome::SendFailed)
                shown->ShowResult(SdoResultText(read, index, sub, type, result));
        };
    QueueSdo(std::move(*transfer));
}
