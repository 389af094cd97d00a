// What the transport needs of a combo box, and no more: the UI adapts its
// widget, tests use a plain fake.
#pragma once

#include "status.h"

#include <QString>

#include <functional>

class ChoiceBox {
public:
    virtual ~ChoiceBox() = default;

    virtual void clear() = 0;
    // `data` travels with the entry (the port box: the COM number, 0 for USB).
    virtual void addItem(const QString& text, int data = 0) = 0;
    virtual void setItemToolTip(int index, const QString& tip) = 0;
    virtual int count() const = 0;

    // Selections and texts set from code never notify.
    virtual void setCurrentIndex(int index) = 0;
    // -1 when no entry is selected, also when typed text is shown.
    virtual int currentIndex() const = 0;
    virtual QString currentText() const = 0;
    // The data of the selected entry; 0 when none is selected.
    virtual int currentData() const = 0;
    virtual void setCurrentText(const QString& text) = 0;
    virtual void setEnabled(bool enabled) = 0;

    // Called after the user picked an entry or typed into the box; fails
    // with a text for the user (a port that cannot be opened).
    using ChangeHandler = std::function<tervix::Status()>;
    virtual void setOnUserChange(ChangeHandler handler) = 0;
};
