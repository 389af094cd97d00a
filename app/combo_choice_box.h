// A QComboBox as the transport's ChoiceBox. User changes are the box's
// `activated` and, for an editable box, the line edit's `textEdited`; neither
// fires for changes made from code.
//
// A failure the change handler returns (a serial port that cannot be opened)
// goes with its text to `onError` when one is given, e.g. ShowDefaultError.
#pragma once

#include "choice_box.h"

#include <QMetaObject>
#include <QPointer>

class QComboBox;

class ComboChoiceBox final : public ChoiceBox {
public:
    using ErrorHandler = std::function<void(const QString& text)>;

    explicit ComboChoiceBox(QComboBox* box, ErrorHandler onError = {});
    ~ComboChoiceBox() override;
    ComboChoiceBox(const ComboChoiceBox&) = delete;
    ComboChoiceBox& operator=(const ComboChoiceBox&) = delete;

    void clear() override;
    void addItem(const QString& text, int data = 0) override;
    void setItemToolTip(int index, const QString& tip) override;
    int count() const override;
    void setCurrentIndex(int index) override;
    int currentIndex() const override;
    QString currentText() const override;
    int currentData() const override;
    void setCurrentText(const QString& text) override;
    void setEnabled(bool enabled) override;
    void setOnUserChange(ChangeHandler handler) override;

private:
    void disconnectAll();
    void userChanged();

    QPointer<QComboBox> box_;
    ErrorHandler onError_;
    ChangeHandler onUserChange_;
    QMetaObject::Connection activated_;
    QMetaObject::Connection edited_;
};
