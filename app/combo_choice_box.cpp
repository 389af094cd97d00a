#include "combo_choice_box.h"

#include <QComboBox>
#include <QLineEdit>

ComboChoiceBox::ComboChoiceBox(QComboBox* box, ErrorHandler onError) : box_(box), onError_(std::move(onError))
{
}

ComboChoiceBox::~ComboChoiceBox()
{
    disconnectAll();
}

void ComboChoiceBox::disconnectAll()
{
    QObject::disconnect(activated_);
    QObject::disconnect(edited_);
}

void ComboChoiceBox::userChanged()
{
    const tervix::Status done = onUserChange_();
    if (!done.ok() && onError_)
        onError_(QString::fromStdString(done.error()));
}

void ComboChoiceBox::clear()
{
    if (box_) {
        box_->clear();
        // An editable box keeps its text after clear(); "no entries" means
        // nothing shown either, until the caller sets a text.
        if (box_->isEditable())
            box_->setEditText(QString());
    }
}

void ComboChoiceBox::addItem(const QString& text, int data)
{
    if (box_)
        box_->addItem(text, data);
}

void ComboChoiceBox::setItemToolTip(int index, const QString& tip)
{
    if (box_)
        box_->setItemData(index, tip, Qt::ToolTipRole);
}

int ComboChoiceBox::count() const
{
    return box_ ? box_->count() : 0;
}

void ComboChoiceBox::setCurrentIndex(int index)
{
    if (box_)
        box_->setCurrentIndex(index);
}

int ComboChoiceBox::currentIndex() const
{
    if (!box_)
        return -1;
    const int index = box_->currentIndex();
    // Typed text that is not the entry's own leaves no entry selected.
    if (box_->isEditable() && index >= 0 && box_->currentText() != box_->itemText(index))
        return -1;
    return index;
}

QString ComboChoiceBox::currentText() const
{
    return box_ ? box_->currentText() : QString();
}

int ComboChoiceBox::currentData() const
{
    const int index = currentIndex();
    return index >= 0 ? box_->itemData(index).toInt() : 0;
}

void ComboChoiceBox::setCurrentText(const QString& text)
{
    // Editable: shows the text; otherwise selects the entry with that text.
    if (box_)
        box_->setCurrentText(text);
}

void ComboChoiceBox::setEnabled(bool enabled)
{
    if (box_)
        box_->setEnabled(enabled);
}

void ComboChoiceBox::setOnUserChange(ChangeHandler handler)
{
    disconnectAll();
    onUserChange_ = std::move(handler);
    if (!box_ || !onUserChange_)
        return;
    activated_ = QObject::connect(box_, &QComboBox::activated, box_, [this](int) { userChanged(); });
    if (QLineEdit* edit = box_->lineEdit())
        edited_ =
            QObject::connect(edit, &QLineEdit::textEdited, box_, [this](const QString&) { userChanged(); });
}
