// The row of controls above the communication log: pause, clear, which
// functions and which node to show, clock time, and saving what is shown.
#pragma once

#include <QString>
#include <QWidget>

#include <cstdint>
#include <functional>

class LogView;
class MessageSink;
class QAction;
class QCheckBox;
class QPushButton;
class QSpinBox;

class LogToolBar : public QWidget {
    Q_OBJECT
public:
    // The functions the filter offers, as bits of LogView::Filter::kinds.
    struct Group {
        const char* name;
        std::uint32_t kinds;
    };
    static const Group kGroups[];
    static const int kGroupCount;

    LogToolBar(LogView& view, MessageSink& messages, QWidget* parent = nullptr);

    // Where "Save log..." writes; empty: cancelled. A file dialog unless set.
    using SaveFileAsker = std::function<QString()>;
    void SetSaveFileAsker(SaveFileAsker asker) { askSaveFile_ = std::move(asker); }

    QPushButton* PauseButton() const { return pause_; }
    QPushButton* ClearButton() const { return clear_; }
    QPushButton* SaveButton() const { return save_; }
    QCheckBox* ClockTimeBox() const { return clockTime_; }
    QSpinBox* NodeBox() const { return node_; }
    // The menu's entry of kGroups[i].
    QAction* GroupAction(int i) const;

    void SaveClick();

private:
    void ApplyFilter();

    LogView& view_;
    MessageSink& messages_;
    SaveFileAsker askSaveFile_;
    QPushButton* pause_ = nullptr;
    QPushButton* clear_ = nullptr;
    QPushButton* functions_ = nullptr;
    QSpinBox* node_ = nullptr;
    QCheckBox* clockTime_ = nullptr;
    QPushButton* save_ = nullptr;
};
