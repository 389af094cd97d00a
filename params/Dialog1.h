// Value dialog for one 32-bit integer of the unit.
#pragma once

#include "value_dialog.h"

class TDialogForm1 : public TValueDialog {
    Q_OBJECT
public:
    explicit TDialogForm1(QWidget* parent = nullptr);

    std::int32_t Value = 0;

    void ShowAnswer(tervix::ByteView message) override;
    // The TPDO3 data bytes (data byte 0 first).
    void ShowTpdoAnswer(tervix::ByteView data);

protected:
    void SetClick() override;

private:
    void Take(std::int32_t value, bool hex);
};
