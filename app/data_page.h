// The "KRV Data" page: the selected unit's process data, its frame counters,
// maximum and minimum, the response time, the NMT and guarding controls and
// the box for the function buttons. Widgets only: it shows what the decoder
// holds and reports what the user does.
#pragma once

#include "monitor_decoder.h"

#include <QWidget>

#include <array>

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;

class TDataPage : public QWidget {
    Q_OBJECT
public:
    explicit TDataPage(QWidget* parent = nullptr);

    // Copies the texts that changed since the last call.
    void Show(tervix::MonitorDecoder& decoder);

    // Greys the TPDO1 row while the selected unit sends no TPDO1; the
    // tooltip says for how long (empty while it sends).
    void SetTpdo1Stale(bool stale, const QString& tooltip);
    bool Tpdo1Stale() const { return tpdo1Stale_; }

    QComboBox* UnitAddressBox() const { return cbxKRVaddr; }
    QCheckBox* GuardBox() const { return cbTest; }
    QCheckBox* IntegerBox() const { return cbxTPDOint; }
    QGroupBox* FunctionsBox() const { return gbFunctions; }

signals:
    void nmtStartClicked();
    void nmtStopClicked();
    void clearRowClicked(int row);  // 0..3: TPDO1..TPDO4
    void clearMaxMinClicked();

private:
    void Build();

    QComboBox* cbxKRVaddr = nullptr;
    QPushButton* btNMT_Start = nullptr;
    QPushButton* btNMT_Stop = nullptr;
    QCheckBox* cbTest = nullptr;
    QCheckBox* cbxTPDOint = nullptr;
    QGroupBox* gbFunctions = nullptr;
    QLabel* lbBusy2 = nullptr;
    bool tpdo1Stale_ = false;
    // The widget of each decoder text, in DataField order (lbBusy2 last).
    std::array<QLineEdit*, tervix::kDataFieldCount - 1> edits_{};
};
