#include "log_toolbar.h"

#include "app_settings.h"
#include "log_view.h"
#include "message_sink.h"

#include <QAction>
#include <QCheckBox>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QSpinBox>

namespace {

constexpr std::uint32_t Bits(int first, int last)
{
    std::uint32_t b = 0;
    for (int i = first; i <= last; ++i)
        b |= 1u << i;
    return b;
}

} // namespace

// Together the groups cover every function code, adapter text and notes, so
// all of them ticked is no filter at all.
const LogToolBar::Group LogToolBar::kGroups[] = {
    {"NMT", Bits(0, 0)},
    {"SYNC / EMERGENCY", Bits(1, 1)},
    {"PDO", Bits(3, 10)},
    {"SDO", Bits(11, 12)},
    {"Node guarding", Bits(14, 14)},
    {"Adapter text", LogView::Filter::kTextBit},
    {"Connection and notes (--)", LogView::Filter::kEventBit},
    {"Other (TIME, codes 13, 15)", Bits(2, 2) | Bits(13, 13) | Bits(15, 15)},
};
const int LogToolBar::kGroupCount = static_cast<int>(std::size(kGroups));

LogToolBar::LogToolBar(LogView& view, MessageSink& messages, QWidget* parent)
    : QWidget(parent), view_(view), messages_(messages)
{
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);

    pause_ = new QPushButton(QStringLiteral("Pause"), this);
    pause_->setObjectName(QStringLiteral("btLogPause"));
    pause_->setCheckable(true);
    pause_->setToolTip(QStringLiteral("Freeze the log; lines are still counted and kept"));
    connect(pause_, &QPushButton::toggled, this, [this](bool on) {
        view_.SetPaused(on);
        pause_->setText(on ? QStringLiteral("Resume") : QStringLiteral("Pause"));
    });

    clear_ = new QPushButton(QStringLiteral("Clear"), this);
    clear_->setObjectName(QStringLiteral("btLogClear"));
    connect(clear_, &QPushButton::clicked, this, [this] { view_.Clear(); });

    functions_ = new QPushButton(this);
    functions_->setObjectName(QStringLiteral("btLogFunctions"));
    auto* menu = new QMenu(functions_);
    for (const Group& g : kGroups) {
        QAction* a = menu->addAction(QString::fromLatin1(g.name));
        a->setCheckable(true);
        a->setChecked(true);
        connect(a, &QAction::toggled, this, &LogToolBar::ApplyFilter);
    }
    functions_->setMenu(menu);

    node_ = new QSpinBox(this);
    node_->setObjectName(QStringLiteral("sbxLogNode"));
    node_->setRange(-1, 127);
    node_->setValue(-1);
    // -1 is shown as the text: every node.
    node_->setSpecialValueText(QStringLiteral("all"));
    node_->setToolTip(QStringLiteral("Show the frames of one node only"));
    connect(node_, &QSpinBox::valueChanged, this, &LogToolBar::ApplyFilter);

    clockTime_ = new QCheckBox(QStringLiteral("Clock time"), this);
    clockTime_->setObjectName(QStringLiteral("cbLogClockTime"));
    connect(clockTime_, &QCheckBox::toggled, this, [this](bool on) { view_.SetClockTime(on); });

    save_ = new QPushButton(QStringLiteral("Save log\u2026"), this);
    save_->setObjectName(QStringLiteral("btLogSave"));
    save_->setToolTip(QStringLiteral("Save the lines the filter shows, tab-separated"));
    connect(save_, &QPushButton::clicked, this, &LogToolBar::SaveClick);

    row->addWidget(pause_);
    row->addWidget(clear_);
    row->addSpacing(8);
    row->addWidget(functions_);
    row->addWidget(new QLabel(QStringLiteral("Node"), this));
    row->addWidget(node_);
    row->addSpacing(8);
    row->addWidget(clockTime_);
    row->addStretch(1);
    row->addWidget(save_);
    ApplyFilter();
}

QAction* LogToolBar::GroupAction(int i) const
{
    return functions_->menu()->actions().value(i);
}

void LogToolBar::ApplyFilter()
{
    LogView::Filter filter;
    filter.kinds = 0;
    int ticked = 0;
    for (int i = 0; i < kGroupCount; ++i) {
        if (GroupAction(i)->isChecked()) {
            filter.kinds |= kGroups[i].kinds;
            ++ticked;
        }
    }
    filter.node = node_->value();
    // Says at a glance that lines are being left out.
    functions_->setText(ticked == kGroupCount
                            ? QStringLiteral("Functions: all")
                            : QStringLiteral("Functions: %1 of %2").arg(ticked).arg(kGroupCount));
    if (filter != view_.CurrentFilter())
        view_.SetFilter(filter);
}

void LogToolBar::SaveClick()
{
    const QString path =
        askSaveFile_
            ? askSaveFile_()
            : QFileDialog::getSaveFileName(this, QStringLiteral("Save log"),
                                           InLastFolder(kLogFolder, QStringLiteral("tervix-log.txt")),
                                           QStringLiteral("Text files (*.txt);;All files (*)"));
    if (path.isEmpty())
        return;
    RememberFolder(kLogFolder, path);
    QString error;
    if (!view_.SaveTo(path, &error))
        messages_.ShowMessage(QStringLiteral("Save log"), error, QMessageBox::Warning, window());
}
