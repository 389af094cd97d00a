// The line below the main window's pages: the adapter and its bit rate,
// frames per second each way, the bus load, error frames and whether frames
// are being recorded, whether the program listens only, and what is wrong
// (a node that does not answer). It shows figures; the window counts them.
#pragma once

#include <QStatusBar>

#include <cstdint>
#include <optional>

class QLabel;

struct StatusFigures {
    QString adapter;                 // empty: no adapter
    std::uint32_t bitsPerSecond = 0; // 0: not known
    std::uint32_t receivedPerSecond = 0;
    std::uint32_t sentPerSecond = 0;
    double loadPercent = 0.0;                 // shown only with a known bit rate
    std::optional<std::uint64_t> errorFrames; // shown where the adapter counts them
    bool recording = false;
    std::uint64_t recordedFrames = 0;
    bool listenOnly = false;
    QString notice; // what is wrong with the bus, e.g. a node that does not answer
};

class TStatusBar : public QStatusBar {
    Q_OBJECT
public:
    explicit TStatusBar(QWidget* parent = nullptr);

    void Show(const StatusFigures& figures);

    QLabel* AdapterLabel() const { return adapter_; }
    QLabel* RatesLabel() const { return rates_; }
    QLabel* LoadLabel() const { return load_; }
    QLabel* ErrorsLabel() const { return errors_; }
    QLabel* RecordingLabel() const { return recording_; }
    QLabel* NoticeLabel() const { return notice_; }
    QLabel* ListenOnlyLabel() const { return listenOnly_; }

private:
    QLabel* adapter_;
    QLabel* rates_;
    QLabel* load_;
    QLabel* errors_;
    QLabel* recording_;
    QLabel* notice_;
    QLabel* listenOnly_;
};
