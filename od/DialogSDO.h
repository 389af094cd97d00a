// The SDO dialog: one object of the unit's dictionary, picked in the object
// tree. It shows the section's lines, every SDO frame seen while it is
// visible and, below them, how each of its reads and writes ended; under the
// value box, what a typed number means. The requests its buttons ask for are
// queued by the handler the main window registers.
#pragma once

#include "eds_reader.h"
#include "frame_packet.h"

#include <QWidget>

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

class TDialogFormSDO : public QWidget {
    Q_OBJECT
public:
    // Called with the button that asks for a request; its tag names the request.
    using RequestHandler = std::function<void(QPushButton* button)>;

    // The memo shows at most this many characters of a line, then a mark
    // saying how many more there are: laying out a line of a megabyte
    // stalls the dialog for a minute.
    static constexpr int kMemoLineLimit = 4000;

    explicit TDialogFormSDO(QWidget* parent = nullptr);

    void SetRequestHandler(RequestHandler handler);
    // Opens the dialog for a section and asks the unit for the object's structure.
    void ShowNode(const tervix::EDSNode& node);
    // Shows one received SDO frame: `message` is the packet as received, marker first.
    void ShowAnswer(tervix::ByteView message);
    // Adds the line of a finished read or write (SdoResultText), while visible.
    void ShowResult(std::string_view line);
    // Close hides the dialog; the other buttons go to the request handler.
    void ButtonClick(QPushButton* button);

    // The request kind a button asks for (tervix::SdoRequestTag).
    static int Tag(const QPushButton* button);

    std::uint16_t Index() const { return index_; }
    std::uint16_t SubIndex() const { return subIndex_; }
    std::array<std::uint8_t, 3> Multiplexer() const;
    std::uint8_t ObjectType() const { return objectType_; }
    std::uint8_t DataType() const { return dataType_; }
    std::string_view ObjectTypeName() const;
    std::string_view DataTypeName() const;

    QPushButton* InfoButton() const { return btInfo; }
    QLineEdit* ValueBox() const { return edbxSDOvalue; }
    QLabel* ValueHint() const { return lbSDOhint; }
    // Whether the value box holds what was typed rather than a frame's bytes.
    bool ValueTyped() const { return typed_; }
    QPlainTextEdit* Memo() const { return Memo1; }

private:
    QPushButton* MakeButton(const char* name, const QString& text, int left, int tag);
    void UpdateHint();

    RequestHandler OnRequest;
    std::uint16_t subIndex_ = 0;
    std::uint16_t index_ = 0;
    std::uint8_t objectType_ = 0;
    std::uint8_t dataType_ = 0;
    std::string lowLimit_, highLimit_;
    bool typed_ = false; // the value box holds what was typed, not a frame

    QPushButton* btInfo = nullptr;
    QPushButton* btRead = nullptr;
    QPushButton* btSet = nullptr;
    QPushButton* btClose = nullptr;
    QLabel* lbSDOvalue = nullptr;
    QLineEdit* edbxSDOvalue = nullptr;
    QLabel* lbSDOhint = nullptr;
    QPlainTextEdit* Memo1 = nullptr;
};

// A memo line of UTF-8 text, at most kMemoLineLimit characters and a mark
// saying how many more there were (the object tree's memo uses it too).
QString MemoLine(std::string_view line);
