// FormCreate's steps for the parameter pages and the function buttons, and
// what their buttons do.
#include "monitor.h"

#include "data_page.h"
#include "message_sink.h"

#include "Dialog1.h"
#include "Dialog2.h"
#include "Dialog3.h"
#include "FunctionButton.h"
#include "parameter_sheets.h"

#include <QLineEdit>
#include <QPushButton>

#include <algorithm>

using namespace tervix;

namespace {

// The dialogs take at most this much of an answer.
constexpr std::size_t kAnswerLimit = 255;

ByteView Limited(ByteView bytes)
{
    return bytes.first(std::min(bytes.size(), kAnswerLimit));
}

} // namespace

void TForm1::BuildParameterPages()
{
    parameters_ = new TParameters(PageControl1, configFile_);
    if (!parameters_->Loaded()) {
        // Reported once; the rows, the object tree and the buttons stay unbuilt.
        deferred_->Post(windowTitle(), parameters_->LoadError(), QMessageBox::Critical);
        delete parameters_;
        parameters_ = nullptr;
        return;
    }
    // The pages are built from what was read; the cut is said once.
    if (!parameters_->LoadWarning().isEmpty())
        deferred_->Post(windowTitle(), parameters_->LoadWarning(), QMessageBox::Warning);
    decoder_->SetParameterPages(parameters_);
    for (int page = 0; page < static_cast<int>(kPageCount); ++page) {
        TParamSheet* sheet = parameters_->Sheet(page);
        if (!sheet)
            continue;
        sheet->SetOnSet([this](TFillCell& cell) { ParamSet(cell); });
        connect(sheet->ReadButton(), &QPushButton::clicked, this, [this, page] { ParamReadClick(page); });
    }
}

void TForm1::ParamSet(const TFillCell& cell)
{
    const std::optional<std::int32_t> value = ParamValue(cell.ValueEdit->text());
    if (!value)
        return; // not a number: nothing is sent, nothing is said
    decoder_->ParamWrite(PageOfIndexHigh(static_cast<std::uint8_t>(cell.IndexSub >> 24)),
                         static_cast<int>(cell.IndexSub & 0xFF), *value, clock_.Now());
}

void TForm1::ParamReadClick(int page)
{
    if (!parameters_ || !parameters_->Sheet(page))
        return;
    parameters_->Sheet(page)->ClearValues();
    decoder_->StartReadAll(page, clock_.Now());
}

void TForm1::CreateValueDialogs()
{
    dialog1_ = new TDialogForm1(this);
    dialog2_ = new TDialogForm2(this);
    dialog3_ = new TDialogForm3(this);
    const TValueDialog::ErrorHandler report = [this](const QString& caption, const QString& text) {
        deferred_->Post(caption, text, QMessageBox::Critical);
    };
    for (TValueDialog* d : std::initializer_list<TValueDialog*>{dialog1_, dialog2_, dialog3_})
        d->SetErrorHandler(report);

    // Answers reach a dialog only while it is open; an abort closes them all.
    decoder_->SubscribeSdoAnswers([this](ByteView message) {
        const std::initializer_list<TValueDialog*> dialogs{dialog1_, dialog2_, dialog3_};
        if (DataByte(message, 0) == 0x80) {
            for (TValueDialog* d : dialogs)
                d->hide();
            return;
        }
        for (TValueDialog* d : dialogs)
            if (d->isVisible())
                d->ShowAnswer(Limited(message));
    });
    decoder_->SubscribeTpdo3Answers([this](ByteView message) {
        const ByteView data =
            Limited(message.size() > kPacketHeaderSize ? message.subspan(kPacketHeaderSize) : ByteView());
        if (dialog1_->isVisible())
            dialog1_->ShowTpdoAnswer(data);
        if (dialog2_->isVisible())
            dialog2_->ShowTpdoAnswer(data);
    });
}

void TForm1::BuildFunctionButtons()
{
    CreateValueDialogs();
    if (!parameters_)
        return;
    functions_ = new TFunctions(tsKRVData->FunctionsBox(), parameters_->ConfigLines());
    functions_->OnFunction = [this](TFnButton* button) { FunctionKeyPressed(button); };
}

void TForm1::FunctionKeyPressed(QObject* sender)
{
    auto* button = qobject_cast<TFnButton*>(sender);
    if (!button)
        return;
    decoder_->SetRequestTime(clock_.Now());
    const std::uint32_t object = button->IndexSub;
    // A value dialog reports a send that failed as bad input, in its own words.
    const auto send = [this](std::uint32_t o, std::int32_t v) {
        const FailuresAre quiet(this, SendFailures::Quiet);
        return SdoWrite(o, v);
    };
    switch (button->Kind) {
    case ButtonKind::None:
        messages_.ShowMessage(QStringLiteral("Function Key [%1]").arg(button->Tag()),
                              QStringLiteral("Unassigned Key"), QMessageBox::Information, nullptr);
        break;
    case ButtonKind::Direct: SdoWrite(object, 0); break;
    case ButtonKind::DIndex: decoder_->SdoWriteUnitAddress(object, clock_.Now()); break;
    case ButtonKind::Dialog1:
        if (!decoder_->CanAddress(object))
            break;
        dialog1_->SetSendHandler(send);
        dialog1_->ShowFor(button->Description, button->toolTip(), object);
        SdoRead(object);
        break;
    case ButtonKind::Dialog2:
        // The dialog puts the unit into the index itself.
        if (!decoder_->RequestUnit())
            break;
        dialog2_->SetSendHandler(send);
        dialog2_->SetReadHandler([this](std::uint32_t o) { SdoRead(o); });
        dialog2_->ShowFor(decoder_->UnitAddress(), button);
        break;
    case ButtonKind::Dialog3:
        if (!decoder_->CanAddress(object))
            break;
        dialog3_->SetSendHandler(send);
        dialog3_->ShowFor(button->Description, button->toolTip(), object);
        SdoRead(object);
        break;
    case ButtonKind::Rpdo1: decoder_->SendRpdo(1, object); break;
    case ButtonKind::Rpdo2: decoder_->SendRpdo(2, object); break;
    case ButtonKind::Rpdo3: decoder_->SendRpdo(3, object); break;
    case ButtonKind::Rpdo4: decoder_->SendRpdo(4, object); break;
    }
}
