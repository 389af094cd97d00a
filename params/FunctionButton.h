// The function-button panel: 110 buttons in a 10 × 11 grid on the data
// page, each sending the command the configuration file gives it.
#pragma once

#include "config_file.h"

#include <QPushButton>

#include <array>
#include <cstdint>
#include <functional>

class QGroupBox;

class TFnButton : public QPushButton {
    Q_OBJECT
public:
    TFnButton(int number, QWidget* parent);

    int Tag() const { return tag_; }
    bool Configured = false;
    tervix::ButtonKind Kind = tervix::ButtonKind::None;
    QString Description; // the value dialogs' caption
    std::uint32_t IndexSub = 0;

private:
    int tag_;
};

class TFunctions : public QObject {
    Q_OBJECT
public:
    static constexpr int kColumns = 10;
    static constexpr int kRows = 11;
    // The box the grid is laid out for: 60 × 22 pixel buttons.
    static constexpr int kBoxWidth = 609;
    static constexpr int kBoxHeight = 265;

    TFunctions(QGroupBox* groupBox, const tervix::ConfigLines& lines);

    QGroupBox* GroupBox() const { return groupBox_; }
    TFnButton* Button(int number) const;

    std::function<void(TFnButton*)> OnFunction;
    void FnButtonClick(TFnButton* button);

private:
    QGroupBox* groupBox_;
    std::array<TFnButton*, tervix::kButtonCount> buttons_{};
};
