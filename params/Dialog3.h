// Value dialog for one 32-bit floating value of the unit.
#pragma once

#include "value_dialog.h"

class TDialogForm3 : public TValueDialog {
    Q_OBJECT
public:
    explicit TDialogForm3(QWidget* parent = nullptr);

    float Value = 0.0f;

    void ShowAnswer(tervix::ByteView message) override;

protected:
    void SetClick() override;
};
