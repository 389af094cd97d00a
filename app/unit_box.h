// One of the 64 value boxes of the "CAN Data" page.
#pragma once

#include <QFrame>

#include <cstdint>

class QLabel;
class QMenu;
class QLineEdit;

class TUnitBox : public QFrame {
    Q_OBJECT
public:
    static const QColor kSelectedColour;  // light blue marks the selected unit

    TUnitBox(int number, QWidget* parent);

    int Number() const { return number_; }
    QLabel* NumberPanel() const { return numberPanel_; }
    QLabel* TitleLabel() const { return titleLabel_; }
    QLineEdit* ValueEdit() const { return valueEdit_; }
    QLineEdit* StatusEdit() const { return statusEdit_; }

    void SetMarked(bool marked);
    bool Marked() const { return marked_; }
    // Greys the texts of a unit that stopped sending; the tooltip says for
    // how long (empty while it sends).
    void SetStale(bool stale, const QString& tooltip);
    bool Stale() const { return stale_; }

    // Places the box in the 8 x 8 grid of a page of the given client size.
    static QRect GridRect(int number, QSize page);

signals:
    void clicked(TUnitBox* box);
    // "Trend of unit N" in the box's context menu.
    void trendRequested(int number);

protected:
    void resizeEvent(QResizeEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    // The menu of a right click on the box, or on one of its texts (whose own
    // copy actions come first).
    void ShowMenu(QMenu& menu, const QPoint& globalPos);

    int number_;
    bool marked_ = false;
    bool stale_ = false;
    QLabel* numberPanel_;
    QLabel* titleLabel_;
    QLineEdit* valueEdit_;
    QLineEdit* statusEdit_;
};
