// The QComboBox adapter: user actions notify, changes from code do not.
#include "combo_choice_box.h"

#include <QComboBox>
#include <QLineEdit>
#include <QTest>

#include <gtest/gtest.h>

namespace {

struct ComboFixture : ::testing::Test {
    QComboBox box;
    int notified = 0;
    // A change handler that counts and succeeds.
    ChoiceBox::ChangeHandler Count()
    {
        return [this] {
            ++notified;
            return tervix::Status();
        };
    }
};

TEST_F(ComboFixture, ChangesFromCodeNeverNotify)
{
    ComboChoiceBox choice(&box);
    choice.setOnUserChange(Count());
    box.setEditable(true);
    ComboChoiceBox editable(&box); // the line edit exists now
    editable.setOnUserChange(Count());
    editable.addItem("1Mbit");
    editable.addItem("500Kbit");
    editable.setCurrentIndex(1);
    editable.setCurrentText("abc");
    editable.clear();
    editable.setCurrentText("500Kbit");
    editable.setEnabled(false);
    EXPECT_EQ(notified, 0);
    EXPECT_EQ(editable.currentText(), "500Kbit");
    EXPECT_EQ(editable.count(), 0);
    EXPECT_FALSE(box.isEnabled());
}

TEST_F(ComboFixture, PickingAnEntryNotifiesWithThatEntrySelected)
{
    ComboChoiceBox choice(&box);
    choice.addItem("USB", 0);
    choice.addItem("COM3", 3);
    choice.addItem("COM12", 12);
    choice.setItemToolTip(2, "/dev/ttyS11");
    int seenIndex = -2;
    int seenData = -1;
    choice.setOnUserChange([&] {
        ++notified;
        seenIndex = choice.currentIndex();
        seenData = choice.currentData();
        return tervix::Status();
    });
    box.show();
    QTest::keyClick(&box, Qt::Key_Down); // what a user does on a focused box
    EXPECT_EQ(notified, 1);
    EXPECT_EQ(seenIndex, 1);
    EXPECT_EQ(seenData, 3);
    EXPECT_EQ(choice.currentText(), "COM3");
    EXPECT_EQ(box.itemData(2, Qt::ToolTipRole).toString(), "/dev/ttyS11");
    choice.setCurrentText("COM12"); // non-editable: selects the entry
    EXPECT_EQ(choice.currentIndex(), 2);
    EXPECT_EQ(notified, 1);
}

TEST_F(ComboFixture, TypedTextNotifiesAndLeavesNoEntrySelected)
{
    box.setEditable(true);
    ComboChoiceBox choice(&box);
    choice.addItem("1Mbit", 20);
    choice.addItem("500Kbit", 28);
    choice.setCurrentIndex(1);
    int seenIndex = -2;
    choice.setOnUserChange([&] {
        ++notified;
        seenIndex = choice.currentIndex();
        return tervix::Status();
    });
    box.lineEdit()->selectAll();
    QTest::keyClicks(box.lineEdit(), "abc");
    EXPECT_EQ(notified, 3); // one per key
    EXPECT_EQ(seenIndex, -1);
    EXPECT_EQ(choice.currentData(), 0); // typed text carries no entry's data
    EXPECT_EQ(choice.currentText(), "abc");
}

TEST_F(ComboFixture, FailureOfHandlerGoesToErrorHandler)
{
    QStringList shown;
    ComboChoiceBox choice(&box, [&](const QString& text) { shown << text; });
    choice.addItem("USB");
    choice.addItem("COM3");
    choice.setOnUserChange([&] {
        return choice.currentIndex() == 1
                   ? tervix::Status::Failed("ie_BadId - Specified comport doesn't exist")
                   : tervix::Status();
    });
    box.setCurrentIndex(1);
    emit box.activated(1);
    box.setCurrentIndex(0);
    emit box.activated(0);
    EXPECT_EQ(shown, QStringList{"ie_BadId - Specified comport doesn't exist"});
}

TEST_F(ComboFixture, AdapterGoneStopsNotifications)
{
    {
        ComboChoiceBox choice(&box);
        choice.addItem("USB");
        choice.setOnUserChange(Count());
    }
    emit box.activated(0); // would call into the destroyed adapter
    EXPECT_EQ(notified, 0);
}

} // namespace
