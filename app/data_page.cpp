#include "data_page.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

using tervix::DataField;

namespace {

QLineEdit* MakeEdit(QWidget* parent, const char* name)
{
    auto* e = new QLineEdit(parent);
    e->setObjectName(QString::fromLatin1(name));
    e->setReadOnly(true);
    return e;
}

QPushButton* MakeButton(QWidget* parent, const char* name, const QString& caption)
{
    auto* b = new QPushButton(caption, parent);
    b->setObjectName(QString::fromLatin1(name));
    return b;
}

// Control names in DataField order.
constexpr const char* kEditNames[] = {"edbxTPDO1",      "edbxTPDO2",      "edbxTPDO3",      "edbxTPDO4",
                                      "edbxTPDO1count", "edbxTPDO2count", "edbxTPDO3count", "edbxTPDO4count",
                                      "edbxGross1",     "edbxGross2",     "edbxValue3",     "edbxVref",
                                      "edbxVtemp",      "edbxGrossMax",   "edbxGrossMin"};
static_assert(std::size(kEditNames) == tervix::kDataFieldCount - 1);

} // namespace

TDataPage::TDataPage(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("tsKRVData"));
    Build();
}

void TDataPage::Build()
{
    auto* outer = new QVBoxLayout(this);
    // Thin top and bottom margins leave room for the status line under the
    // pages at the window's first size.
    outer->setContentsMargins(9, 2, 9, 2);

    auto* top = new QHBoxLayout;
    cbxKRVaddr = new QComboBox(this);
    cbxKRVaddr->setObjectName(QStringLiteral("cbxKRVaddr"));
    cbxKRVaddr->setEditable(true);
    cbxKRVaddr->setInsertPolicy(QComboBox::NoInsert);
    btNMT_Start = MakeButton(this, "btNMT_Start", QStringLiteral("NMT Start"));
    btNMT_Stop = MakeButton(this, "btNMT_Stop", QStringLiteral("NMT Stop"));
    cbTest = new QCheckBox(QStringLiteral("Run Nodeguard"), this);
    cbTest->setObjectName(QStringLiteral("cbTest"));
    cbxTPDOint = new QCheckBox(QStringLiteral("TPDO Integer"), this);
    cbxTPDOint->setObjectName(QStringLiteral("cbxTPDOint"));
    top->addWidget(new QLabel(QStringLiteral("KRV unit Addr"), this));
    top->addWidget(cbxKRVaddr);
    top->addSpacing(12);
    top->addWidget(btNMT_Start);
    top->addWidget(btNMT_Stop);
    top->addSpacing(12);
    top->addWidget(cbTest);
    top->addWidget(cbxTPDOint);
    top->addStretch(1);
    outer->addLayout(top);

    for (std::size_t i = 0; i < edits_.size(); ++i)
        edits_[i] = MakeEdit(this, kEditNames[i]);
    auto edit = [this](DataField f) { return edits_[static_cast<std::size_t>(f)]; };

    auto* rows = new QGridLayout;
    rows->addWidget(new QLabel(QStringLiteral("Last frame"), this), 0, 1);
    rows->addWidget(new QLabel(QStringLiteral("Weight"), this), 0, 2);
    rows->addWidget(new QLabel(QStringLiteral("PDO counters"), this), 0, 3);
    const DataField values[] = {DataField::Gross1, DataField::Gross2, DataField::Value3};
    for (int i = 0; i < 4; ++i) {
        const int row = i + 1;
        rows->addWidget(new QLabel(QStringLiteral("TPDO%1").arg(i + 1), this), row, 0);
        rows->addWidget(edit(static_cast<DataField>(static_cast<int>(DataField::Tpdo1Line) + i)), row, 1);
        if (i < 3)
            rows->addWidget(edit(values[i]), row, 2);
        rows->addWidget(edit(static_cast<DataField>(static_cast<int>(DataField::Tpdo1Count) + i)), row, 3);
        QPushButton* clear = MakeButton(this, QStringLiteral("btClear%1").arg(i + 1).toLatin1().constData(),
                                        QStringLiteral("Clear"));
        connect(clear, &QPushButton::clicked, this, [this, i] { emit clearRowClicked(i); });
        rows->addWidget(clear, row, 4);
    }
    rows->addWidget(new QLabel(QStringLiteral("Temperature"), this), 5, 1, Qt::AlignRight);
    rows->addWidget(edit(DataField::Vref), 5, 2);
    rows->addWidget(new QLabel(QStringLiteral("Vtemp/Vref"), this), 6, 1, Qt::AlignRight);
    rows->addWidget(edit(DataField::Vtemp), 6, 2);

    QPushButton* clearMaxMin = MakeButton(this, "btClearMaxMin", QStringLiteral("Clear"));
    rows->addWidget(new QLabel(QStringLiteral("Max"), this), 7, 1, Qt::AlignRight);
    rows->addWidget(edit(DataField::GrossMax), 7, 2);
    rows->addWidget(new QLabel(QStringLiteral("Min"), this), 8, 1, Qt::AlignRight);
    rows->addWidget(edit(DataField::GrossMin), 8, 2);
    rows->addWidget(clearMaxMin, 8, 4);

    lbBusy2 = new QLabel(QStringLiteral("Busy"), this);
    lbBusy2->setObjectName(QStringLiteral("lbBusy2"));
    rows->addWidget(new QLabel(QStringLiteral("Response time [ms]"), this), 9, 1, Qt::AlignRight);
    rows->addWidget(lbBusy2, 9, 2);
    rows->setColumnStretch(1, 6);
    rows->setColumnStretch(2, 2);
    rows->setColumnStretch(3, 1);
    outer->addLayout(rows);

    gbFunctions = new QGroupBox(QStringLiteral("KRV Functions"), this);
    gbFunctions->setObjectName(QStringLiteral("gbFunctions"));
    outer->addWidget(gbFunctions, 1);

    connect(clearMaxMin, &QPushButton::clicked, this, &TDataPage::clearMaxMinClicked);
    connect(btNMT_Start, &QPushButton::clicked, this, &TDataPage::nmtStartClicked);
    connect(btNMT_Stop, &QPushButton::clicked, this, &TDataPage::nmtStopClicked);
}

void TDataPage::SetTpdo1Stale(bool stale, const QString& tooltip)
{
    const DataField row[] = {DataField::Tpdo1Line, DataField::Gross1, DataField::Tpdo1Count};
    for (DataField f : row) {
        QLineEdit* e = edits_[static_cast<std::size_t>(f)];
        if (e->toolTip() != tooltip)
            e->setToolTip(tooltip);
    }
    if (stale == tpdo1Stale_)
        return;
    tpdo1Stale_ = stale;
    for (DataField f : row) {
        QLineEdit* e = edits_[static_cast<std::size_t>(f)];
        QPalette p = e->palette();
        const QPalette::ColorGroup from = stale ? QPalette::Disabled : QPalette::Active;
        for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive})
            for (QPalette::ColorRole role : {QPalette::Text, QPalette::Base})
                p.setColor(group, role, palette().color(from, role));
        e->setPalette(p);
    }
}

void TDataPage::Show(tervix::MonitorDecoder& decoder)
{
    for (int i = 0; i < tervix::kDataFieldCount; ++i) {
        tervix::ShownText& t = decoder.Text(static_cast<DataField>(i));
        if (!t.Dirty())
            continue;
        t.ClearDirty();
        const QString shown = QString::fromLatin1(t.Text().data(), static_cast<qsizetype>(t.Text().size()));
        if (static_cast<DataField>(i) == DataField::Busy) {
            if (lbBusy2->text() != shown)
                lbBusy2->setText(shown);
            continue;
        }
        QLineEdit* e = edits_[static_cast<std::size_t>(i)];
        if (e->text() != shown) {
            e->setText(shown);
            e->setCursorPosition(0);  // a long line shows its beginning
        }
    }
    // The "set" flags of maximum and minimum live in the boxes' tags.
    edits_[static_cast<std::size_t>(DataField::GrossMax)]->setProperty("tag", decoder.MaxSet() ? 1 : 0);
    edits_[static_cast<std::size_t>(DataField::GrossMin)]->setProperty("tag", decoder.MinSet() ? 1 : 0);
}
