// FormCreate's EDS load, with the log line saying where the files are looked
// for, and FormShow's registration with the SDO dialog.
#include "monitor.h"

#include "log_view.h"
#include "message_sink.h"
#include "tervix_application.h"

#include "DialogSDO.h"
#include "EDS_unit.h"
#include "parameter_sheets.h"

#include "sdo_request.h"

#include <QDir>
#include <QFileInfo>
#include <QLineEdit>
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
    objects_->LoadEDS(openDialog);
}

void TForm1::RegisterSdoRequestHandler()
{
    if (!sdoDialog_)
        return;
    sdoDialog_->SetRequestHandler([this](QPushButton* button) {
        // Called from the dialog's buttons and the tree's mouse handler: a
        // failed send is shown here rather than thrown through Qt.
        try {
            SDORequest(button);
        } catch (const std::exception& e) {
            ShowDefaultError(QString::fromLocal8Bit(e.what()));
        }
    });
}

void TForm1::SDORequest(QPushButton* button)
{
    if (!sdoDialog_ || !button)
        return;
    const TDialogFormSDO& dialog = *sdoDialog_;
    const int tag = TDialogFormSDO::Tag(button);
    const auto cobId = decoder_->CobIdBytes(kPrefixSdoRequest);
    auto send = [this](const FramePacket& packet) {
        if (!sender_)
            throw std::runtime_error("No CAN adapter is connected");
        sender_(packet);
    };

    std::optional<Request> request;
    if (tag == kSdoTagWrite) {
        const QString value = dialog.ValueBox()->text();
        try {
            const std::optional<std::uint32_t> number = ParseSdoValue(value.toStdString());
            if (!number)
                throw std::invalid_argument("not a hexadecimal value");
            request = SdoDialogRequest(tag, cobId, dialog.Index(), dialog.SubIndex(), *number);
            send(request->packet);
        } catch (...) {
            const std::string report =
                SdoReportText(button->text().toStdString(), dialog.Index(), dialog.SubIndex(),
                              dialog.ObjectType(), dialog.DataType());
            messages_.ShowMessage(QStringLiteral("SDO DOWNLOAD (set)"),
                                  QString::fromStdString(report) + u'\r' + value, QMessageBox::Warning,
                                  nullptr);
            return;
        }
    } else {
        request = SdoDialogRequest(tag, cobId, dialog.Index(), dialog.SubIndex());
        if (!request)
            return;
        send(request->packet);
    }
    // The hidden Info button's structure request goes out silently.
    if (!button->isHidden())
        Memo1->AppendLine(request->logLine);
}
