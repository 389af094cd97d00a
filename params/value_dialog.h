// What the three value dialogs share: a modeless window with a value box,
// "Set" and "Cancel", a send handler and a way to report "Illegal data".
#pragma once

#include "frame_packet.h"

#include <QDialog>

#include <cstdint>
#include <functional>

class QLineEdit;
class QPushButton;
class QVBoxLayout;

class TValueDialog : public QDialog {
    Q_OBJECT
public:
    // False when the request did not go out.
    using SendHandler = std::function<bool(std::uint32_t indexSub, std::int32_t value)>;
    using ReadHandler = std::function<void(std::uint32_t indexSub)>;
    using ErrorHandler = std::function<void(const QString& caption, const QString& text)>;

    void SetSendHandler(SendHandler handler) { OnSend = std::move(handler); }
    void SetErrorHandler(ErrorHandler handler) { onError_ = std::move(handler); }

    std::uint32_t IndexSub = 0;
    QLineEdit* Edit1 = nullptr;
    QPushButton* SetButton() const { return set_; }
    QPushButton* CancelButton() const { return cancel_; }

    // Shows the dialog for an object, with the button's texts.
    void ShowFor(const QString& caption, const QString& hint, std::uint32_t indexSub);
    // The SDO response as received (position k is message byte k).
    virtual void ShowAnswer(tervix::ByteView message) = 0;

protected:
    TValueDialog(const char* name, const char* setName, const char* cancelName, QWidget* parent);

    QVBoxLayout* Body() const { return body_; }
    // Captions the dialog and brings it up.
    void Present(const QString& caption, const QString& hint);
    // Puts a taken value in the box, ready to be overwritten and set.
    void ShowValue(const QString& text);
    // Set: `send` reads the box and sends; false is "Illegal data".
    void Finish(const std::function<bool()>& send);
    virtual void SetClick() = 0;

    SendHandler OnSend;

private:
    void CancelClick();

    QVBoxLayout* body_ = nullptr;
    QPushButton* set_ = nullptr;
    QPushButton* cancel_ = nullptr;
    ErrorHandler onError_;
};

// Message position k of an answer, 0 past its end.
inline std::uint8_t AnswerByte(tervix::ByteView message, std::size_t k)
{
    return k < message.size() ? message[k] : 0;
}
// Four positions from `first`, low byte first.
inline std::uint32_t AnswerU32(tervix::ByteView message, std::size_t first)
{
    std::uint32_t v = 0;
    for (std::size_t i = 0; i < 4; ++i)
        v |= std::uint32_t(AnswerByte(message, first + i)) << (8 * i);
    return v;
}
