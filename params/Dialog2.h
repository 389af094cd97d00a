// Value dialog for one of four numbered points of a function button's
// object (calibration masses, counts): the point is the sub-index.
#pragma once

#include "value_dialog.h"

class QComboBox;
class QLabel;
class TFnButton;

class TDialogForm2 : public TValueDialog {
    Q_OBJECT
public:
    explicit TDialogForm2(QWidget* parent = nullptr);

    void SetReadHandler(ReadHandler handler) { OnRead = std::move(handler); }

    TFnButton* Button = nullptr;
    std::int32_t Value = 0;
    QLabel* Label1 = nullptr;
    QLabel* Label2 = nullptr;
    QComboBox* ComboBox1 = nullptr;

    void ShowFor(int unitAddress, TFnButton* button);
    void ComboBox1Change();
    void ShowAnswer(tervix::ByteView message) override;
    // The TPDO3 data bytes (data byte 0 first).
    void ShowTpdoAnswer(tervix::ByteView data);

protected:
    void SetClick() override;

private:
    // Position 6 of the text as the decoder hands it: for an SDO answer the
    // object index's high byte, one of the calibration groups.
    void Take(std::uint8_t group, std::uint32_t value);

    ReadHandler OnRead;
};
